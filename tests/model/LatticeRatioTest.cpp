#include "LatticeRatio.h"
#include "LogCapture.h"

#include <QtTest>

class LatticeRatioTest : public QObject
{
    Q_OBJECT

private slots:
    void normalisesAndPrints_data();
    void normalisesAndPrints();
    void multipliesByReciprocals();
    void zeroDenominatorNeverRaises();
    void validSteps_data();
    void validSteps();
    void detectsOverflowingProducts_data();
    void detectsOverflowingProducts();
    void hashIgnoresHighHalves();
};

void LatticeRatioTest::normalisesAndPrints_data()
{
    QTest::addColumn<quint64>("numerator");
    QTest::addColumn<quint64>("denominator");
    QTest::addColumn<QString>("text");
    QTest::newRow("reduced") << quint64(6) << quint64(4) << "3/2";
    QTest::newRow("zero numerator") << quint64(0) << quint64(7) << "0/1";
    QTest::newRow("whole") << quint64(8) << quint64(4) << "2/1";
    QTest::newRow("large") << quint64(18446744073709551615ull) << quint64(3)
                           << "6148914691236517205/1";
}

void LatticeRatioTest::normalisesAndPrints()
{
    QFETCH(quint64, numerator);
    QFETCH(quint64, denominator);
    QFETCH(QString, text);
    QCOMPARE(LatticeRatio(numerator, denominator).toString(), text);
    QCOMPARE(LatticeRatio().toString(), QString("0/1"));
}

void LatticeRatioTest::multipliesByReciprocals()
{
    const LatticeRatio fifth(3, 2);
    QCOMPARE(fifth * fifth.reciprocal(), LatticeRatio(1));
    QCOMPARE(LatticeRatio(5, 4) * LatticeRatio(8, 5), LatticeRatio(2));
    QCOMPARE((fifth * LatticeRatio(4, 3)).toDouble(), 2.0);
    QCOMPARE(PrimeSteps::stepRatio(-7), LatticeRatio(4, 7));
    QCOMPARE(PrimeSteps::stepRatio(23), LatticeRatio(23, 16));
}

void LatticeRatioTest::zeroDenominatorNeverRaises()
{
    // The reciprocal of 0/1 and an unsupported step would divide by zero.
    QCOMPARE(LatticeRatio(5, 0), LatticeRatio());
    QCOMPARE(LatticeRatio().reciprocal(), LatticeRatio());
    QCOMPARE(PrimeSteps::stepRatio(-4), LatticeRatio());
    QCOMPARE(PrimeSteps::stepRatio(-29), LatticeRatio());
}

void LatticeRatioTest::validSteps_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("valid");
    for (int p : {2, 3, 5, 7, 11, 13, 17, 19, 23}) {
        QTest::addRow("+%d", p) << p << true;
        QTest::addRow("-%d", p) << -p << true;
    }
    for (int s : {0, 1, -1, 4, -4, 9, -9, 24, -24, 127, -128, 1000})
        QTest::addRow("%d", s) << s << false;
}

void LatticeRatioTest::validSteps()
{
    QFETCH(int, step);
    QFETCH(bool, valid);
    QCOMPARE(isValidStep(step), valid);
    if (valid) {
        const double interval = PrimeSteps::exactInterval(std::abs(step)).toDouble();
        QVERIFY(interval > 1.0 && interval <= 2.0);
        QCOMPARE(float(interval), PrimeSteps::floatInterval(std::abs(step)));
    }
}

void LatticeRatioTest::detectsOverflowingProducts_data()
{
    QTest::addColumn<quint64>("a");
    QTest::addColumn<quint64>("b");
    QTest::addColumn<bool>("fits");
    QTest::newRow("small") << quint64(3) << quint64(5) << true;
    QTest::newRow("just fits") << quint64(1ull << 32) << quint64((1ull << 32) - 1) << true;
    QTest::newRow("wraps") << quint64(1ull << 33) << quint64(1ull << 32) << false;
    QTest::newRow("huge primes") << quint64(4294967311ull) << quint64(4294967357ull) << false;
}

void LatticeRatioTest::detectsOverflowingProducts()
{
    QFETCH(quint64, a);
    QFETCH(quint64, b);
    QFETCH(bool, fits);
    LogCapture log;
    // Numerators on one side, denominators on the other, so nothing cancels.
    const LatticeRatio left(a, 1), right(b, 1);
    QCOMPARE(left.canMultiplyWith(right), fits);
    const QStringList debug = log.texts(QtDebugMsg);
    QCOMPARE(debug.size(), fits ? 0 : 1);
    if (!fits) {
        const QString expected = QString("\"canMultiply fail on %1 * %2:\n  test product: %3, real "
                                         "product: %4\"")
                                     .arg(left.toString(), right.toString())
                                     .arg((left * right).toDouble())
                                     .arg(left.toDouble() * right.toDouble());
        QCOMPARE(debug.first(), expected);
    }
}

void LatticeRatioTest::hashIgnoresHighHalves()
{
    const LatticeRatio a((1ull << 40) + 3, 1), b((1ull << 41) + 3, 1);
    QCOMPARE(qHash(a, 7), qHash(b, 7));
    QVERIFY(a != b);
    QCOMPARE(qHash(LatticeRatio(3, 2), 0), (0u * 31u + 3u) * 31u + 2u);
    QSet<LatticeRatio> set{a, b, LatticeRatio(3, 2)};
    QCOMPARE(set.size(), 3);
}

QTEST_APPLESS_MAIN(LatticeRatioTest)
#include "LatticeRatioTest.moc"
