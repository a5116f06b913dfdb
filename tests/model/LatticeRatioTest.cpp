#include "LatticeRatio.h"
#include "LogCapture.h"

#include <QtTest>

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
        for (int step : {0, 1, -1, 4, -9, 24, -29, 127, 1000})
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

    void detectsOverflowingProducts_data()
    {
        QTest::addColumn<quint64>("a");
        QTest::addColumn<quint64>("b");
        QTest::addColumn<bool>("fits");
        QTest::newRow("just fits") << quint64(1ull << 32) << quint64((1ull << 32) - 1) << true;
        QTest::newRow("wraps") << quint64(1ull << 33) << quint64(1ull << 32) << false;
        QTest::newRow("huge primes") << quint64(4294967311ull) << quint64(4294967357ull) << false;
    }
    void detectsOverflowingProducts()
    {
        QFETCH(quint64, a);
        QFETCH(quint64, b);
        QFETCH(bool, fits);
        LogCapture log;
        // Numerators on one side, denominators on the other, so nothing cancels.
        const LatticeRatio left(a, 1), right(b, 1);
        QCOMPARE(left.canMultiplyWith(right), fits);
        const QString record = QString("\"canMultiply fail on %1 * %2:\n  test product: %3, real "
                                       "product: %4\"")
                                   .arg(left.toString(), right.toString())
                                   .arg((left * right).toDouble())
                                   .arg(left.toDouble() * right.toDouble());
        QCOMPARE(log.texts(QtDebugMsg), fits ? QStringList() : QStringList{record});
    }
};

QTEST_APPLESS_MAIN(LatticeRatioTest)
#include "LatticeRatioTest.moc"
