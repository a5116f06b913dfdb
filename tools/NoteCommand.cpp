// lattice-tool note: spells one ball the way its note card does, so that note
// names can be checked without starting the instrument.

#include "ToolCommands.h"

#include "HejiSpelling.h"
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
    bool heji = false; // --notation heji
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

QString readNotation(const QString& text, bool& heji)
{
    if (text != QLatin1String("letters") && text != QLatin1String("heji"))
        return QStringLiteral("note: --notation is letters or heji, not \"%1\"").arg(text);
    heji = text == QLatin1String("heji");
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
        const bool known =
            argument == QLatin1String("--base") || argument == QLatin1String("--calibration") ||
            argument == QLatin1String("--notation") || argument == QLatin1String("--transpose");
        if (!known)
            return QStringLiteral("note: unknown option \"%1\"").arg(argument);
        if (i + 1 == arguments.size())
            return QStringLiteral("note: %1 needs a value").arg(argument);
        const QString value = arguments.at(++i);
        const QString error =
            argument == QLatin1String("--base") ? readBase(value, request.baseHz)
            : argument == QLatin1String("--calibration")
                ? readCalibration(value, request.calibrationHz)
            : argument == QLatin1String("--notation")
                ? readNotation(value, request.heji)
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

// symbols: the Helmholtz-Ellis ones after the name, "5v 7v", when there are any.
QString plainLine(const NoteRequest& request, const SpelledNote& note, float hz,
                  const QString& symbols = QString())
{
    const int cents = qRound(note.cents);
    const QString name = symbols.isEmpty() ? note.name() : note.name() + QLatin1Char(' ') + symbols;
    QString line =
        QStringLiteral("%1 %2%3 %4 %5 Hz")
            .arg(name, cents >= 0 ? QStringLiteral("+") : QString(), QString::number(cents),
                 request.pathRatio.toString(), QString::number(hz, 'f', 3));
    if (note.respelled)
        line += QLatin1String(" enh");
    return line;
}

// The letters spelling, and the Helmholtz-Ellis one under "heji" when asked for.
QString jsonLine(const NoteRequest& request, const SpelledNote& note, float hz,
                 const HejiSpelling* heji)
{
    QJsonObject object{{"path", request.path.toString()},
                       {"ratio", request.pathRatio.toString()},
                       {"frequency", double(hz)},
                       {"letter", note.letterName()},
                       {"accidental", note.accidental},
                       {"octave", note.octave},
                       {"name", note.name()},
                       {"cents", double(note.cents)},
                       {"respelled", note.respelled}};
    if (heji) {
        QJsonObject primes;
        for (const int prime : HejiSpelling::symbolPrimes)
            if (const int count = heji->symbolCount(prime))
                primes.insert(QString::number(prime), count);
        object.insert(QStringLiteral("heji"), QJsonObject{{"letter", heji->note.letterName()},
                                                          {"accidental", heji->note.accidental},
                                                          {"octave", heji->note.octave},
                                                          {"primes", primes},
                                                          {"cents", double(heji->note.cents)},
                                                          {"respelled", heji->note.respelled}});
    }
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
    const QList<int> steps = request.transposition.toList() + request.path.toList();
    const SpelledNote note = spellLatticeNote(request.baseHz, request.calibrationHz, steps, hz);
    QString line;
    if (request.heji) {
        // Measured against the exact ratio, so that a pure note shows 0 cents.
        const HejiSpelling heji = spellHejiNote(request.baseHz, request.calibrationHz, steps,
                                                double(request.baseHz) * sounding.toDouble());
        line = request.json ? jsonLine(request, note, hz, &heji)
                            : plainLine(request, heji.note, hz, heji.symbolText());
    } else {
        line = request.json ? jsonLine(request, note, hz, nullptr) : plainLine(request, note, hz);
    }
    std::printf("%s\n", line.toUtf8().constData());
    return ToolCommands::exitOk;
}

} // namespace

static const LatticeToolCommand noteCommand{
    "note",
    "note PATH [--base HZ] [--calibration HZ] [--transpose STEPS] [--notation letters|heji] "
    "[--json]",
    runNote};
