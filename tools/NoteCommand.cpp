// lattice-tool note: spells one ball the way its note card does, so that note
// names can be checked without starting the instrument.

#include "ToolCommands.h"

#include "LatticePath.h"
#include "LatticeRatio.h"
#include "SpelledNote.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <cstdio>

namespace {

// The ranges the options dialog offers.
constexpr double minimumBaseHz = 20.0;
constexpr double maximumBaseHz = 20000.0;
constexpr int minimumCalibrationHz = 349;
constexpr int maximumCalibrationHz = 499;

struct NoteRequest
{
    LatticePath path;
    LatticeRatio pathRatio{1};
    LatticePath transposition;
    LatticeRatio transpositionRatio{1};
    float baseHz = 440.0f;
    int calibrationHz = 440;
    bool json = false;
};

// A failed path parse writes a debug record, which would reach stderr beside
// our own message; the tool says what went wrong in one line instead.
class DebugRecordsOff
{
public:
    DebugRecordsOff() : enabled(QLoggingCategory::defaultCategory()->isDebugEnabled())
    {
        QLoggingCategory::defaultCategory()->setEnabled(QtDebugMsg, false);
    }
    ~DebugRecordsOff() { QLoggingCategory::defaultCategory()->setEnabled(QtDebugMsg, enabled); }
    DebugRecordsOff(const DebugRecordsOff&) = delete;
    DebugRecordsOff& operator=(const DebugRecordsOff&) = delete;

private:
    bool enabled;
};

// Each reader returns an error message, empty on success.

QString readPath(const QString& text, const QString& what, LatticePath& path, LatticeRatio& ratio)
{
    // The path itself would drop steps beyond the sixth without a word.
    if (text.split(QLatin1Char('/'), Qt::SkipEmptyParts).size() > LatticePath::maxSteps)
        return QStringLiteral("note: %1 \"%2\" has more than %3 steps")
            .arg(what, text)
            .arg(LatticePath::maxSteps);
    bool parsed = false;
    {
        DebugRecordsOff quiet;
        parsed = path.storeFromString(text);
    }
    const std::optional<LatticeRatio> pathRatio = path.ratio();
    if (!parsed || !pathRatio)
        return QStringLiteral("note: %1 \"%2\" is not a lattice path (steps such as /3/-5, "
                              "primes 2 to 23)")
            .arg(what, text);
    ratio = *pathRatio;
    return QString();
}

QString readBase(const QString& text, float& hz)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok)
        return QStringLiteral("note: --base \"%1\" is not a number").arg(text);
    // Written so that NaN fails too.
    if (!(value >= minimumBaseHz && value <= maximumBaseHz))
        return QStringLiteral("note: --base %1 Hz is outside %2 to %3 Hz")
            .arg(text)
            .arg(minimumBaseHz)
            .arg(maximumBaseHz);
    hz = float(value);
    return QString();
}

QString readCalibration(const QString& text, int& hz)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok) {
        text.toDouble(&ok);
        return ok ? QStringLiteral("note: --calibration %1 is not a whole number of Hz").arg(text)
                  : QStringLiteral("note: --calibration \"%1\" is not a number").arg(text);
    }
    if (value < minimumCalibrationHz || value > maximumCalibrationHz)
        return QStringLiteral("note: --calibration %1 Hz is outside %2 to %3 Hz")
            .arg(value)
            .arg(minimumCalibrationHz)
            .arg(maximumCalibrationHz);
    hz = value;
    return QString();
}

QString readArguments(const QStringList& arguments, NoteRequest& request)
{
    QStringList paths;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (!argument.startsWith(QLatin1String("--"))) {
            paths.append(argument);
            continue;
        }
        if (argument == QLatin1String("--json")) {
            request.json = true;
            continue;
        }
        const bool known = argument == QLatin1String("--base") ||
                           argument == QLatin1String("--calibration") ||
                           argument == QLatin1String("--transpose");
        if (!known)
            return QStringLiteral("note: unknown option \"%1\"").arg(argument);
        if (i + 1 == arguments.size())
            return QStringLiteral("note: %1 needs a value").arg(argument);
        const QString value = arguments.at(++i);
        const QString error =
            argument == QLatin1String("--base") ? readBase(value, request.baseHz)
            : argument == QLatin1String("--calibration")
                ? readCalibration(value, request.calibrationHz)
                : readPath(value, argument, request.transposition, request.transpositionRatio);
        if (!error.isEmpty())
            return error;
    }
    if (paths.isEmpty())
        return QStringLiteral("note: PATH is missing");
    if (paths.size() > 1)
        return QStringLiteral("note: expected one PATH, got %1: %2")
            .arg(paths.size())
            .arg(paths.join(QLatin1Char(' ')));
    return readPath(paths.first(), QStringLiteral("PATH"), request.path, request.pathRatio);
}

QString plainLine(const NoteRequest& request, const SpelledNote& note, float hz)
{
    const int cents = qRound(note.cents);
    QString line =
        QStringLiteral("%1 %2%3 %4 %5 Hz")
            .arg(note.name(), cents >= 0 ? QStringLiteral("+") : QString(), QString::number(cents),
                 request.pathRatio.toString(), QString::number(hz, 'f', 3));
    if (note.respelled)
        line += QLatin1String(" enh");
    return line;
}

QString jsonLine(const NoteRequest& request, const SpelledNote& note, float hz)
{
    const QJsonObject object{{"path", request.path.toString()},
                             {"ratio", request.pathRatio.toString()},
                             {"frequency", double(hz)},
                             {"letter", note.letterName()},
                             {"accidental", note.accidental},
                             {"octave", note.octave},
                             {"name", note.name()},
                             {"cents", double(note.cents)},
                             {"respelled", note.respelled}};
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

int runNote(const QStringList& arguments)
{
    NoteRequest request;
    const QString error = readArguments(arguments, request);
    if (!error.isEmpty())
        return ToolCommands::usageError(error);

    // As the card does it: the exact ratio, then single precision. Two paths
    // of six steps each cannot overflow 64 bits.
    const LatticeRatio sounding = request.pathRatio * request.transpositionRatio;
    const float hz = request.baseHz * (float(sounding.numerator()) / float(sounding.denominator()));
    const SpelledNote note =
        spellLatticeNote(request.baseHz, request.calibrationHz,
                         request.transposition.toList() + request.path.toList(), hz);

    const QString line = request.json ? jsonLine(request, note, hz) : plainLine(request, note, hz);
    std::printf("%s\n", line.toUtf8().constData());
    return ToolCommands::exitOk;
}

} // namespace

static const LatticeToolCommand noteCommand{
    "note", "note PATH [--base HZ] [--calibration HZ] [--transpose STEPS] [--json]", runNote};
