// The audio callback under load on a real device: the shipped main patch
// with Sine.pd plays 128 voices on PortAudio's default output (a JACK server
// on the dummy backend when run through run.sh) while two producer threads,
// standing in for the GUI and the controller, send 1000 events a second
// between them. Reports the callbacks PortAudio flagged with an output
// underflow (target 0), the longest callback (target below half the budget
// of 256 frames at 44.1 kHz, 5.805 ms) and the histogram of durations.
// The measured window starts one second after all 128 voices sound, with
// the load already running: the patch is opened and the chord struck inside
// the stream's first callbacks, and JACK reports that long block as an xrun
// one or two callbacks later.
//
// Usage: audio_callback_bench [seconds]   (default 60)
// Exit status 0 when both targets are met, 1 when not, 2 when it cannot run.

#include "LatticeEvent.h"
#include "LatticeNoteEvent.h"
#include "LatticePath.h"
#include "PaAudioOutput.h"
#include "PdPlayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int sustainedVoices = 128;
constexpr int eventsPerSecondPerProducer = 500;
constexpr int settleMilliseconds = 1000;

std::atomic<int> bufferFullWarnings{0};

// Counts full command buffers and keeps the player's traces off the console;
// warnings and errors are still shown.
void messageHandler(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (text == QLatin1String("Command buffer full"))
        bufferFullWarnings.fetch_add(1, std::memory_order_relaxed);
    else if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

// Copies the shell patches and Sine.pd into `folder` the way the program
// fills its runtime patch folder.
bool preparePatchFolder(const QString& folder)
{
    const QString shipped = QCoreApplication::applicationDirPath() + QStringLiteral("/patches/");
    for (const char* name : {"lattice_main.pd", "lattice_vprep.pd", "equal-loudness.pd",
                             "tb_compressor~.pd", "tb_compressorUI.pd"})
        if (!QFile::copy(shipped + QStringLiteral("shell/") + QLatin1String(name),
                         folder + QLatin1Char('/') + QLatin1String(name)))
            return false;
    return QFile::copy(shipped + QStringLiteral("Sine.pd"),
                       folder + QStringLiteral("/lattice_voice.pd"));
}

// Paths to distinct ratios between 40 Hz and 4 kHz above 440 Hz, from the
// root outwards.
std::vector<LatticePath> distinctPaths(int count)
{
    const int steps[] = {2, -2, 3, -3, 5, -5, 7, -7, 11, -11, 13, -13};
    std::vector<LatticePath> paths;
    QSet<LatticeRatio> seen;
    std::vector<LatticePath> frontier{LatticePath()};
    while (int(paths.size()) < count && !frontier.empty()) {
        std::vector<LatticePath> next;
        for (const LatticePath& path : frontier) {
            const std::optional<LatticeRatio> ratio = path.ratio();
            const double frequency = ratio ? ratio->toDouble() * 440.0 : 0.0;
            if (ratio && frequency > 40.0 && frequency < 4000.0 && !seen.contains(*ratio)) {
                seen.insert(*ratio);
                paths.push_back(path);
                if (int(paths.size()) == count)
                    break;
            }
            for (int step : steps) {
                LatticePath longer = path;
                longer.append(step);
                next.push_back(longer);
            }
        }
        frontier.swap(next);
    }
    return paths;
}

// Calls `send(n)` for n = 0, 1, 2, ... at an even rate until `stop` is set.
template <typename Send>
std::thread producer(const std::atomic<bool>& stop, std::atomic<long>& sent, Send send)
{
    return std::thread([&stop, &sent, send] {
        using Clock = std::chrono::steady_clock;
        const auto interval = std::chrono::microseconds(1'000'000 / eventsPerSecondPerProducer);
        auto due = Clock::now();
        for (long n = 0; !stop.load(std::memory_order_relaxed); ++n) {
            send(n);
            sent.fetch_add(1, std::memory_order_relaxed);
            due += interval;
            std::this_thread::sleep_until(due);
        }
    });
}

// The two producers: the screen (volume and macro sliders; every macro
// reaches all 128 voices) and the controller (notes struck again, and the
// voice volume).
class Load
{
public:
    void start(PdPlayer& player, const std::vector<LatticePath>& paths)
    {
        threads_.push_back(producer(stop_, guiSent_, [&player](long n) {
            const float value = float(n % 100) / 100.0f;
            const LatticeEvent event(n % 9 == 0 ? int(LatticeEvent::MasterVolumeSet)
                                                : int(LatticeEvent::Macro1) + int(n % 9) - 1,
                                     n % 9 == 0 ? 0.5f + value * 0.3f : value);
            player.queueEventGui(&event);
        }));
        threads_.push_back(producer(stop_, serialSent_, [&player, &paths](long n) {
            if (n % 4 == 3) {
                const LatticeEvent event(LatticeEvent::VoiceVolumeSet, 0.8f);
                player.queueEventSerial(&event);
                return;
            }
            // Each path is toggled twice in a row, the oldest first: the
            // note is released and struck again on the voice it frees.
            const long toggle = n / 4 * 3 + n % 4;
            const LatticeNoteEvent note(paths[std::size_t(toggle / 2 % sustainedVoices)]);
            player.queueEventSerial(&note);
        }));
    }
    void stop()
    {
        stop_.store(true);
        for (std::thread& thread : threads_)
            thread.join();
        threads_.clear();
    }
    // The counts below run from here.
    void startWindow()
    {
        guiBefore_ = guiSent_.load();
        serialBefore_ = serialSent_.load();
    }
    long guiSent() const { return guiSent_.load() - guiBefore_; }
    long serialSent() const { return serialSent_.load() - serialBefore_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<long> guiSent_{0};
    std::atomic<long> serialSent_{0};
    long guiBefore_ = 0;
    long serialBefore_ = 0;
    std::vector<std::thread> threads_;
};

void printHistogram(const PaAudioOutput::CallbackStatistics& statistics)
{
    std::printf("callback durations, per cent of the budget:\n");
    int lower = 0;
    std::int64_t below = 0;
    for (int bucket = 0; bucket < PaAudioOutput::histogramBucketCount; ++bucket) {
        const std::int64_t count = statistics.histogram[std::size_t(bucket)];
        if (bucket < int(PaAudioOutput::histogramLimits.size())) {
            const int upper = PaAudioOutput::histogramLimits[std::size_t(bucket)];
            std::printf("  %3d..%3d %%: %10lld", lower, upper, static_cast<long long>(count));
            lower = upper;
        } else {
            std::printf("     >=%3d %%: %10lld", lower, static_cast<long long>(count));
        }
        const bool holdsMedian =
            below * 2 < statistics.callbackCount && (below + count) * 2 >= statistics.callbackCount;
        std::printf("%s\n", holdsMedian ? "  <- median" : "");
        below += count;
    }
}

// Prints the figures; true when both targets are met.
bool report(const PaAudioOutput::CallbackStatistics& statistics, int seconds, const Load& load,
            int fewestSounding)
{
    const double budgetMs = 256 * 1000.0 / PaAudioOutput::sampleRate;
    const double longestMs = double(statistics.longestNanoseconds) / 1e6;
    const bool underflowsMet = statistics.underflowCount == 0;
    const bool longestMet = longestMs < budgetMs / 2;
    std::printf("duration: %d s, callbacks: %lld (%.0f per second)\n", seconds,
                static_cast<long long>(statistics.callbackCount),
                double(statistics.callbackCount) / seconds);
    std::printf("events sent: gui %ld, serial %ld (%.0f per second); command buffer full: %d\n",
                load.guiSent(), load.serialSent(),
                double(load.guiSent() + load.serialSent()) / seconds, bufferFullWarnings.load());
    std::printf("voices sounding: fewest %d once all %d were on\n", fewestSounding,
                sustainedVoices);
    std::printf("underflows: %lld (target 0) %s\n",
                static_cast<long long>(statistics.underflowCount),
                underflowsMet ? "met" : "MISSED");
    std::printf("longest callback: %.3f ms = %.1f %% of %.3f ms (target < 50 %%) %s\n", longestMs,
                100.0 * longestMs / budgetMs, budgetMs, longestMet ? "met" : "MISSED");
    const double longestCpuMs = double(statistics.longestCpuNanoseconds) / 1e6;
    std::printf("most processor time in one callback: %.3f ms = %.1f %% of the budget\n",
                longestCpuMs, 100.0 * longestCpuMs / budgetMs);
    if (statistics.callbackCount > 0)
        std::printf("mean callback: %.3f ms = %.1f %% of the budget\n",
                    double(statistics.totalNanoseconds) / 1e6 / double(statistics.callbackCount),
                    100.0 * double(statistics.totalNanoseconds) / 1e6 /
                        double(statistics.callbackCount) / budgetMs);
    printHistogram(statistics);
    return underflowsMet && longestMet;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 60;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: %s [seconds]\n", argv[0]);
        return 2;
    }
    qInstallMessageHandler(&messageHandler);

    QTemporaryDir folder;
    const std::vector<LatticePath> paths = distinctPaths(sustainedVoices);
    if (!folder.isValid() || !preparePatchFolder(folder.path()) ||
        int(paths.size()) < sustainedVoices) {
        std::fprintf(stderr, "cannot prepare the patch folder from the shipped patches\n");
        return 2;
    }
    PdPlayer player;
    PaAudioOutput output;
    player.setAudioOutput(&output);
    if (!player.init() || !output.init(256, -1, &player)) {
        std::fprintf(stderr, "no audio device could be opened\n");
        return 2;
    }
    std::printf("device: %s\n", qPrintable(output.devices().value(output.selectedDevice())));
    if (!player.loadPatch(QFileInfo(folder.filePath(QStringLiteral("lattice_main.pd"))))) {
        std::fprintf(stderr, "the main patch did not open\n");
        return 2;
    }

    // The player's signals reach this thread queued, as they reach the
    // lattice model and the widgets in the program. The load starts once all
    // sustained notes are seen on; the measured window a second later.
    Load load;
    int sounding = 0;
    int fewestSounding = sustainedVoices;
    bool sustained = false;
    QObject::connect(
        &player, &PdPlayer::noteToggled, &app,
        [&](const LatticeRatio&, bool on) {
            sounding += on ? 1 : -1;
            if (!sustained && sounding == sustainedVoices) {
                sustained = true;
                load.start(player, paths);
                QTimer::singleShot(settleMilliseconds, Qt::PreciseTimer, &app, [&] {
                    output.resetCallbackStatistics();
                    load.startWindow();
                    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &app,
                                       &QCoreApplication::quit);
                });
            }
            if (sustained)
                fewestSounding = std::min(fewestSounding, sounding);
        },
        Qt::QueuedConnection);
    QObject::connect(
        &player, &PdPlayer::macroValueChanged, &app, [] {}, Qt::QueuedConnection);
    QObject::connect(
        &player, &PdPlayer::volumeChanged, &app, [] {}, Qt::QueuedConnection);
    QTimer::singleShot(10000, &app, [&] {
        if (!sustained)
            app.exit(2);
    });
    for (int i = 0; i < sustainedVoices; ++i) {
        const LatticeNoteEvent note(paths[std::size_t(i)]);
        player.queueEventGui(&note);
    }

    const bool ran = app.exec() == 0;
    load.stop();
    const PaAudioOutput::CallbackStatistics statistics = output.callbackStatistics();
    player.term();
    output.term();
    if (!ran) {
        std::fprintf(stderr, "the %d notes did not all start\n", sustainedVoices);
        return 2;
    }
    return report(statistics, seconds, load, fewestSounding) ? 0 : 1;
}
