#include "TranspositionDrift.h"
#include "LatticeRatio.h"
#include "Monzo.h"
#include "NamedComma.h"

#include <QtTest>

namespace {

QList<int> stepsOf(const QString& text)
{
    QList<int> steps;
    for (const QString& part : text.split('/', Qt::SkipEmptyParts))
        steps.append(part.toInt());
    return steps;
}

LatticeRatio productOf(const QList<int>& steps)
{
    LatticeRatio product(1);
    for (int step : steps)
        product *= PrimeSteps::stepRatio(step);
    return product;
}

} // namespace

// Comma pumps: runs of transpose steps that come back near where they began.
class TranspositionDriftTest : public QObject
{
    Q_OBJECT

private slots:
    // comma: the name and the ratio the way the run went, "unnamed" within
    // 60 cents of the start, empty further off or on an octave of it.
    void namesThePumpedCommaAndLeadsHome_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("monzo");
        QTest::addColumn<double>("cents");
        QTest::addColumn<QString>("comma");
        QTest::addColumn<QString>("home");
        const auto row = [](const char* name, const char* steps, const char* monzo, double cents,
                            const char* comma, const char* home) {
            QTest::newRow(name) << steps << monzo << cents << comma << home;
        };
        row("twelve fifths", "/3/3/3/3/3/3/3/3/3/3/3/3/-2/-2/-2/-2/-2/-2/-2", "[-19 12>", 23.460,
            "Pythagorean comma 531441/524288",
            "/-3/2/-3/-3/2/-3/2/-3/-3/2/-3/-3/2/-3/2/-3/-3/2/-3");
        row("schisma", "/3/3/3/3/3/3/3/3/5/-2/-2/-2/-2/-2", "[-15 8 1>", 1.954,
            "schisma 32805/32768", "/-5/2/-3/-3/2/-3/-3/2/-3/2/-3/-3/2/-3");
        row("kleisma", "/5/5/5/5/5/5/-3/-3/-3/-3/-3/2", "[-6 -5 6>", 8.107, "kleisma 15625/15552",
            "/-5/3/-5/-5/3/-5/-5/3/-5/3/-2/3");
        row("syntonic", "/3/3/3/3/-5/-2/-2", "[-4 4 -1>", 21.506, "syntonic comma 81/80",
            "/5/-3/2/-3/-3/2/-3");
        row("syntonic down", "/-3/-3/-3/-3/5/2/2", "[4 -4 1>", -21.506, "syntonic comma 80/81",
            "/-5/3/-2/3/3/-2/3");
        row("syntonic an octave up", "/3/3/3/3/-5", "[-2 4 -1>", 21.506, "syntonic comma 81/80",
            "/-3/-3/-3/-3/5");
        row("diaschisma", "/-3/-3/-3/-3/-5/-5/2/2/2", "[11 -4 -2>", 19.553, "diaschisma 2048/2025",
            "/5/5/-2/3/-2/3/3/-2/3");
        row("lesser diesis", "/-5/-5/-5/2", "[7 0 -3>", 41.059, "lesser diesis 128/125",
            "/5/-2/5/5");
        row("lesser diesis down", "/5/5/5/-2", "[-7 0 3>", -41.059, "lesser diesis 125/128",
            "/-5/2/-5/-5");
        row("greater diesis, past 60 cents", "/3/3/3/3/-5/-5/-5/-5/-2", "[3 4 -4>", 62.565,
            "greater diesis 648/625", "/5/-3/5/5/-3/5/-3/2/-3");
        row("septimal kleisma", "/3/3/5/5/-7/-2", "[-5 2 2 -1>", 7.712, "septimal kleisma 225/224",
            "/-5/7/-3/-5/2/-3");
        row("septimal semicomma", "/3/3/7/-5/-5/-5/-2", "[1 2 -3 1>", 13.795,
            "septimal semicomma 126/125", "/5/-3/5/5/-3/2/-7");
        row("septimal", "/-3/-3/-7/2/2", "[6 -2 0 -1>", 27.264, "septimal comma 64/63",
            "/3/-2/3/-2/7");
        row("undecimal", "/3/11/-2", "[-5 1 0 0 1>", 53.273, "undecimal comma 33/32", "/-11/2/-3");
        row("tridecimal", "/3/3/3/-13/-2", "[-1 3 0 0 0 -1>", 65.337, "tridecimal third-tone 27/26",
            "/-3/13/-3/2/-3");
        row("17", "/3/3/3/3/3/3/3/-17/-2/-2/-2/-2", "[-7 7 0 0 0 0 -1>", 8.730,
            "septendecimal schisma 2187/2176", "/17/-3/2/-3/-3/2/-3/2/-3/-3/2/-3");
        row("19", "/3/3/3/19/-2/-2", "[-9 3 0 0 0 0 0 1>", 3.378, "19-limit schisma 513/512",
            "/-19/2/-3/-3/2/-3");
        row("23", "/-3/-3/-3/-3/-3/-3/23/2/2/2", "[5 -6 0 0 0 0 0 0 1>", 16.544,
            "23-limit comma 736/729", "/-23/3/3/-2/3/-2/3/3/-2/3");
        row("jubilisma, in no table", "/5/5/-7/-7", "[0 0 2 -2>", 34.976, "unnamed", "/7/-5/7/-5");
        row("a fifth, a fourth below", "/3", "[-1 1>", -498.045, "", "/-3");
        row("undecimal tritone", "/11", "[-3 0 0 0 1>", 551.318, "", "/-11");
        row("an octave", "/2", "[1>", 0.0, "", "/-2");
        row("home", "/", "[0>", 0.0, "", "/");
    }

    void namesThePumpedCommaAndLeadsHome()
    {
        QFETCH(QString, steps);
        QFETCH(QString, monzo);
        QFETCH(double, cents);
        QFETCH(QString, comma);
        QFETCH(QString, home);
        const QList<int> run = stepsOf(steps);
        const TranspositionDrift drift(Monzo::ofSteps(run));
        QCOMPARE(drift.monzo().toString(), monzo);
        QVERIFY2(qAbs(drift.cents() - cents) < 0.0005, qPrintable(QString::number(drift.cents())));
        QCOMPARE(drift.comma() ? drift.commaName() + ' ' + drift.commaRatio().toString()
                               : drift.commaName(),
                 comma);
        QCOMPARE(drift.isNearHome(), !comma.isEmpty());
        QCOMPARE(TranspositionDrift::stepsText(drift.homeSteps()), home);
        // Apart from the monzos: the run and the way home multiply to exactly
        // 1/1, and the run's ratio factors back into the run's monzo.
        QCOMPARE(productOf(run) * productOf(drift.homeSteps()), LatticeRatio(1));
        LatticeRatio rest;
        QCOMPARE(Monzo::ofRatio(productOf(run), &rest), drift.monzo());
        QCOMPARE(rest, LatticeRatio(1));
    }
};

QTEST_GUILESS_MAIN(TranspositionDriftTest)
#include "TranspositionDriftTest.moc"
