#include <QUdpSocket>
#include <QtTest>

#include "ToolRun.h"

// Runs the built lattice-tool wand against a socket of the test's own on the
// loopback interface and checks every byte that arrives.
class WandCommandTest : public QObject
{
    Q_OBJECT

    using Run = ToolRun;
    static Run run(const QStringList& arguments)
    {
        return runTool(QStringLiteral("wand"), arguments);
    }

    // The tool has finished sending; a datagram not there within five
    // seconds never came.
    static QByteArray receive(QUdpSocket& socket)
    {
        if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(5000))
            return QByteArray();
        QByteArray datagram(int(socket.pendingDatagramSize()), '\0');
        socket.readDatagram(datagram.data(), datagram.size());
        return datagram;
    }

    // The wand's layout: tag character i at 27 + 4i, the wand at byte 23.
    static QByteArray wandDatagram(const QByteArray& tag, char wand)
    {
        QByteArray datagram(72, '\0');
        datagram[23] = wand;
        for (int i = 0; i < tag.size(); ++i)
            datagram[27 + 4 * i] = tag[i];
        return datagram;
    }

private slots:
    void sendsWandDatagram_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("line");
        QTest::newRow("ten characters")
            << "04A1B2C3D4" << QStringList() << wandDatagram("04A1B2C3D4", 0)
            << "sent tag \"04A1B2C3D4\" from wand 0 to 127.0.0.1 port %1\n";
        QTest::newRow("wand 200 is byte 200, read as -56")
            << "abc" << QStringList{"--wand", "200", "--host", "127.0.0.1"}
            << wandDatagram("abc", char(200))
            << "sent tag \"abc\" from wand -56 to 127.0.0.1 port %1\n";
        QTest::newRow("Latin-1 character")
            << QString::fromUtf8("caf\u00e9") << QStringList() << wandDatagram("caf\xe9", 0)
            << QString::fromUtf8("sent tag \"caf\u00e9\" from wand 0 to 127.0.0.1 port %1\n");
    }
    void sendsWandDatagram()
    {
        QFETCH(QString, tag);
        QFETCH(QStringList, options);
        QFETCH(QByteArray, datagram);
        QFETCH(QString, line);
        QUdpSocket listener;
        QVERIFY(listener.bind(QHostAddress::LocalHost, 0));
        const QString port = QString::number(listener.localPort());
        const Run result = run(QStringList{tag, "--port", port} + options);
        QCOMPARE(result.err, QString());
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.out, line.arg(port));
        QCOMPARE(receive(listener), datagram);
        QVERIFY(!listener.hasPendingDatagrams());
    }

    void sendsToPort8888ByDefault()
    {
        QUdpSocket listener;
        if (!listener.bind(QHostAddress::LocalHost, 8888))
            QSKIP("port 8888 is in use on this machine");
        QCOMPARE(run({QStringLiteral("end")}).exitCode, 0);
        QCOMPARE(receive(listener), wandDatagram("end", 0));
    }

    void rejectsBadUsage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no tag") << QStringList();
        QTest::newRow("eleven characters") << QStringList{"04A1B2C3D4E"};
        QTest::newRow("character beyond Latin-1") << QStringList{QString::fromUtf8("\u20ac")};
        QTest::newRow("wand above a byte") << QStringList{"a", "--wand", "256"};
        QTest::newRow("port 0") << QStringList{"a", "--port", "0"};
        QTest::newRow("unknown option") << QStringList{"a", "--repeat", "3"};
    }
    void rejectsBadUsage()
    {
        QFETCH(QStringList, arguments);
        const Run result = run(arguments);
        QCOMPARE(result.exitCode, 2);
        QCOMPARE(result.out, QString());
        QVERIFY(result.err.startsWith(QStringLiteral("lattice-tool: ")));
        QCOMPARE(result.err.count('\n'), 1);
    }
};

QTEST_GUILESS_MAIN(WandCommandTest)
#include "WandCommandTest.moc"
