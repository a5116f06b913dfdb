// window_bench: the instrument as its player meets it, timed from outside on
// an X display with a window manager and a JACK server (run.sh provides both):
//
//   - cold start: from starting the program's process to the first painted
//     frame of its main window, with the default data files in place (a
//     first, unmeasured run creates them); target <= 1000 ms;
//   - resident memory once the started program has settled, not counting
//     the JACK server's shared memory that every JACK client maps (see
//     residentKiB); target <= 150 MiB;
//   - a patch change from the menu: from the Return that picks the entry in
//     the open menu to the new voice sounding, the root ball being clicked
//     right after the Return, as a player would; target <= 250 ms. The
//     program is played through the X server (xdotool) and heard through a
//     JACK client of the benchmark's own, whose cycle times put each
//     recorded sample on the same clock as the window probe's marks.
//
//   window_bench [--runs N] [--changes M]     (defaults: 7 starts, 8 changes)
//
// Medians, with the spread. Exit status: 0 every target met, 1 a target
// missed, 2 the benchmark could not run.

#include "ProgramRun.h"
#include "ProgramWindow.h"
#include "ToneAnalysis.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <jack/jack.h>
#include <memory>
#include <optional>
#include <signal.h>
#include <vector>

namespace {

constexpr double startTargetMs = 1000.0;
constexpr double memoryTargetMiB = 150.0;
constexpr double patchChangeTargetMs = 250.0;

qint64 nowNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Figures
{
    std::vector<double> values;
    void add(double value) { values.push_back(value); }
    double median() const
    {
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t n = sorted.size();
        return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
    }
    double min() const { return *std::min_element(values.begin(), values.end()); }
    double max() const { return *std::max_element(values.begin(), values.end()); }
};

bool report(const char* what, const Figures& figures, const char* unit, double target)
{
    const bool met = figures.median() <= target;
    std::printf("%-34s median %7.1f %s (min %.1f, max %.1f, %zu runs), target <= %.0f %s: %s\n",
                what, figures.median(), unit, figures.min(), figures.max(), figures.values.size(),
                target, unit, met ? "met" : "MISSED");
    return met;
}

// Resident memory of a process in KiB (from /proc/PID/smaps): all of it,
// and the part that is JACK's shared memory. Every JACK client maps the
// server's segment (about 100 MiB with jackd's defaults) and locks it; it
// belongs to the sound server, as a sound card's buffers belong to its
// driver, and is counted apart. Both -1 when the process is gone.
struct Resident
{
    long all = -1;
    long jackShared = 0;
    long own() const { return all - jackShared; }
};

Resident residentKiB(qint64 pid)
{
    QFile smaps(QStringLiteral("/proc/%1/smaps").arg(pid));
    Resident resident;
    if (!smaps.open(QIODevice::ReadOnly))
        return resident;
    resident.all = 0;
    bool inJack = false;
    for (const QByteArray& line : smaps.readAll().split('\n')) {
        // A mapping's first line is "START-END PERMS OFFSET DEVICE INODE
        // [PATH]", its fields "Name: VALUE kB".
        const QByteArray first = line.left(line.indexOf(' '));
        if (first == "Rss:") {
            const long kib = line.mid(4).trimmed().split(' ').value(0).toLong();
            resident.all += kib;
            if (inJack)
                resident.jackShared += kib;
        } else if (!first.endsWith(':')) {
            inJack = line.contains(" /dev/shm/jack");
        }
    }
    return resident;
}

// The program with the probe, its data in dataFolder, started.
struct Started
{
    std::unique_ptr<ProgramRun> run;
    std::unique_ptr<ProgramWindow> window;
    qint64 startedAt = 0;
};

Started start(const QString& dataFolder, const QByteArray& options = QByteArray())
{
    Started started;
    started.run = std::make_unique<ProgramRun>();
    started.run->environment().insert(QStringLiteral("XDG_DATA_HOME"), dataFolder);
    if (!options.isEmpty())
        started.run->writeDataFile(QStringLiteral("options.json"), options);
    started.window = std::make_unique<ProgramWindow>(*started.run);
    started.startedAt = nowNanoseconds();
    started.run->start();
    return started;
}

bool stop(Started& started)
{
    return started.run->sendSignal(SIGTERM) && started.run->waitForExit() &&
           started.run->exitStatus() == 0;
}

enum Outcome
{
    Met = 0,
    Missed = 1,
    CouldNotRun = 2,
};

Outcome outcome(bool met)
{
    return met ? Met : Missed;
}

Outcome measureStarts(int runs)
{
    QTemporaryDir data;
    {
        // Creates the default files.
        Started first = start(data.path());
        if (!first.window->waitFor([](const WindowReport&) { return true; }, 30000) ||
            !stop(first)) {
            std::fprintf(stderr, "window_bench: the first start failed:\n%s\n",
                         first.run->standardError().right(3000).constData());
            return CouldNotRun;
        }
    }
    Figures toFrame, own, all;
    std::printf("%4s %16s %14s %16s\n", "run", "first frame ms", "resident MiB", "with JACK's MiB");
    for (int i = 0; i < runs; ++i) {
        Started started = start(data.path());
        ProgramWindow& window = *started.window;
        if (!QTest::qWaitFor([&] { return window.firstFrameNanoseconds() != 0; }, 30000)) {
            std::fprintf(stderr, "window_bench: no first frame:\n%s\n",
                         started.run->standardError().right(3000).constData());
            return CouldNotRun;
        }
        const double frameMs = double(window.firstFrameNanoseconds() - started.startedAt) / 1e6;
        // Settled: the resident size has not changed for about a second
        // (or ten seconds have passed; then it is taken as it is).
        Resident resident = residentKiB(started.run->processId());
        int unchanged = 0;
        (void)QTest::qWaitFor(
            [&] {
                const Resident now = residentKiB(started.run->processId());
                unchanged = now.all == resident.all ? unchanged + 1 : 0;
                resident = now;
                return unchanged >= 20;
            },
            10000);
        if (!stop(started) || resident.all <= 0) {
            std::fprintf(stderr, "window_bench: the program did not end orderly\n");
            return CouldNotRun;
        }
        toFrame.add(frameMs);
        own.add(double(resident.own()) / 1024.0);
        all.add(double(resident.all) / 1024.0);
        std::printf("%4d %16.1f %14.1f %16.1f\n", i + 1, frameMs, own.values.back(),
                    all.values.back());
    }
    std::printf("\n");
    bool met = report("cold start to first frame", toFrame, "ms", startTargetMs);
    met = report("resident memory after start", own, "MiB", memoryTargetMiB) && met;
    std::printf("%-34s median %7.1f MiB (JACK's shared memory counted)\n", "resident memory, all",
                all.median());
    return outcome(met);
}

// Records one output port of the program; every cycle's first sample is put
// on CLOCK_MONOTONIC through JACK's own cycle clock. Preallocated: the
// process callback only copies.
class TimedRecorder
{
public:
    explicit TimedRecorder(double seconds)
    {
        client_ = jack_client_open("window_bench", JackNoStartServer, nullptr);
        if (!client_)
            return;
        sampleRate_ = int(jack_get_sample_rate(client_));
        samples_.resize(std::size_t(seconds * sampleRate_));
        cycles_.resize(samples_.size() / 16 + 1);
        input_ = jack_port_register(client_, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client_, process, this);
        // JACK's microseconds and CLOCK_MONOTONIC: the offset of the
        // closest pair of readings.
        qint64 best = 0, bestSpan = -1;
        for (int i = 0; i < 50; ++i) {
            const qint64 before = nowNanoseconds();
            const qint64 jack = qint64(jack_get_time()) * 1000;
            const qint64 after = nowNanoseconds();
            if (bestSpan < 0 || after - before < bestSpan) {
                bestSpan = after - before;
                best = (before + after) / 2 - jack;
            }
        }
        offsetNs_ = best;
    }
    ~TimedRecorder()
    {
        if (client_)
            jack_client_close(client_);
    }

    bool connect(const char* port)
    {
        return client_ && input_ && jack_activate(client_) == 0 &&
               jack_connect(client_, port, jack_port_name(input_)) == 0;
    }
    int sampleRate() const { return sampleRate_; }
    std::size_t recorded() const { return written_.load(std::memory_order_acquire); }
    float sample(std::size_t index) const { return samples_[index]; }

    // When sample index was played (CLOCK_MONOTONIC nanoseconds).
    qint64 timeOf(std::size_t index) const
    {
        const std::size_t cycles = cycleCount_.load(std::memory_order_acquire);
        const auto after = std::upper_bound(
            cycles_.begin(), cycles_.begin() + std::ptrdiff_t(cycles), index,
            [](std::size_t value, const Cycle& cycle) { return value < cycle.firstSample; });
        const Cycle& cycle = *(after - 1);
        return cycle.startNs + qint64(double(index - cycle.firstSample) * 1e9 / sampleRate_);
    }
    // The first sample played at or after time.
    std::size_t indexAt(qint64 time) const
    {
        const std::size_t cycles = cycleCount_.load(std::memory_order_acquire);
        for (std::size_t i = 0; i < cycles; ++i)
            if (cycles_[i].startNs >= time)
                return cycles_[i].firstSample;
        return recorded();
    }

private:
    struct Cycle
    {
        std::size_t firstSample;
        qint64 startNs;
    };

    static int process(jack_nframes_t frames, void* self)
    {
        auto* recorder = static_cast<TimedRecorder*>(self);
        const std::size_t at = recorder->written_.load(std::memory_order_relaxed);
        const std::size_t cycle = recorder->cycleCount_.load(std::memory_order_relaxed);
        if (at + frames > recorder->samples_.size() || cycle >= recorder->cycles_.size())
            return 0;
        const auto* input =
            static_cast<const float*>(jack_port_get_buffer(recorder->input_, frames));
        std::memcpy(&recorder->samples_[at], input, frames * sizeof(float));
        const jack_time_t start =
            jack_frames_to_time(recorder->client_, jack_last_frame_time(recorder->client_));
        recorder->cycles_[cycle] = {at, qint64(start) * 1000 + recorder->offsetNs_};
        recorder->cycleCount_.store(cycle + 1, std::memory_order_release);
        recorder->written_.store(at + frames, std::memory_order_release);
        return 0;
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* input_ = nullptr;
    int sampleRate_ = 44100;
    qint64 offsetNs_ = 0;
    std::vector<float> samples_;
    std::vector<Cycle> cycles_;
    std::atomic<std::size_t> written_{0};
    std::atomic<std::size_t> cycleCount_{0};
};

// The first sound (above -80 dBFS) after a silence of at least 10 ms that
// begins at or after from; nothing while the recording has not got there yet.
std::optional<std::size_t> onsetAfter(const TimedRecorder& recorder, std::size_t from)
{
    const std::size_t silence = std::size_t(recorder.sampleRate() / 100);
    const std::size_t end = recorder.recorded();
    std::size_t quiet = 0;
    for (std::size_t i = from; i < end; ++i) {
        if (std::fabs(recorder.sample(i)) < 1e-4f)
            ++quiet;
        else if (quiet >= silence)
            return i;
        else
            quiet = 0;
    }
    return std::nullopt;
}

// Harmonics (880 to 1760 Hz) over the root (440 Hz) in 100 ms from index.
double harmonicShare(const TimedRecorder& recorder, std::size_t index)
{
    std::vector<float> samples;
    for (std::size_t i = index; i < index + std::size_t(recorder.sampleRate() / 10); ++i)
        samples.push_back(recorder.sample(i));
    double harmonics = 0;
    for (double frequency : {880.0, 1320.0, 1760.0})
        harmonics += ToneAnalysis::magnitudeAt(samples, frequency, recorder.sampleRate());
    return harmonics /
           std::max(ToneAnalysis::magnitudeAt(samples, 440.0, recorder.sampleRate()), 1e-9);
}

Outcome measurePatchChanges(int changes)
{
    QTemporaryDir data;
    Started started = start(data.path());
    ProgramRun& run = *started.run;
    ProgramWindow& window = *started.window;
    const auto failed = [&](const char* what) {
        std::fprintf(stderr, "window_bench: %s\n%s\n", what,
                     run.standardError().right(3000).constData());
        return CouldNotRun;
    };
    if (!window.waitFor([](const WindowReport& r) {
            return r.value("patchMenu", "current") == "Sine" && r.balls.contains("/");
        }))
        return failed("the window did not show the patch menu and the root ball");
    TimedRecorder recorder(10.0 + 2.5 * changes);
    if (!recorder.connect("PortAudio:out_0"))
        return failed("cannot record the program's output");

    const QPoint root = window.report().balls.value("/");
    if (!window.click(root))
        return failed("xdotool failed");
    Figures latencies;
    for (int i = 0; i < changes; ++i) {
        // SawFilter stands just above Sine in the menu.
        const bool toSaw = i % 2 == 0;
        const QByteArray target = toSaw ? "SawFilter" : "Sine";
        if (!window.click(window.report().centre("patchMenu")) ||
            !QTest::qWaitFor([&] { return window.popupShown(); }, 5000))
            return failed("the patch menu did not open");
        const std::size_t inputsBefore = window.inputTimes().size();
        if (!ProgramWindow::xdotool({"key", toSaw ? "Up" : "Down", "key", "Return", "mousemove",
                                     QString::number(root.x()), QString::number(root.y()), "click",
                                     "1"}))
            return failed("xdotool failed");
        // The presses: the arrow, the Return, the click on the ball.
        if (!QTest::qWaitFor([&] { return window.inputTimes().size() >= inputsBefore + 3; }, 10000))
            return failed("the program did not get the keys and the click");
        const qint64 pickedAt = window.inputTimes().at(inputsBefore + 1);
        std::optional<std::size_t> onset;
        const bool heard = QTest::qWaitFor(
            [&] {
                onset = onsetAfter(recorder, recorder.indexAt(pickedAt));
                return onset && recorder.recorded() > *onset + std::size_t(recorder.sampleRate());
            },
            10000);
        if (!heard || !window.waitFor([&](const WindowReport& r) {
                return r.value("patchMenu", "current") == target;
            }))
            return failed("the new voice was not heard");
        const double share =
            harmonicShare(recorder, *onset + std::size_t(recorder.sampleRate() / 50));
        if (toSaw ? share < 0.1 : share > 0.02) {
            std::fprintf(stderr, "window_bench: the voice heard is not %s (harmonics %.3f)\n",
                         target.constData(), share);
            return CouldNotRun;
        }
        latencies.add(double(recorder.timeOf(*onset) - pickedAt) / 1e6);
        std::printf("change %2d to %-9s %7.1f ms\n", i + 1, target.constData(),
                    latencies.values.back());
    }
    stop(started);
    std::printf("\n");
    return outcome(report("patch change, pick to sound", latencies, "ms", patchChangeTargetMs));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int runs = 7, changes = 8;
    const QStringList arguments = app.arguments().mid(1);
    for (int i = 0; i + 1 < arguments.size(); i += 2) {
        if (arguments.at(i) == QLatin1String("--runs"))
            runs = arguments.at(i + 1).toInt();
        else if (arguments.at(i) == QLatin1String("--changes"))
            changes = arguments.at(i + 1).toInt();
    }
    if (runs < 1 || changes < 1 || arguments.size() % 2) {
        std::fprintf(stderr, "usage: window_bench [--runs N] [--changes M]\n");
        return 2;
    }
    const QString reason = ProgramWindow::unavailableReason();
    if (!reason.isEmpty()) {
        std::fprintf(stderr, "window_bench: %s\n", qPrintable(reason));
        return 2;
    }
    std::printf("Start-up (%d runs after one that creates the default files)\n", runs);
    const Outcome starts = measureStarts(runs);
    if (starts == CouldNotRun)
        return CouldNotRun;
    std::printf("\nPatch changes from the menu (%d)\n", changes);
    return std::max(starts, measurePatchChanges(changes));
}
