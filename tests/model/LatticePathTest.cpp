#include "LatticePath.h"
#include "LogCapture.h"

#include <QtTest>

class LatticePathTest : public QObject
{
    Q_OBJECT

private slots:
    void parsesAndPrints_data();
    void parsesAndPrints();
    void rejectsInvalidText_data();
    void rejectsInvalidText();
    void appendsAndRemoves();
    void convertsToRatios_data();
    void convertsToRatios();
    void refusesUnconvertiblePaths();
    void equalityAndHashFollowOrder();
};

void LatticePathTest::parsesAndPrints_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("printed");
    QTest::addColumn<int>("length");
    QTest::newRow("root") << "/"
                          << "/" << 0;
    QTest::newRow("empty text") << ""
                                << "/" << 0;
    QTest::newRow("round trip") << "/2/-3/-3/-3"
                                << "/2/-3/-3/-3" << 4;
    QTest::newRow("no leading slash") << "2/-3"
                                      << "/2/-3" << 2;
    QTest::newRow("doubled slash") << "//5//7/"
                                   << "/5/7" << 2;
    QTest::newRow("seven steps cut") << "/3/3/3/3/3/3/3"
                                     << "/3/3/3/3/3/3" << 6;
    QTest::newRow("garbage after six") << "/3/3/3/3/3/3/x"
                                       << "/3/3/3/3/3/3" << 6;
}

void LatticePathTest::parsesAndPrints()
{
    QFETCH(QString, text);
    QFETCH(QString, printed);
    QFETCH(int, length);
    LogCapture log;
    const LatticePath path(text);
    QVERIFY(path.isValid());
    QCOMPARE(path.toString(), printed);
    QCOMPARE(path.length(), length);
    QCOMPARE(LatticePath(path.toString()), path);
    QVERIFY(log.records().isEmpty());
}

void LatticePathTest::rejectsInvalidText_data()
{
    QTest::addColumn<QString>("text");
    for (const char* text : {"/4", "/2/x", "/0", "/29", "/3/1", "/+-3", "/3.0"})
        QTest::newRow(text) << QString(text);
}

void LatticePathTest::rejectsInvalidText()
{
    QFETCH(QString, text);
    LogCapture log;
    LatticePath path(QStringLiteral("/3/5"));
    QVERIFY(!path.storeFromString(text));
    QVERIFY(!path.isValid());
    QCOMPARE(path, LatticePath::invalid());
    QCOMPARE(path.toString(), QString("/127"));
    QCOMPARE(log.texts(QtDebugMsg), QStringList{"Invalid path:  \"" + text + '"'});
}

void LatticePathTest::appendsAndRemoves()
{
    LatticePath path;
    path.removeLast();
    QCOMPARE(path, LatticePath());
    for (int step : {2, -3, 5, 7, -11, 13})
        path.append(step);
    QCOMPARE(path.toString(), QString("/2/-3/5/7/-11/13"));
    path.append(17);
    QCOMPARE(path.length(), 6);
    QCOMPARE(path.lastStep(), 13);
    path.removeLast();
    QCOMPARE(path.toString(), QString("/2/-3/5/7/-11"));
    QCOMPARE(path.toList(), (QList<int>{2, -3, 5, 7, -11}));
    path.clear();
    QCOMPARE(path.toString(), QString("/"));
}

void LatticePathTest::convertsToRatios_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("ratio");
    QTest::newRow("root") << "/"
                          << "1/1";
    QTest::newRow("octave cancels fifths") << "/2/-3/3"
                                           << "2/1";
    QTest::newRow("whole tone") << "/-2/3/3"
                                << "9/8";
    QTest::newRow("down three fifths") << "/2/-3/-3/-3"
                                       << "16/27";
    QTest::newRow("every prime") << "/3/5/7/11/13/17"
                                 << "255255/32768";
    QTest::newRow("deep down") << "/-23/-23/-23/-23/-23/-23"
                               << "16777216/148035889";
}

void LatticePathTest::convertsToRatios()
{
    QFETCH(QString, text);
    QFETCH(QString, ratio);
    const std::optional<LatticeRatio> result = LatticePath(text).ratio();
    QVERIFY(result.has_value());
    QCOMPARE(result->toString(), ratio);
}

void LatticePathTest::refusesUnconvertiblePaths()
{
    QVERIFY(!LatticePath::invalid().ratio().has_value());
    LatticePath unchecked(3);
    unchecked.append(-4); // appending is not checked against the prime table
    QVERIFY(unchecked.isValid());
    QVERIFY(!unchecked.ratio().has_value());
}

void LatticePathTest::equalityAndHashFollowOrder()
{
    const LatticePath a(QStringLiteral("/2/-3")), b(QStringLiteral("/-3/2"));
    QCOMPARE(*a.ratio(), *b.ratio());
    QVERIFY(a != b);
    QVERIFY(qHash(a, 0) != qHash(b, 0));
    QCOMPARE(qHash(a, 1), uint(-3) + 31u * (2u + 31u * 1u));
    // Bytes behind the terminator take no part.
    LatticePath::Bytes bytes{3, 0, 5, 7, 0, 0, 0};
    QCOMPARE(LatticePath::fromBytes(bytes), LatticePath(3));
}

QTEST_APPLESS_MAIN(LatticePathTest)
#include "LatticePathTest.moc"
