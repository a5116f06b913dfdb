// Render cost of the shipped voices through PdPlayer::processBlock, the path
// every audio callback takes, per 256-frame block (5.805 ms at 44.1 kHz).
// For every voice and 0, 16, 64 and 128 sounding notes it prints the median
// and the worst block, as microseconds and as a share of the budget, and
// the block in which 128 notes start at once: on a patch just opened
// ("start"), and on one that has played 128 other notes and then idled for
// two seconds ("restart"), when the voices' objects have left the caches.
// An argument limits the run to the voices whose path contains it; run.sh
// runs each voice in a process of its own, as the start figures depend on
// what the process opened and closed before.
//
// Targets: idle <= 0.5 %, 128 Sine <= 4 %, 128 of any other voice <= 15 %,
// the block that starts 128 notes <= 30 %.

#include "BenchSupport.h"
#include "LatticeNoteEvent.h"

#include <QFileInfo>
#include <cstdio>
#include <memory>

using namespace BenchSupport;

namespace {

constexpr int measuredBlocks = 1000;
constexpr int warmupBlocks = 50;
constexpr int startRepeats = 9;
constexpr int restartRepeats = 6;
// Two seconds of blocks: long enough for every release to end.
constexpr int idleBlocks = 2 * sampleRate / blockFrames;

// A player with its runtime folder. The patch is closed before the player
// goes: libpd outlives players, and an open patch would go on computing.
struct Player
{
    ~Player() { player.term(); }

    QTemporaryDir folder;
    PdPlayer player;
};

std::unique_ptr<Player> openVoice(const QString& voice)
{
    auto result = std::make_unique<Player>();
    const QString main = prepareRuntimeFolder(result->folder, voice);
    QList<float> defaults;
    QObject::connect(&result->player, &PdPlayer::macroDefaultsReceived,
                     [&defaults](const QList<float>& values) { defaults = values; });
    if (main.isEmpty() || !result->player.init())
        return nullptr;
    result->player.initAudio(2, sampleRate);
    if (!result->player.loadPatch(QFileInfo(main)))
        return nullptr;
    for (int i = 0; i < defaults.size() && i < 8; ++i) {
        if (defaults[i] > -0.5f) {
            const LatticeEvent macro(LatticeEvent::Macro1 + i, defaults[i]);
            result->player.queueEventGui(&macro);
        }
    }
    const LatticeEvent volume(LatticeEvent::MasterVolumeSet, 0.75f);
    result->player.queueEventGui(&volume);
    return result;
}

// Toggles `count` notes; `offset` picks another set of paths.
void queueNotes(PdPlayer& player, int count, int offset = 0)
{
    const QList<LatticePath> paths = distinctPaths(offset + count);
    for (int i = offset; i < paths.size(); ++i) {
        const LatticeNoteEvent event(paths[i]);
        player.queueEventGui(&event);
    }
}

double timeBlock(PdPlayer& player, std::vector<float>& buffer)
{
    const double start = nowUs();
    player.processBlock(buffer.data(), blockFrames, false);
    return nowUs() - start;
}

double percent(double microseconds)
{
    return 100.0 * microseconds / blockBudgetUs;
}

void printStart(const QString& name, const char* what, const std::vector<double>& starts,
                const std::vector<double>& events)
{
    const double worst = *std::max_element(starts.begin(), starts.end());
    std::printf("%-14s %7s %11.1f %8.2f%% %12.1f %8.2f%%   (block starting 128 notes, %zu runs; "
                "events %.0f us)\n",
                qPrintable(name), what, median(starts), percent(median(starts)), worst,
                percent(worst), starts.size(), median(events));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    quietLogging();
    QStringList voices = shippedVoices();
    if (argc > 1)
        voices = voices.filter(QString::fromLocal8Bit(argv[1]));
    if (voices.isEmpty()) {
        std::fprintf(stderr, "no voice patches in %s\n", qPrintable(patchesFolder()));
        return 1;
    }
    std::vector<float> buffer(2 * blockFrames);
    std::printf("budget per block: %.1f us\n", blockBudgetUs);
    std::printf("%-14s %6s %12s %9s %12s %9s\n", "voice", "notes", "median us", "median%",
                "worst us", "worst%");
    for (const QString& voice : voices) {
        const QString name = QFileInfo(voice).completeBaseName();
        for (int count : {0, 16, 64, 128}) {
            auto player = openVoice(voice);
            if (!player) {
                std::fprintf(stderr, "%s did not open\n", qPrintable(name));
                return 1;
            }
            queueNotes(player->player, count);
            for (int i = 0; i < warmupBlocks; ++i)
                timeBlock(player->player, buffer);
            std::vector<double> times;
            for (int i = 0; i < measuredBlocks; ++i)
                times.push_back(timeBlock(player->player, buffer));
            const double worst = *std::max_element(times.begin(), times.end());
            std::printf("%-14s %6d %12.1f %8.2f%% %12.1f %8.2f%%\n", qPrintable(name), count,
                        median(times), percent(median(times)), worst, percent(worst));
        }
        // The block in which 128 notes start, and the part of it spent
        // executing the 128 note events (the rest is the patch's DSP).
        std::vector<double> starts, events;
        for (int repeat = 0; repeat < startRepeats; ++repeat) {
            auto player = openVoice(voice);
            timeBlock(player->player, buffer); // settings and macros
            queueNotes(player->player, PdPlayer::voiceCount);
            const double start = nowUs();
            player->player.processCommandBuffers();
            events.push_back(nowUs() - start);
            starts.push_back(events.back() + timeBlock(player->player, buffer));
        }
        printStart(name, "start", starts, events);
        // The same on a patch that has played: 128 notes held, released,
        // two seconds of silence, then 128 other notes at once.
        starts.clear();
        events.clear();
        auto player = openVoice(voice);
        for (int repeat = 0; repeat <= restartRepeats; ++repeat) {
            const int offset = (repeat % 2) * PdPlayer::voiceCount;
            queueNotes(player->player, PdPlayer::voiceCount, offset);
            const double start = nowUs();
            player->player.processCommandBuffers();
            const double eventTime = nowUs() - start;
            const double blockTime = eventTime + timeBlock(player->player, buffer);
            if (repeat > 0) { // the first chord is the one above
                events.push_back(eventTime);
                starts.push_back(blockTime);
            }
            for (int i = 0; i < warmupBlocks; ++i)
                timeBlock(player->player, buffer);
            queueNotes(player->player, PdPlayer::voiceCount, offset);
            for (int i = 0; i < idleBlocks; ++i)
                timeBlock(player->player, buffer);
        }
        printStart(name, "restart", starts, events);
        std::fflush(stdout);
    }
    return 0;
}
