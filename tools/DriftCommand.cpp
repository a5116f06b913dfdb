// lattice-tool drift: where a run of transpositions leaves the lattice, as
// the drift meter beside the main window's readout tells it: the monzo, the
// cents reduced by octaves, the comma when the run came back near the start,
// and the fewest steps home.

#include "ToolCommands.h"

#include "LatticePath.h"
#include "Monzo.h"
#include "TranspositionDrift.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <cstdio>
#include <optional>

namespace {

QString plainText(const TranspositionDrift& drift)
{
    QString comma = drift.commaName();
    if (drift.comma())
        comma += QLatin1Char(' ') + drift.commaRatio().toString();
    else if (comma.isEmpty())
        comma = QStringLiteral("none");
    const QList<int> home = drift.homeSteps();
    QString homeText = TranspositionDrift::stepsText(home);
    if (home.size() > LatticePath::maxSteps)
        homeText += QStringLiteral(" (%1 steps, more than the %2 a path holds)")
                        .arg(home.size())
                        .arg(LatticePath::maxSteps);
    return QStringLiteral("monzo %1\ncents %2\ncomma %3\nhome %4\n")
        .arg(drift.monzo().toString(), drift.centsText(3), comma, homeText);
}

QString jsonText(const TranspositionDrift& drift)
{
    QJsonObject monzo;
    for (int prime : Monzo::primes)
        if (const int exponent = drift.monzo().exponent(prime))
            monzo.insert(QString::number(prime), exponent);
    const QString comma = drift.commaName();
    const QJsonObject object{{"monzo", monzo},
                             {"cents", drift.cents()},
                             {"comma", comma.isEmpty() ? QJsonValue() : QJsonValue(comma)},
                             {"home", TranspositionDrift::stepsText(drift.homeSteps())}};
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) +
           QLatin1Char('\n');
}

int runDrift(const QStringList& arguments)
{
    bool json = false;
    QStringList texts;
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("--json"))
            json = true;
        else if (argument.startsWith(QLatin1String("--")))
            return ToolCommands::usageError(
                QStringLiteral("drift: unknown option \"%1\"").arg(argument));
        else
            texts.append(argument);
    }
    if (texts.isEmpty())
        return ToolCommands::usageError(QStringLiteral("drift: STEPS is missing"));
    if (texts.size() > 1)
        return ToolCommands::usageError(QStringLiteral("drift: expected one STEPS, got %1: %2")
                                            .arg(texts.size())
                                            .arg(texts.join(QLatin1Char(' '))));
    const std::optional<QList<int>> steps = TranspositionDrift::readSteps(texts.first());
    if (!steps)
        return ToolCommands::usageError(
            QStringLiteral("drift: \"%1\" is not a run of transpose steps (such as /3/-5, "
                           "primes 2 to 23)")
                .arg(texts.first()));

    const TranspositionDrift drift(Monzo::ofSteps(*steps));
    std::fputs((json ? jsonText(drift) : plainText(drift)).toUtf8().constData(), stdout);
    return ToolCommands::exitOk;
}

} // namespace

static const LatticeToolCommand driftCommand{"drift", "drift STEPS [--json]", runDrift};
