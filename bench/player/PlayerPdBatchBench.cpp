// The same main patch, voice and notes rendered for 60 s by stock Pd in
// batch mode (pd -nogui -noaudio -batch) and by lattice-tool render, which
// runs PdPlayer::processBlock in 256-frame blocks and writes a WAV file.
// Runs the two in turns, nine times each, and prints the median wall time of
// each and the median of the nine ratios (each against the run beside it).
// Pd renders twice: writing the same 16-bit stereo WAV file with
// [writesf~], the same work as the tool's, and writing nothing.
// Target: lattice-tool / pd <= 1.05. Needs Debian's puredata-core.

#include "BenchSupport.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTextStream>
#include <cstdio>

using namespace BenchSupport;

namespace {

constexpr int seconds = 60;
constexpr int runs = 9;
constexpr float baseFrequency = 440.0f;
constexpr float masterVolume = 0.75f;
constexpr int recordingEndsEarlyMs = 100;

// The macro defaults the voice announces, which both renders apply.
QList<float> macroDefaults(const QString& mainPatch)
{
    QList<float> defaults;
    PdPlayer player;
    QObject::connect(&player, &PdPlayer::macroDefaultsReceived,
                     [&defaults](const QList<float>& values) { defaults = values; });
    if (player.init()) {
        player.initAudio(2, sampleRate);
        player.loadPatch(QFileInfo(mainPatch));
        player.term();
    }
    return defaults;
}

// A patch that holds the main patch and, at load, sends what PdPlayer would
// send for these notes, then quits after `seconds` of logical time. With a
// `wav` path it also records the main patch's output there.
bool writeDriver(const QString& path, const QList<LatticePath>& notes, const QList<float>& macros,
                 const QString& wav)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QString messages = QStringLiteral("\\; pd dsp 1 \\; master-vol %1").arg(masterVolume);
    for (int i = 0; i < macros.size() && i < 8; ++i)
        if (macros[i] > -0.5f)
            messages += QStringLiteral(" \\; lattice-in %1 %2 0").arg(macros[i]).arg(4 + i);
    for (int voice = 0; voice < notes.size(); ++voice) {
        const LatticeRatio ratio = *notes[voice].ratio();
        const float hz = float(ratio.numerator()) / float(ratio.denominator()) * baseFrequency;
        messages += QStringLiteral(" \\; lattice-in %1 2 %2 \\; lattice-in 1 3 %2 \\; "
                                   "lattice-in 1 1 %2")
                        .arg(double(hz), 0, 'g', 9)
                        .arg(voice + 1);
    }
    // The recording stops a tenth of a second before Pd quits, so that its
    // writer thread has finished the file by then.
    QTextStream out(&file);
    out << "#N canvas 0 0 400 300 12;\n"
        << "#X obj 10 10 lattice_main;\n"
        << "#X obj 10 40 loadbang;\n"
        << "#X msg 10 70 " << messages << ";\n"
        << "#X obj 200 70 delay " << seconds * 1000 << ";\n"
        << "#X msg 200 100 \\; pd quit;\n"
        << "#X connect 1 0 2 0;\n#X connect 1 0 3 0;\n#X connect 3 0 4 0;\n";
    if (!wav.isEmpty())
        out << "#X obj 10 160 writesf~ 2;\n"
            << "#X msg 100 100 open " << wav << " \\, start;\n"
            << "#X obj 300 70 delay " << seconds * 1000 - recordingEndsEarlyMs << ";\n"
            << "#X msg 300 100 stop;\n"
            << "#X connect 0 0 5 0;\n#X connect 0 0 5 1;\n#X connect 1 0 6 0;\n"
            << "#X connect 6 0 5 0;\n#X connect 1 0 7 0;\n#X connect 7 0 8 0;\n"
            << "#X connect 8 0 5 0;\n";
    return true;
}

double timeRun(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(10 * 60 * 1000) || process.exitCode() != 0)
        return -1.0;
    return double(timer.nsecsElapsed()) * 1e-9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    quietLogging();
    const QString voice = patchesFolder() + "/Sine.pd";
    const QString tool = QCoreApplication::applicationDirPath() + "/lattice-tool";
    std::printf("%s, %d s at %d Hz, medians of %d runs\n", qPrintable(QFileInfo(voice).fileName()),
                seconds, sampleRate, runs);
    for (int count : {16, 128}) {
        QTemporaryDir folder;
        const QString main = prepareRuntimeFolder(folder, voice);
        const QList<LatticePath> notes = distinctPaths(count);
        const QString driver = folder.filePath("batch_driver.pd");
        const QString recordingDriver = folder.filePath("batch_recording_driver.pd");
        const QList<float> macros = macroDefaults(main);
        if (main.isEmpty() || !writeDriver(driver, notes, macros, QString()) ||
            !writeDriver(recordingDriver, notes, macros, folder.filePath("take-pd.wav")))
            return 1;
        QStringList play;
        for (const LatticePath& path : notes)
            play.append(path.toString());
        const QStringList toolArguments{"render",
                                        "--voice",
                                        voice,
                                        "--play",
                                        play.join(','),
                                        "--seconds",
                                        QString::number(seconds),
                                        "--volume",
                                        QString::number(double(masterVolume)),
                                        "--out",
                                        folder.filePath("take.wav")};
        // -nrt: run as root, Pd would otherwise raise itself to real-time
        // priority and the two would not compete on equal terms.
        const QStringList pdOptions{"-nogui", "-noaudio", "-nomidi", "-nrt", "-batch", "-open"};
        std::vector<double> recordingTimes, pdTimes, toolTimes, recordingRatios, ratios;
        for (int run = 0; run < runs; ++run) {
            recordingTimes.push_back(timeRun("pd", pdOptions + QStringList{recordingDriver}));
            pdTimes.push_back(timeRun("pd", pdOptions + QStringList{driver}));
            toolTimes.push_back(timeRun(tool, toolArguments));
            recordingRatios.push_back(toolTimes.back() / recordingTimes.back());
            ratios.push_back(toolTimes.back() / pdTimes.back());
        }
        for (const std::vector<double>* times : {&recordingTimes, &pdTimes, &toolTimes})
            if (*std::min_element(times->begin(), times->end()) < 0) {
                std::fprintf(stderr, "a run failed\n");
                return 1;
            }
        // 16-bit stereo frames; Pd's recording ends early, on a block.
        const qint64 missingBytes = (recordingEndsEarlyMs * sampleRate / 1000 + 64) * 4;
        if (QFileInfo(folder.filePath("take-pd.wav")).size() <
            QFileInfo(folder.filePath("take.wav")).size() - missingBytes) {
            std::fprintf(stderr, "pd did not write the whole recording\n");
            return 1;
        }
        std::printf("%3d notes: lattice-tool render %.3f s; pd -batch writing the WAV %.3f s, "
                    "ratio %.3f; writing nothing %.3f s, ratio %.3f\n",
                    count, median(toolTimes), median(recordingTimes), median(recordingRatios),
                    median(pdTimes), median(ratios));
        std::fflush(stdout);
    }
    return 0;
}
