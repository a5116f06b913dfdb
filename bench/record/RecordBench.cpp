// What recording costs the audio callback, and a long take on a real device.
//
// - cost: Sine with 16 notes sounding, blocks paced like a 256-frame period
//   at 44.1 kHz; the median time of PdPlayer::processBlock with a take going
//   (its writer thread writing to disk) against without, in alternating
//   runs, as a share of the block's 5.805 ms (target <= 0.2 %);
// - take: the same player on PortAudio's default output (run.sh gives it a
//   JACK server on the dummy backend) recording for some minutes: the
//   callbacks flagged as underflows (target 0), frames lost to a full ring
//   (target 0) and the take's length against the time it ran; and, as the
//   machine's floor, the underflows of as long a time just before, playing
//   the same with no take.
//
//   record_bench [minutes]     (default 10; inside scripts/jack-test-server.sh run)
#include "BenchSupport.h"
#include "LatticeNoteEvent.h"
#include "PaAudioOutput.h"
#include "PerformanceRecorder.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <thread>

using namespace BenchSupport;

namespace {

bool report(const char* what, double value, double target, const char* unit)
{
    const bool met = value <= target;
    std::printf("  %-52s %10.4f %s (target <= %.4f) %s\n", what, value, unit, target,
                met ? "met" : "MISSED");
    return met;
}

bool playChord(PdPlayer& player, const QTemporaryDir& folder)
{
    const QString main = prepareRuntimeFolder(folder, patchesFolder() + "/Sine.pd");
    if (main.isEmpty() || !player.loadPatch(QFileInfo(main)))
        return false;
    for (const LatticePath& path : distinctPaths(16)) {
        const LatticeNoteEvent note(path);
        player.queueEventGui(&note);
    }
    return true;
}

bool measureCost(const QString& takes)
{
    QTemporaryDir folder;
    PdPlayer player;
    if (!player.init())
        return false;
    player.initAudio(2, sampleRate);
    if (!playChord(player, folder))
        return false;
    PerformanceRecorder recorder(&player);
    std::vector<float> block(2 * blockFrames);
    std::vector<double> plain, recording;
    const auto period = std::chrono::nanoseconds(1000000000LL * blockFrames / sampleRate);
    // Ten rounds of two seconds each way.
    for (int round = 0; round < 20; ++round) {
        const bool on = round % 2 == 1;
        if (on && !recorder.start(takes, sampleRate, "Sine"))
            return false;
        auto next = std::chrono::steady_clock::now();
        for (int i = 0; i < 2 * sampleRate / blockFrames; ++i) {
            const double start = nowUs();
            player.processBlock(block.data(), blockFrames, false);
            (on ? recording : plain).push_back(nowUs() - start);
            next += period;
            std::this_thread::sleep_until(next);
        }
        if (on) {
            recorder.stop();
            player.processBlock(block.data(), blockFrames, false); // ends the take
            recorder.stopAndWait();
        }
    }
    const double cost = median(recording) - median(plain);
    std::printf("Recording's cost in the callback (16 Sine notes; medians of %zu blocks each "
                "way)\n",
                plain.size());
    std::printf("  %-52s %10.2f us\n", "a block without a take", median(plain));
    std::printf("  %-52s %10.2f us\n", "a block with a take", median(recording));
    return report("the take's share of a block", 100.0 * cost / blockBudgetUs, 0.2, "%");
}

bool recordOnDevice(const QString& takes, int minutes)
{
    QTemporaryDir folder;
    PdPlayer player;
    PaAudioOutput output;
    player.setAudioOutput(&output);
    if (!player.init() || !output.init(blockFrames, -1, &player) || !playChord(player, folder)) {
        std::fprintf(stderr, "no audio device, or the patch did not open\n");
        return false;
    }
    PerformanceRecorder recorder(&player);
    std::this_thread::sleep_for(std::chrono::seconds(1)); // the chord's first blocks
    // The machine's floor: as long without a take, the same chord playing.
    output.resetCallbackStatistics();
    std::this_thread::sleep_for(std::chrono::minutes(minutes));
    const std::int64_t floorUnderflows = output.callbackStatistics().underflowCount;
    output.resetCallbackStatistics();
    if (!recorder.start(takes, PaAudioOutput::sampleRate, "Sine"))
        return false;
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::minutes(minutes));
    recorder.stop();
    recorder.stopAndWait();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const PaAudioOutput::CallbackStatistics statistics = output.callbackStatistics();
    const qint64 frames = recorder.framesWritten();
    const qint64 lost = recorder.tap().droppedFrames();
    player.term();
    output.term();
    std::printf("A take of %d minutes on the device (%lld callbacks)\n", minutes,
                static_cast<long long>(statistics.callbackCount));
    std::printf("  %-52s %10lld\n", "underflows in as long before, with no take",
                static_cast<long long>(floorUnderflows));
    std::printf("  %-52s %10.2f s of %.2f s\n", "sound in the WAV file",
                double(frames) / PaAudioOutput::sampleRate, seconds);
    bool met = report("underflows", double(statistics.underflowCount), 0, "");
    met = report("frames lost to a full ring", double(lost), 0, "") && met;
    // The take runs from the block after start() to the block after stop().
    return report(
               "frames short of the time it ran, in blocks",
               std::max(0.0,
                        (seconds * PaAudioOutput::sampleRate - double(frames)) / blockFrames - 2.0),
               2.0, "") &&
           met;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    quietLogging();
    const int minutes = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 10;
    QTemporaryDir takes;
    bool met = measureCost(takes.filePath("cost"));
    met = recordOnDevice(takes.filePath("take"), minutes) && met;
    return met ? 0 : 1;
}
