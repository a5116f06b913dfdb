// The event path from producer to patch: events written into a command
// buffer, drained at the top of a block and executed against the player and
// the open Sine patch. No signal has a receiver here, so the cost of Qt's
// queued delivery (paid by the GUI's connections) is not included.
//
// Targets: >= 5 million non-note events a second; a note toggle with all
// 128 voices busy <= 2 us.

#include "BenchSupport.h"
#include "LatticeNoteEvent.h"

#include <QFileInfo>
#include <cstdio>

using namespace BenchSupport;

namespace {

constexpr int batch = 1000;
constexpr int batchesPerRun = 2000;
constexpr int runs = 7;
constexpr int toggleRounds = 80;

// Every non-note kind except opening and closing patches, with values that
// keep the state bounded (the transposition goes up and down again).
std::vector<LatticeEvent> nonNoteEvents(bool withPdMessages)
{
    std::vector<LatticeEvent> kinds{
        {LatticeEvent::Transpose, 3.0f},          {LatticeEvent::Transpose, -3.0f},
        {LatticeEvent::VoiceVolumeStep, 0.0f},    {LatticeEvent::VoiceVolumeSet, 0.9f},
        {LatticeEvent::MonophonicSet, 0.0f},      {LatticeEvent::PatchStep, 0.0f},
        {LatticeEvent::BaseFrequencySet, 440.0f}, {LatticeEvent::PrimeToggle, 2.0f}};
    if (withPdMessages) {
        kinds.emplace_back(LatticeEvent::MasterVolumeSet, 0.75f);
        kinds.emplace_back(LatticeEvent::MasterVolumeStep, 0.0f);
        for (int macro = 0; macro < 8; ++macro)
            kinds.emplace_back(LatticeEvent::Macro1 + macro, 0.5f);
    }
    std::vector<LatticeEvent> events;
    for (int i = 0; i < batch; ++i)
        events.push_back(kinds[std::size_t(i) % kinds.size()]);
    return events;
}

double eventsPerSecond(PdPlayer& player, const std::vector<LatticeEvent>& events,
                       int batches = batchesPerRun)
{
    std::vector<double> rates;
    for (int run = 0; run < runs; ++run) {
        const double start = nowUs();
        for (int b = 0; b < batches; ++b) {
            for (const LatticeEvent& event : events)
                player.queueEventGui(&event);
            player.processCommandBuffers();
        }
        rates.push_back(double(batch) * batches / ((nowUs() - start) * 1e-6));
    }
    return median(rates);
}

// Fills every voice, then toggles: a note that is not sounding steals the
// oldest voice, one that is sounding is released. Prints medians.
void measureToggles(PdPlayer& player, const char* patchName)
{
    // Back to the starting state the event runs above may have left.
    const LatticeEvent untranspose(LatticeEvent::Transpose, 0.0f);
    const LatticeEvent poly(LatticeEvent::MonophonicSet, 0.0f);
    player.queueEventGui(&untranspose);
    player.queueEventGui(&poly);
    // Two sets of 128 notes take turns: each note of one set steals a voice
    // of the other, then is released again; every voice stays busy.
    const QList<LatticePath> paths = distinctPaths(2 * PdPlayer::voiceCount);
    std::vector<float> buffer(2 * blockFrames);
    const auto toggleSet = [&](int set, std::vector<double>* times) {
        for (int i = 0; i < PdPlayer::voiceCount; ++i) {
            const LatticeNoteEvent event(paths[set * PdPlayer::voiceCount + i]);
            const double start = nowUs();
            player.queueEventGui(&event);
            player.processCommandBuffers();
            if (times)
                times->push_back(nowUs() - start);
        }
    };
    toggleSet(0, nullptr);
    player.processBlock(buffer.data(), blockFrames, false);
    std::vector<double> on, off;
    int fewestSounding = PdPlayer::voiceCount;
    for (int round = 1; round <= toggleRounds; ++round) {
        toggleSet(round % 2, &on);
        int sounding = 0;
        for (int i = 0; i < PdPlayer::voiceCount; ++i)
            sounding += player.voiceSlot(i).isFree() || player.voiceSlot(i).released ? 0 : 1;
        fewestSounding = std::min(fewestSounding, sounding);
        toggleSet(round % 2, &off);
        // Let the patch's envelopes move on, as blocks would between clicks.
        player.processBlock(buffer.data(), blockFrames, false);
    }
    std::printf("%-10s note on, stealing:    median %.2f us over %zu\n", patchName, median(on),
                on.size());
    std::printf("%-10s note off, 128 busy:   median %.2f us over %zu\n", patchName, median(off),
                off.size());
    std::printf("%-10s sounding before the offs: at least %d of %d\n", patchName, fewestSounding,
                PdPlayer::voiceCount);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    quietLogging();
    QTemporaryDir folder;
    const QString main = prepareRuntimeFolder(folder, patchesFolder() + "/Sine.pd");
    PdPlayer player;
    if (main.isEmpty() || !player.init())
        return 1;
    player.initAudio(2, sampleRate);
    if (!player.loadPatch(QFileInfo(main)))
        return 1;

    std::printf("non-note events without Pd messages:  %7.3f million/s\n",
                eventsPerSecond(player, nonNoteEvents(false)) / 1e6);
    std::printf("all non-note kinds, Pd messages incl.: %7.3f million/s\n",
                eventsPerSecond(player, nonNoteEvents(true), 20) / 1e6);
    for (const LatticeEvent& kind : {LatticeEvent(LatticeEvent::MasterVolumeSet, 0.75f),
                                     LatticeEvent(LatticeEvent::Macro1, 0.5f)}) {
        const std::vector<LatticeEvent> same(batch, kind);
        std::printf("only kind %2d:                          %7.3f million/s\n", kind.type(),
                    eventsPerSecond(player, same, 20) / 1e6);
    }

    measureToggles(player, "Sine");

    // The same toggles against a patch whose receivers do nothing: what is
    // left is the player's own share.
    const QString nullPatch = folder.filePath("null_main.pd");
    QFile file(nullPatch);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write("#N canvas 0 0 400 300 12;\n#X obj 10 10 r lattice-in;\n"
                   "#X obj 10 40 r master-vol;\n#X obj 10 70 r query-macros;\n") < 0)
        return 1;
    file.close();
    if (!player.loadPatch(QFileInfo(nullPatch)))
        return 1;
    measureToggles(player, "null patch");
    player.term();
    return 0;
}
