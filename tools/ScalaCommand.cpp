// lattice-tool scala: the lattice, or a chord, as a Scala scale (with a
// keyboard mapping for a MIDI synthesizer), and a Scala scale as the key map
// or a lattice.

#include "ToolCommands.h"

#include "Lattice.h"
#include "LatticePath.h"
#include "MidiMap.h"
#include "ScalaExchange.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <cstdio>

namespace {

QString dataFile(const QString& name)
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + '/' + name;
}

QJsonObject readJson(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > SerializableRoot::maxFileBytes)
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QString error;
    if (writeReplacing(path, bytes, &error))
        return true;
    std::fprintf(stderr, "lattice-tool: %s\n", qPrintable(error));
    return false;
}

// Each option of `names` that takes a value, from arguments; the rest are
// left in place. Empty when an option lacks its value.
bool takeOptions(QStringList& arguments, const QStringList& names, QHash<QString, QString>& values)
{
    for (int i = 0; i < arguments.size();) {
        if (!names.contains(arguments.at(i))) {
            ++i;
            continue;
        }
        if (i + 1 >= arguments.size())
            return false;
        values.insert(arguments.at(i), arguments.at(i + 1));
        arguments.erase(arguments.begin() + i, arguments.begin() + i + 2);
    }
    return true;
}

int runExport(QStringList arguments)
{
    QHash<QString, QString> options;
    if (!takeOptions(arguments, {"--chord", "--transpose", "--lattice", "--kbm"}, options) ||
        arguments.size() != 1)
        return ToolCommands::usageError(
            "scala export: give one OUT.scl, and a value to each option");
    const QString out = arguments.first();

    Lattice lattice;
    const QString latticePath = options.value("--lattice", dataFile("lattice.json"));
    if (QFileInfo::exists(latticePath))
        lattice.read(readJson(latticePath));
    else if (options.contains("--lattice"))
        return ToolCommands::usageError(QString("scala export: no lattice %1").arg(latticePath));
    else
        lattice.setDefaults();
    const LatticePath transposition(options.value("--transpose", "/"));
    if (!transposition.isValid() || !transposition.ratio())
        return ToolCommands::usageError("scala export: --transpose takes steps like /3/-5");
    LatticeRatio total(1);
    for (int step : transposition.toList()) {
        const LatticeRatio by = *LatticePath(step).ratio();
        if (!total.canMultiplyWith(by))
            return ToolCommands::usageError("scala export: the transposition does not fit");
        total *= by;
        lattice.onTransposed(total, step);
    }

    ScalaScale scale;
    if (options.contains("--chord")) {
        QList<LatticeRatio> chord;
        for (const QString& text : options.value("--chord").split(',', Qt::SkipEmptyParts)) {
            const std::optional<LatticeRatio> ratio = LatticePath(text).ratio();
            if (!ratio || !total.canMultiplyWith(*ratio))
                return ToolCommands::usageError(
                    QString("scala export: bad chord path %1").arg(text));
            chord.append(total * *ratio);
        }
        scale = scaleOfChord(chord, QString("Chord %1").arg(options.value("--chord")));
    } else {
        scale = scaleOfLattice(lattice, QFileInfo::exists(latticePath)
                                            ? QFileInfo(latticePath).fileName()
                                            : QString("(the built-in one)"));
    }
    scale.fileName = QFileInfo(out).fileName();
    if (!writeFile(out, scale.write()))
        return ToolCommands::exitFailed;
    if (options.contains("--kbm")) {
        QJsonObject keys = readJson(dataFile("midi_map.json"));
        if (keys.isEmpty())
            keys = MidiMap::defaultMap();
        const QJsonObject settings = readJson(dataFile("options.json"));
        KeyboardMapping mapping =
            mappingForKeys(scale, keys, settings.value("baseFrequency").toDouble(440.0));
        mapping.fileName = QFileInfo(options.value("--kbm")).fileName();
        if (!writeFile(options.value("--kbm"), mapping.write()))
            return ToolCommands::exitFailed;
    }
    std::printf("%s: %d degrees\n", qPrintable(out), int(scale.pitches.size()));
    return ToolCommands::exitOk;
}

int runImport(QStringList arguments)
{
    QHash<QString, QString> options;
    if (!takeOptions(arguments, {"--kbm", "--midi-map", "--lattice"}, options) ||
        arguments.size() != 1 || options.contains("--midi-map") == options.contains("--lattice"))
        return ToolCommands::usageError(
            "scala import: give one FILE.scl and either --midi-map OUT.json or --lattice OUT.json");
    QString error;
    const auto read = [&error](const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            error = QString("%1: cannot be read").arg(path);
        return file.size() > SerializableRoot::maxFileBytes ? QByteArray() : file.readAll();
    };
    const QString sclPath = arguments.first();
    const QByteArray sclText = read(sclPath);
    std::optional<ScalaScale> scale;
    if (error.isEmpty())
        scale = ScalaScale::parse(sclText, QFileInfo(sclPath).fileName(), &error);
    std::optional<KeyboardMapping> mapping;
    if (scale && options.contains("--kbm")) {
        const QByteArray kbmText = read(options.value("--kbm"));
        if (error.isEmpty())
            mapping = KeyboardMapping::parse(kbmText, QFileInfo(options.value("--kbm")).fileName(),
                                             &error);
        if (!mapping)
            scale.reset();
    }
    if (!scale) {
        std::fprintf(stderr, "lattice-tool: %s\n", qPrintable(error));
        return ToolCommands::exitFailed;
    }
    const ScalaImport imported = importScale(*scale, mapping);
    for (const QString& refusal : imported.refusals)
        std::fprintf(stderr, "lattice-tool: refused %s\n", qPrintable(refusal));
    const bool asKeys = options.contains("--midi-map");
    const QString out = options.value(asKeys ? "--midi-map" : "--lattice");
    QJsonObject keys = readJson(QFileInfo::exists(out) ? out : dataFile("midi_map.json"));
    if (keys.isEmpty())
        keys = MidiMap::defaultMap();
    const QJsonObject json = asKeys ? withKeysOf(keys, imported) : imported.lattice;
    if (!writeFile(out, QJsonDocument(json).toJson()))
        return ToolCommands::exitFailed;
    std::printf("%s: %d of %d degrees%s\n", qPrintable(out),
                imported.degrees - int(imported.refusals.size()), imported.degrees,
                asKeys ? qPrintable(QString(", %1 keys").arg(imported.midiMap.size())) : "");
    return imported.refusals.isEmpty() ? ToolCommands::exitOk : ToolCommands::exitFailed;
}

int runScala(const QStringList& arguments)
{
    // The model's debug records (a path that does not parse) would reach
    // stderr beside the tool's own one-line messages.
    QLoggingCategory::defaultCategory()->setEnabled(QtDebugMsg, false);
    const QString verb = arguments.value(0);
    if (verb == QLatin1String("export"))
        return runExport(arguments.mid(1));
    if (verb == QLatin1String("import"))
        return runImport(arguments.mid(1));
    return ToolCommands::usageError("scala: export or import?");
}

} // namespace

static const LatticeToolCommand scalaCommand{
    "scala",
    "scala export [--chord PATHS] [--transpose STEPS] [--lattice FILE] [--kbm OUT.kbm] OUT.scl\n"
    "  lattice-tool scala import FILE.scl [--kbm FILE.kbm] (--midi-map OUT.json | --lattice "
    "OUT.json)",
    runScala};
