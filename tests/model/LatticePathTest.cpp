#include "LatticePath.h"
#include "LogCapture.h"

#include <QtTest>

class LatticePathTest : public QObject
{
    Q_OBJECT

private slots:
    void parsesAndPrints_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("printed");
        auto row = [](const char* text, const char* printed) {
            QTest::newRow(text) << QString(text) << QString(printed);
        };
        row("", "/");
        row("2/-3", "/2/-3");
        row("//5//7/", "/5/7");
        row("/3/3/3/3/3/3/3", "/3/3/3/3/3/3"); // the seventh step is cut
        row("/3/3/3/3/3/3/x", "/3/3/3/3/3/3"); // and so is anything after six
    }
    void parsesAndPrints()
    {
        QFETCH(QString, text);
        QFETCH(QString, printed);
        LogCapture log;
        const LatticePath path(text);
        QVERIFY(path.isValid());
        QCOMPARE(path.toString(), printed);
        QCOMPARE(path.length(), printed.count('/') - (printed == "/" ? 1 : 0));
        QCOMPARE(LatticePath(path.toString()), path);
        QVERIFY(log.records().isEmpty());
    }

    void rejectsInvalidText_data()
    {
        QTest::addColumn<QString>("text");
        for (const char* text : {"/4", "/2/x", "/0", "/29", "/3/1", "/+-3", "/3.0"})
            QTest::newRow(text) << QString(text);
    }
    void rejectsInvalidText()
    {
        QFETCH(QString, text);
        LogCapture log;
        LatticePath path(QStringLiteral("/3/5"));
        QVERIFY(!path.storeFromString(text));
        QCOMPARE(path, LatticePath::invalid());
        QCOMPARE(path.toString(), QString("/127"));
        QCOMPARE(log.texts(QtDebugMsg), QStringList{"Invalid path:  \"" + text + '"'});
    }

    void appendsAndRemoves()
    {
        LatticePath path;
        path.removeLast();
        QCOMPARE(path, LatticePath());
        for (int step : {2, -3, 5, 7, -11, 13, 17})
            path.append(step);
        QCOMPARE(path.toString(), QString("/2/-3/5/7/-11/13"));
        path.removeLast();
        QCOMPARE(path.toList(), (QList<int>{2, -3, 5, 7, -11}));
    }

    void convertsToRatios_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("ratio");
        auto row = [](const char* text, const char* ratio) {
            QTest::newRow(text) << QString(text) << QString(ratio);
        };
        row("/", "1/1");
        row("/2/-3/3", "2/1");
        row("/2/-3/-3/-3", "16/27");
        row("/3/5/7/11/13/17", "255255/32768");
        row("/-23/-23/-23/-23/-23/-23", "16777216/148035889");
    }
    void convertsToRatios()
    {
        QFETCH(QString, text);
        QFETCH(QString, ratio);
        const std::optional<LatticeRatio> result = LatticePath(text).ratio();
        QVERIFY(result.has_value());
        QCOMPARE(result->toString(), ratio);
    }

    void refusesUnconvertiblePaths()
    {
        QVERIFY(!LatticePath::invalid().ratio().has_value());
        LatticePath unchecked(3);
        unchecked.append(-4); // appending is not checked against the prime table
        QVERIFY(unchecked.isValid());
        QVERIFY(!unchecked.ratio().has_value());
    }

    void equalityAndHashFollowOrder()
    {
        const LatticePath a(QStringLiteral("/2/-3")), b(QStringLiteral("/-3/2"));
        QCOMPARE(*a.ratio(), *b.ratio());
        QVERIFY(a != b);
        QVERIFY(qHash(a, 0) != qHash(b, 0));
        // Bytes behind the terminator take no part.
        QCOMPARE(LatticePath::fromBytes({3, 0, 5, 7, 0, 0, 0}), LatticePath(3));
    }
};

QTEST_APPLESS_MAIN(LatticePathTest)
#include "LatticePathTest.moc"
