#include "LatticePath.h"

#include <QtTest>

class LatticePathTest : public QObject
{
    Q_OBJECT

private slots:
    void parsesPrintsAndConverts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("printed"); // empty: the text is refused
        QTest::addColumn<QString>("ratio");
        auto row = [](const char* text, const char* printed = "", const char* ratio = "") {
            QTest::newRow(text) << QString(text) << QString(printed) << QString(ratio);
        };
        row("", "/", "1/1");
        row("2/-3/3", "/2/-3/3", "2/1");
        row("//2/-3//-3/-3/", "/2/-3/-3/-3", "16/27");
        // Anything after the sixth step is cut.
        row("/3/5/7/11/13/17/3", "/3/5/7/11/13/17", "255255/32768");
        row("/-23/-23/-23/-23/-23/-23/x", "/-23/-23/-23/-23/-23/-23", "16777216/148035889");
        for (const char* text : {"/4", "/2/x", "/0", "/29", "/3/1", "/+-3", "/3.0", "/-2147483648"})
            row(text);
    }
    void parsesPrintsAndConverts()
    {
        QFETCH(QString, text);
        QFETCH(QString, printed);
        QFETCH(QString, ratio);
        LatticePath path(QStringLiteral("/3/5"));
        QCOMPARE(path.storeFromString(text), !printed.isEmpty());
        QCOMPARE(path.ratio().has_value(), !ratio.isEmpty());
        if (printed.isEmpty()) {
            QCOMPARE(path, LatticePath::invalid());
            QCOMPARE(path.toString(), QString("/127"));
            return;
        }
        QCOMPARE(path.toString(), printed);
        QCOMPARE(path.length(), printed.count('/') - (printed == "/" ? 1 : 0));
        QCOMPARE(LatticePath(path.toString()), path);
        QCOMPARE(path.ratio()->toString(), ratio);
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
        path.append(-4); // appending is not checked against the prime table
        QVERIFY(path.isValid() && !path.ratio().has_value());
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
