#include "UdpListener.h"
#include "LogCapture.h"
#include "ModelFixtures.h"
#include "NetworkAccess.h"
#include "Settings.h"

#include <QUdpSocket>
#include <QtTest>
#include <atomic>
#include <memory>
#include <mutex>

namespace {

// Lays a tag out the way the wand does: character i at 27 + 4i, the wand's
// identifier at 23, filler everywhere else.
QByteArray wandDatagram(const QByteArray& tag, int wand, int size = 72, char filler = 0)
{
    QByteArray datagram(size, filler);
    for (int i = 0; i < 10; ++i)
        datagram[27 + 4 * i] = i < tag.size() ? tag[i] : '\0';
    datagram[23] = static_cast<char>(wand);
    return datagram;
}

const QByteArray testMap = R"({"04a1b2c3d4": {"event": 2, "value": 3},
    "abc": {"event": 10, "value": 5}, "b": {"event": 3, "value": 0.5},
    "c": {"event": 0, "value": "/-5/7"}, "end": {"event": 1, "value": 1}})";

} // namespace

class UdpListenerTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dataHome;
    std::unique_ptr<LogCapture> log;
    Settings settings;
    std::unique_ptr<UdpListener> listener;
    // Each event as "kind value [path]", described on the listener thread
    // while the map owns it. Holding the mutex stops the listener inside an
    // event. Standard primitives, which the thread sanitizer can follow.
    std::mutex eventsMutex;
    std::atomic<int> arrived{0};
    QStringList events;
    QUdpSocket sender;

    bool waitForEvents(int count)
    {
        return QTest::qWaitFor([&] { return arrived >= count; }, 10000);
    }
    QStringList received()
    {
        std::lock_guard<std::mutex> lock(eventsMutex);
        return events;
    }
    bool startListening()
    {
        listener->start();
        const QString opened = QString("UDP socket opened on port %1").arg(settings.udpPort);
        return QTest::qWaitFor([&] { return log->count(QtWarningMsg, opened) == 1; }, 10000);
    }
    bool send(const QByteArray& datagram)
    {
        const quint16 port = static_cast<quint16>(settings.udpPort);
        return sender.writeDatagram(datagram, QHostAddress::LocalHost, port) == datagram.size();
    }

private slots:
    void init()
    {
        dataHome = std::make_unique<QTemporaryDir>();
        QVERIFY(Fixtures::useDataFolderIn(*dataHome) &&
                Fixtures::writeData("rfid_map.json", testMap));
        log = std::make_unique<LogCapture>();
        QUdpSocket probe; // a port nothing listens on at this moment
        QVERIFY(probe.bind(QHostAddress::Any, 0));
        settings.udpPort = probe.localPort();
        listener = std::make_unique<UdpListener>(settings);
        events.clear();
        arrived = 0;
        connect(listener.get(), &UdpListener::eventReceived, [this](const LatticeEvent* event) {
            const QString text = Fixtures::describe(event);
            ++arrived;
            std::lock_guard<std::mutex> lock(eventsMutex);
            events.append(text);
        });
    }
    void cleanup()
    {
        listener.reset();
        log.reset();
    }

    // Each datagram is followed by a mapped one, whose event shows that the loop went on.
    void handlesDatagrams()
    {
        const std::pair<QByteArray, QString> cases[] = {
            {wandDatagram("04A1B2C3D4", 1), "2 3"}, // matched whatever its case
            {wandDatagram("abc", 200), "10 5"},
            {wandDatagram(QByteArray("abc\0xyz", 7), 0), "10 5"}, // ends at the first zero byte
            {wandDatagram("c", -1, 72, '\xff'), "0 1 /-5/7"},     // bytes outside the tag ignored
            {wandDatagram("", 0), ""},
            {wandDatagram("abc", 0, 71), ""},
            {wandDatagram("abc", 0, 73), ""},
            {QByteArray(), ""}};
        QVERIFY(startListening());
        QStringList expected;
        for (const auto& [datagram, event] : cases) {
            QVERIFY(send(datagram) && send(wandDatagram("END", 0)));
            expected += event.isEmpty() ? QStringList{"1 1"} : QStringList{event, "1 1"};
            QVERIFY2(waitForEvents(expected.size()), qPrintable(received().join('|')));
        }
        QCOMPARE(received(), expected);
    }

    // The listener is held inside the event of a first datagram while the others
    // wait in the socket's buffer. Only the low 16 bits of the port count.
    void keepsABurstInArrivalOrderUntilStopped()
    {
        constexpr int burst = 10000;
        QSignalSpy fatal(listener.get(), &UdpListener::fatalError);
        settings.udpPort += 65536;
        QVERIFY(startListening());
        {
            std::lock_guard<std::mutex> hold(eventsMutex);
            QVERIFY(send(wandDatagram("end", 0)) && waitForEvents(1));
            QVERIFY(send(wandDatagram("c", 0)));
            for (int i = 0; i < 100; ++i)
                QVERIFY(send(wandDatagram("unknown", 0)) && send(wandDatagram("abc", 0, 71)));
            for (int i = 0; i < burst; ++i)
                QVERIFY(send(wandDatagram("b", 0)));
        }
        QVERIFY2(waitForEvents(2 + burst), qPrintable(QString::number(arrived)));
        const QStringList events = received();
        QCOMPARE(events.size(), 2 + burst);
        QCOMPARE(events.mid(0, 3), (QStringList{"1 1", "0 1 /-5/7", "3 0.5"}));
        // A flood from the network writes one record of each kind, not one each.
        const QStringList warnings = log->texts(QtWarningMsg);
        QCOMPARE(warnings.filter("not found in mapping table").size(), 1);
        QCOMPARE(warnings.filter("wrong size 71").size(), 1);
        listener->term();
        QVERIFY(listener->isFinished());
        QCOMPARE(log->count(QtWarningMsg, "UDP thread exits run"), 1);
        QVERIFY(log->texts(QtCriticalMsg).isEmpty() && fatal.isEmpty());
    }

    // Allow-lists: CIDR networks, single addresses, IPv4 senders on a dual-stack socket.
    void sendersAndListenAddresses()
    {
        QStringList rejected;
        const SenderFilter filter({"10.1.0.0/16", " 192.168.7.9 ", "::1/128", "10.0.0.0/33", "x"},
                                  &rejected);
        QCOMPARE(rejected, (QStringList{"10.0.0.0/33", "x"}));
        const std::pair<const char*, bool> senders[] = {
            {"10.1.200.3", true},  {"10.2.0.1", false},        {"::ffff:10.1.0.9", true},
            {"192.168.7.9", true}, {"192.168.7.10", false},    {"::1", true},
            {"127.0.0.1", false},  {"::ffff:127.0.0.1", false}};
        for (const auto& [sender, allowed] : senders)
            QVERIFY2(filter.allows(QHostAddress(sender)) == allowed, sender);
        QVERIFY(SenderFilter().allows(QHostAddress("203.0.113.5")));

        QCOMPARE(*listenAddress("all"), QHostAddress(QHostAddress::Any));
        QCOMPARE(*listenAddress("loopback"), QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(*listenAddress("lo"), QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(*listenAddress("127.0.0.1"), QHostAddress(QHostAddress::LocalHost));
        QString why;
        QVERIFY(!listenAddress("203.0.113.5", &why) && why.contains("not an address of this"));
        QVERIFY(!listenAddress("no-such-interface", &why) && why.contains("no interface"));
    }

    // A sender outside the list is dropped before its datagram is read as a tag, and a
    // flood of them writes one record; the listener binds only where it is told.
    void dropsSendersThatAreNotAllowed()
    {
        settings.udpAllow = QStringList{"10.0.0.0/8"};
        settings.udpListen = "loopback";
        QVERIFY(startListening());
        for (int i = 0; i < 50; ++i)
            QVERIFY(send(wandDatagram("abc", 0)) && send(wandDatagram("abc", 0, 70)));
        QVERIFY(QTest::qWaitFor(
            [&] { return !log->texts(QtWarningMsg).filter("dropping").isEmpty(); }, 5000));
        QTest::qWait(200);
        QCOMPARE(log->texts(QtWarningMsg).filter("Wand: dropping datagrams from 127.0.0.1").size(),
                 1);
        QVERIFY(log->texts(QtWarningMsg).filter("wrong size").isEmpty());
        QCOMPARE(arrived.load(), 0);
        listener->term();

        settings.udpAllow = QStringList{"127.0.0.0/8"};
        listener = std::make_unique<UdpListener>(settings);
        connect(listener.get(), &UdpListener::eventReceived, [this] { ++arrived; });
        log.reset(); // before the next capture takes the handler
        log = std::make_unique<LogCapture>();
        QVERIFY(startListening());
        QVERIFY(send(wandDatagram("abc", 0)) && waitForEvents(1));
        settings.udpAllow.clear();
        settings.udpListen = "all";
    }

    // A map that is not JSON, then a port in use: each ends the run, told and recorded.
    void reportsFatalErrors()
    {
        QSignalSpy fatal(listener.get(), &UdpListener::fatalError);
        QVERIFY(Fixtures::writeData("rfid_map.json", "{\"abc\": "));
        listener->start();
        QVERIFY(listener->wait(5000) && Fixtures::writeData("rfid_map.json", testMap));
        QUdpSocket occupant;
        QVERIFY(occupant.bind(QHostAddress::Any, static_cast<quint16>(settings.udpPort)));
        listener->start();
        QVERIFY(listener->wait(5000));
        QCOMPARE(fatal.count(), 2);
        QCOMPARE(fatal[0][0].toString(),
                 QString("Failed to load RFID mapping file, UDP thread shutting down."));
        QCOMPARE(fatal[1][0].toString(),
                 QString("Can't open UDP socket on port %1. UDP thread shutting down.")
                     .arg(settings.udpPort));
        QCOMPARE(log->texts(QtCriticalMsg).filter("shutting down").size(), 2);
        QVERIFY(!log->texts(QtWarningMsg).contains(QStringLiteral("UDP thread exits run")));
    }
};

QTEST_GUILESS_MAIN(UdpListenerTest)
#include "UdpListenerTest.moc"
