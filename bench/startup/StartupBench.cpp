// Start-up time of the instrument: from the moment the program's process is
// started to its event loop running, with the default data files in place
// (a first, unmeasured run creates them), not counting the opening of the
// audio device itself (PortAudio's initialisation, the device's stream and
// the device listing), which depends on the sound system rather than on the
// program. The program reports its marks on standard error when
// LATTICE_STARTUP_TRACE is set (see StartupTrace); each run then ends with
// SIGTERM, as the orderly shutdown it is.
//
// Usage: startup_bench [runs] [program]   (defaults: 11, tuning-lattice beside it)
// Prints every run and the medians. Exit status 0 when the median start-up
// without the audio device is at most 400 ms, 1 when not, 2 when it cannot run.

#include "BenchTiming.h"
#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <signal.h>
#include <vector>

namespace {

constexpr double targetMs = 400.0;

// The program's marks in start-up order (see TuningLatticeApplication::init
// and MainWindow), each reported relative to main().
const char* const phaseMarks[] = {"log",       "settings",     "audio-open-begin", "audio-open-end",
                                  "lattice",   "window-built", "default-patch",    "main-window",
                                  "event-loop"};

struct Run
{
    double total = 0;                    // process start to event loop
    double toMain = 0;                   // process start to main(): loading the executable
    double audio = 0;                    // opening the audio device
    QHash<QByteArray, double> sinceMain; // ms from main() to each mark
    double startup() const { return total - audio; }
};

qint64 nowNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// "startup-trace NAME NANOSECONDS" lines.
QHash<QByteArray, qint64> marks(const QByteArray& standardError)
{
    QHash<QByteArray, qint64> result;
    for (const QByteArray& line : standardError.split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 3 && parts.at(0) == "startup-trace")
            result.insert(parts.at(1), parts.at(2).toLongLong());
    }
    return result;
}

bool runOnce(const QString& program, const QProcessEnvironment& environment, Run& run)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    QByteArray standardError;
    const qint64 started = nowNanoseconds();
    process.start(program, {});
    const QDeadlineTimer deadline(30000);
    while (!standardError.contains("startup-trace event-loop ")) {
        if (deadline.hasExpired() ||
            (!process.waitForReadyRead(100) && process.state() == QProcess::NotRunning)) {
            standardError += process.readAllStandardError();
            std::fprintf(stderr, "startup_bench: the program did not reach its event loop:\n%s\n",
                         standardError.constData());
            process.kill();
            process.waitForFinished();
            return false;
        }
        standardError += process.readAllStandardError();
    }
    ::kill(pid_t(process.processId()), SIGTERM);
    const bool ended = process.waitForFinished(30000) &&
                       process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!ended) {
        std::fprintf(stderr, "startup_bench: the program did not end orderly on SIGTERM\n");
        return false;
    }

    const QHash<QByteArray, qint64> at = marks(standardError);
    const auto ms = [](qint64 nanoseconds) { return double(nanoseconds) / 1e6; };
    run.total = ms(at.value("event-loop") - started);
    run.toMain = ms(at.value("main") - started);
    run.audio = ms(at.value("audio-open-end") - at.value("audio-open-begin"));
    for (const char* mark : phaseMarks)
        if (at.contains(mark))
            run.sinceMain.insert(mark, ms(at.value(mark) - at.value("main")));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int runs = arguments.size() > 1 ? arguments.at(1).toInt() : 11;
    const QString program = arguments.size() > 2
                                ? arguments.at(2)
                                : QCoreApplication::applicationDirPath() + "/tuning-lattice";
    if (runs < 1) {
        std::fprintf(stderr, "usage: startup_bench [runs] [program]\n");
        return 2;
    }

    QTemporaryDir data;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", data.filePath("data"));
    environment.insert("LATTICE_STARTUP_TRACE", "1");
    // A message box would wait for a click; the benchmark checks for none.
    environment.insert("LATTICE_MESSAGE_LOG", data.filePath("messages.jsonl"));

    Run warmUp;
    if (!runOnce(program, environment, warmUp))
        return 2;
    std::printf("first run (creates the default files): %.1f ms, audio device %.1f ms\n\n",
                warmUp.total, warmUp.audio);

    std::printf("%4s %12s %12s %12s %14s\n", "run", "total ms", "to main ms", "audio ms",
                "start-up ms");
    std::vector<double> totals, audio, startups, toMain;
    QHash<QByteArray, std::vector<double>> phases;
    for (int i = 0; i < runs; ++i) {
        Run run;
        if (!runOnce(program, environment, run))
            return 2;
        std::printf("%4d %12.1f %12.1f %12.1f %14.1f\n", i + 1, run.total, run.toMain, run.audio,
                    run.startup());
        totals.push_back(run.total);
        toMain.push_back(run.toMain);
        audio.push_back(run.audio);
        startups.push_back(run.startup());
        for (auto it = run.sinceMain.cbegin(); it != run.sinceMain.cend(); ++it)
            phases[it.key()].push_back(it.value());
    }
    if (QFile::exists(data.filePath("messages.jsonl"))) {
        std::fprintf(stderr, "startup_bench: the program showed a message box\n");
        return 2;
    }

    std::printf("\nmedian time of each mark after main():\n");
    for (const char* mark : phaseMarks)
        if (phases.contains(mark))
            std::printf("  %-18s %8.1f ms\n", mark, median(phases.value(mark)));

    const double result = median(startups);
    std::printf("\nmedian of %d runs: total %.1f ms, to main %.1f ms, audio device %.1f ms\n", runs,
                median(totals), median(toMain), median(audio));
    std::printf("start-up without the audio device: median %.1f ms (min %.1f, max %.1f), "
                "target <= %.0f ms: %s\n",
                result, *std::min_element(startups.begin(), startups.end()),
                *std::max_element(startups.begin(), startups.end()), targetMs,
                result <= targetMs ? "met" : "MISSED");
    return result <= targetMs ? 0 : 1;
}
