// lattice-tool render: plays lattice paths through a voice patch the way the
// instrument does and writes the result to a WAV file, with no audio device.
// The runtime patch folder is laid out as the program lays it out (the
// shell patches from the data folder plus the voice as lattice_voice.pd),
// the main patch is opened by PdPlayer, and every block goes through
// PdPlayer::processBlock exactly as the audio callback's would.

#include "LatticeEvent.h"
#include "LatticeNoteEvent.h"
#include "LatticePath.h"
#include "PdPlayer.h"
#include "ResourceLocation.h"
#include "ScoreFile.h"
#include "ToolCommands.h"
#include "WavWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int defaultSampleRate = 44100;
constexpr int blockFrames = 256;
// Longer takes are almost certainly a typing mistake (a minute is 10 MB).
constexpr double maxSeconds = 3600.0;

struct RenderOptions
{
    QString voice;
    QList<LatticePath> paths;
    float baseFrequency = 440.0f;
    // The program's default master volume setting.
    float volume = 0.75f;
    double seconds = 2.0;
    double releaseAt = -1.0;
    QString out;
    // A recorded take to play instead of --play; its WAV is float.
    QString score;
    WavWriter::Format format = WavWriter::Format::Pcm16;
    bool verbose = false;
};

bool verboseLog = false;

// Keeps a successful render quiet: only critical records are shown unless
// --verbose asks for everything the engine logs.
void renderMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (verboseLog || type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

bool parseNumber(const QString& text, double& value)
{
    bool ok = false;
    value = text.toDouble(&ok);
    return ok && std::isfinite(value);
}

// Returns exitOk, or the usage error's status after printing it.
int parseArguments(const QStringList& arguments, RenderOptions& options)
{
    using ToolCommands::usageError;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& option = arguments[i];
        if (option == QLatin1String("--float")) {
            options.format = WavWriter::Format::Float32;
            continue;
        }
        if (option == QLatin1String("--verbose")) {
            options.verbose = true;
            continue;
        }
        static const QStringList withValue = {"--voice",  "--play", "--base", "--seconds",
                                              "--release-at", "--volume", "--out", "--score"};
        if (!withValue.contains(option))
            return usageError(QStringLiteral("render: unknown option \"%1\"").arg(option));
        if (i + 1 >= arguments.size())
            return usageError(QStringLiteral("render: %1 needs a value").arg(option));
        const QString value = arguments[++i];
        double number = 0.0;
        if (option == QLatin1String("--voice")) {
            options.voice = value;
        } else if (option == QLatin1String("--out")) {
            options.out = value;
        } else if (option == QLatin1String("--score")) {
            options.score = value;
            options.format = WavWriter::Format::Float32;
        } else if (option == QLatin1String("--play")) {
            for (const QString& text : value.split(QLatin1Char(','))) {
                const LatticePath path(text);
                if (text.trimmed().isEmpty() || !path.isValid())
                    return usageError(QStringLiteral("render: invalid path \"%1\"").arg(text));
                options.paths.append(path);
            }
        } else if (!parseNumber(value, number)) {
            return usageError(
                QStringLiteral("render: %1 needs a number, not \"%2\"").arg(option, value));
        } else if (option == QLatin1String("--base")) {
            if (number <= 0.0)
                return usageError(QStringLiteral("render: --base must be above 0 Hz"));
            options.baseFrequency = float(number);
        } else if (option == QLatin1String("--seconds")) {
            if (number <= 0.0 || number > maxSeconds)
                return usageError(QStringLiteral("render: --seconds must be above 0 and at most %1")
                                      .arg(maxSeconds));
            options.seconds = number;
        } else if (option == QLatin1String("--release-at")) {
            if (number < 0.0)
                return usageError(QStringLiteral("render: --release-at must not be negative"));
            options.releaseAt = number;
        } else {
            options.volume = float(number);
        }
    }
    if (options.voice.isEmpty())
        return usageError(QStringLiteral("render: --voice FILE.pd is required"));
    if (!QFileInfo(options.voice).isFile())
        return usageError(
            QStringLiteral("render: voice patch \"%1\" not found").arg(options.voice));
    if (options.paths.isEmpty() == options.score.isEmpty())
        return usageError(QStringLiteral("render: one of --play PATH[,PATH...] and --score FILE "
                                         "is required"));
    if (options.out.isEmpty())
        return usageError(QStringLiteral("render: --out FILE.wav is required"));
    return ToolCommands::exitOk;
}

// The shell patches and the voice, as the program's runtime patch folder
// holds them. Returns the main patch, or an empty string after a message.
QString prepareRuntimeFolder(const QTemporaryDir& folder, const QString& voice)
{
    const QString shell = ResourceLocation::directory() + QStringLiteral("/patches/shell/");
    for (const char* name : {"lattice_main.pd", "lattice_vprep.pd", "equal-loudness.pd",
                             "tb_compressor~.pd", "tb_compressorUI.pd"}) {
        if (!QFile::copy(shell + QLatin1String(name), folder.filePath(QLatin1String(name)))) {
            std::fprintf(stderr, "lattice-tool: render: cannot copy shell patch \"%s\"\n",
                         qPrintable(shell + QLatin1String(name)));
            return QString();
        }
    }
    if (!QFile::copy(voice, folder.filePath(QStringLiteral("lattice_voice.pd")))) {
        std::fprintf(stderr, "lattice-tool: render: cannot copy voice patch \"%s\"\n",
                     qPrintable(voice));
        return QString();
    }
    return folder.filePath(QStringLiteral("lattice_main.pd"));
}

void toggleNotes(PdPlayer& player, const QList<LatticePath>& paths)
{
    for (const LatticePath& path : paths) {
        const LatticeNoteEvent event(path);
        player.queueEventGui(&event);
    }
}

// The take a score describes: read whole before anything is set up.
bool readScore(const QString& path, std::optional<Score>& score)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "lattice-tool: render: cannot read \"%s\": %s\n", qPrintable(path),
                     qPrintable(file.errorString()));
        return false;
    }
    QString why;
    score = Score::read(file.readAll(), &why);
    if (!score)
        std::fprintf(stderr, "lattice-tool: render: \"%s\" is not a score: %s\n",
                     qPrintable(path), qPrintable(why));
    return score.has_value();
}

int render(const RenderOptions& options)
{
    std::optional<Score> score;
    if (!options.score.isEmpty() && !readScore(options.score, score))
        return ToolCommands::exitFailed;
    const int sampleRate = score ? score->header.sampleRate : defaultSampleRate;

    QTemporaryDir folder;
    if (!folder.isValid()) {
        std::fprintf(stderr, "lattice-tool: render: cannot create a temporary folder\n");
        return ToolCommands::exitFailed;
    }
    const QString mainPatch = prepareRuntimeFolder(folder, options.voice);
    if (mainPatch.isEmpty())
        return ToolCommands::exitFailed;

    PdPlayer player;
    if (!player.init())
        return ToolCommands::exitFailed;
    player.initAudio(2, sampleRate);
    QList<float> macroDefaults;
    QObject::connect(&player, &PdPlayer::macroDefaultsReceived,
                     [&macroDefaults](const QList<float>& defaults) { macroDefaults = defaults; });
    // No audio output is set, so the patch opens on this thread.
    if (!player.loadPatch(QFileInfo(mainPatch))) {
        std::fprintf(stderr, "lattice-tool: render: the voice patch \"%s\" did not open\n",
                     qPrintable(options.voice));
        return ToolCommands::exitFailed;
    }

    WavWriter wav;
    if (!wav.open(options.out, sampleRate, 2, options.format)) {
        std::fprintf(stderr, "lattice-tool: render: cannot write \"%s\": %s\n",
                     qPrintable(options.out), qPrintable(wav.errorString()));
        player.term();
        return ToolCommands::exitFailed;
    }

    qint64 totalFrames = 0;
    if (score) {
        // The take's state, then each event at the frame it took effect
        // at, in blocks as small as Pd's, so that every frame a callback
        // began at is a block's start here too.
        score->queueStart(player);
        totalFrames = score->endFrame;
        std::vector<float> block(2 * PdPlayer::pdBlockFrames);
        int next = 0;
        for (qint64 done = 0; done < totalFrames; done += PdPlayer::pdBlockFrames) {
            for (; next < score->events.size() && score->events[next].frame <= done; ++next)
                Score::queue(score->events[next], player);
            player.processBlock(block.data(), PdPlayer::pdBlockFrames, false);
            wav.write(block.data(),
                      int(std::min<qint64>(PdPlayer::pdBlockFrames, totalFrames - done)));
        }
    } else {
        // What the program sends after a load: settings, then the patch's
        // own macro defaults (those above -0.5, as the main window does).
        const LatticeEvent base(LatticeEvent::BaseFrequencySet, options.baseFrequency);
        const LatticeEvent volume(LatticeEvent::MasterVolumeSet, options.volume);
        player.queueEventGui(&base);
        player.queueEventGui(&volume);
        for (int i = 0; i < macroDefaults.size() && i < 8; ++i) {
            if (macroDefaults[i] > -0.5f) {
                const LatticeEvent macro(LatticeEvent::Macro1 + i, macroDefaults[i]);
                player.queueEventGui(&macro);
            }
        }
        toggleNotes(player, options.paths);

        totalFrames = std::llround(options.seconds * sampleRate);
        const qint64 releaseFrame =
            options.releaseAt >= 0.0 ? std::llround(options.releaseAt * sampleRate) : -1;
        bool released = false;
        std::vector<float> block(2 * blockFrames);
        for (qint64 done = 0; done < totalFrames; done += blockFrames) {
            // Events take effect at the start of a block, as in the program.
            if (!released && releaseFrame >= 0 && done >= releaseFrame) {
                toggleNotes(player, options.paths);
                released = true;
            }
            player.processBlock(block.data(), blockFrames, false);
            wav.write(block.data(), int(std::min<qint64>(blockFrames, totalFrames - done)));
        }
    }
    // The patch stays open: the tool ends here, and taking 128 voices apart
    // object by object would cost as much as rendering a second of sound.
    if (!wav.close()) {
        std::fprintf(stderr, "lattice-tool: render: writing \"%s\" failed: %s\n",
                     qPrintable(options.out), qPrintable(wav.errorString()));
        return ToolCommands::exitFailed;
    }
    const double peak = double(wav.peak());
    std::printf("%s: %lld frames at %d Hz, peak %.2f dBFS\n", qPrintable(options.out),
                static_cast<long long>(totalFrames), sampleRate,
                peak > 0.0 ? 20.0 * std::log10(peak) : -INFINITY);
    return ToolCommands::exitOk;
}

int runRender(const QStringList& arguments)
{
    // Installed before parsing, so that a bad path gives the one usage line
    // and not also the parser's own debug record.
    const QtMessageHandler previous = qInstallMessageHandler(renderMessageHandler);
    RenderOptions options;
    int status = parseArguments(arguments, options);
    if (status == ToolCommands::exitOk) {
        verboseLog = options.verbose;
        status = render(options);
    }
    qInstallMessageHandler(previous);
    return status;
}

const LatticeToolCommand renderCommand{
    "render",
    "render --voice FILE.pd (--play PATH[,PATH...] [--base HZ] [--seconds S] [--release-at S] "
    "[--volume V] | --score TAKE.jsonl) [--float] [--verbose] --out FILE.wav",
    runRender};

} // namespace
