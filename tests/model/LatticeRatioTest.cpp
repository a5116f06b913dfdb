#include "LatticeRatio.h"
#include "LogCapture.h"

#include <QtTest>
#include <limits>

class LatticeRatioTest : public QObject
{
    Q_OBJECT

private slots:
    void normalisesMultipliesAndSteps()
    {
        QCOMPARE(LatticeRatio(6, 4).toString(), QString("3/2"));
        QCOMPARE(LatticeRatio(5, 0).toString(), QString("0/1")); // never raises
        QCOMPARE(LatticeRatio(18446744073709551615ull, 3).toString(),
                 QString("6148914691236517205/1"));
        const LatticeRatio fifth(3, 2);
        QCOMPARE(fifth * fifth.reciprocal(), LatticeRatio(1));
        QCOMPARE((fifth * LatticeRatio(4, 3)).toDouble(), 2.0);
        QCOMPARE(PrimeSteps::stepRatio(-7), LatticeRatio(4, 7));
        // The reciprocal of 0/1 and an unsupported step would divide by zero.
        QCOMPARE(LatticeRatio().reciprocal(), LatticeRatio());
        QCOMPARE(PrimeSteps::stepRatio(-4), LatticeRatio());
        QCOMPARE(PrimeSteps::stepRatio(std::numeric_limits<int>::min()), LatticeRatio());
        for (int step : {0, 1, -1, 4, -9, 24, -29, 127, 1000, std::numeric_limits<int>::min(),
                         std::numeric_limits<int>::max()})
            QVERIFY2(!isValidStep(step), qPrintable(QString::number(step)));
        // The single-precision table must agree with the exact one.
        int valid = 0;
        for (int magnitude = 0; magnitude < PrimeSteps::tableSize; ++magnitude) {
            if (!isValidStep(magnitude))
                continue;
            ++valid;
            QVERIFY(isValidStep(-magnitude));
            const double interval = PrimeSteps::exactInterval(magnitude).toDouble();
            QVERIFY(interval > 1.0 && interval <= 2.0);
            QCOMPARE(PrimeSteps::floatInterval(magnitude), float(interval));
        }
        QCOMPARE(valid, 9);
    }

    // Numerators on one side, denominators on the other, so nothing cancels.
    // Equal ratios hash alike; ratios that differ only above the low 32 bits
    // of a term hash apart and are both found in a hash.
    void hashesWholeTerms()
    {
        QCOMPARE(qHash(LatticeRatio(6, 4)), qHash(LatticeRatio(3, 2)));
        const LatticeRatio high((std::uint64_t(1) << 32) + 3, 2);
        QVERIFY(qHash(high) != qHash(LatticeRatio(3, 2)));
        QVERIFY(qHash(LatticeRatio(3, (std::uint64_t(1) << 33) + 1)) != qHash(LatticeRatio(3)));
        QHash<LatticeRatio, int> index{{LatticeRatio(3, 2), 1}, {high, 2}};
        QCOMPARE(index.value(LatticeRatio(3, 2)), 1);
        QCOMPARE(index.value(high), 2);
    }

    void detectsOverflowingProducts()
    {
        const std::tuple<quint64, quint64, bool> products[] = {
            {1ull << 32, (1ull << 32) - 1, true},
            {1ull << 33, 1ull << 32, false},
            {4294967311ull, 4294967357ull, false}};
        for (const auto& [a, b, fits] : products) {
            LogCapture log;
            QCOMPARE(LatticeRatio(a, 1).canMultiplyWith(LatticeRatio(b, 1)), fits);
            QCOMPARE(log.texts(QtDebugMsg).filter("canMultiply fail on").size(), fits ? 0 : 1);
        }
    }
};

QTEST_APPLESS_MAIN(LatticeRatioTest)
#include "LatticeRatioTest.moc"
