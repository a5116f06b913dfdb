// The same main patch, voice and notes rendered for 60 s by stock Pd in
// batch mode (pd -nogui -noaudio -batch) and by lattice-tool render, which
// runs PdPlayer::processBlock in 256-frame blocks and writes a WAV file.
// Runs the two in turns, nine times each, and prints the median wall time of
// each and the median of the nine ratios (each against the run beside it).
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
// send for these notes, then quits after `seconds` of logical time.
bool writeDriver(const QString& path, const QList<LatticePath>& notes, const QList<float>& macros)
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
    QTextStream out(&file);
    out << "#N canvas 0 0 400 300 12;\n"
        << "#X obj 10 10 lattice_main;\n"
        << "#X obj 10 40 loadbang;\n"
        << "#X msg 10 70 " << messages << ";\n"
        << "#X obj 200 70 delay " << seconds * 1000 << ";\n"
        << "#X msg 200 100 \\; pd quit;\n"
        << "#X connect 1 0 2 0;\n#X connect 1 0 3 0;\n#X connect 3 0 4 0;\n";
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
        if (main.isEmpty() || !writeDriver(driver, notes, macroDefaults(main)))
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
        const QStringList pdArguments{"-nogui", "-noaudio", "-nomidi", "-nrt",
                                      "-batch", "-open",    driver};
        std::vector<double> pdTimes, toolTimes, ratios;
        for (int run = 0; run < runs; ++run) {
            pdTimes.push_back(timeRun("pd", pdArguments));
            toolTimes.push_back(timeRun(tool, toolArguments));
            ratios.push_back(toolTimes.back() / pdTimes.back());
        }
        if (*std::min_element(pdTimes.begin(), pdTimes.end()) < 0 ||
            *std::min_element(toolTimes.begin(), toolTimes.end()) < 0) {
            std::fprintf(stderr, "a run failed\n");
            return 1;
        }
        std::printf("%3d notes: pd -batch %.3f s, lattice-tool render %.3f s, ratio %.3f\n", count,
                    median(pdTimes), median(toolTimes), median(ratios));
        std::fflush(stdout);
    }
    return 0;
}
