#include "UdpListener.h"
#include "LatticeNoteEvent.h"
#include "LogCapture.h"
#include "Settings.h"

#include <QDeadlineTimer>
#include <QUdpSocket>
#include <QtTest>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace {

// Describes each event as "kind value [path]" on the listener thread, while
// the map still owns it. A test holds the mutex to stop the listener inside
// an event, so that it can queue datagrams behind it. Standard primitives
// rather than Qt's, so that the thread sanitizer can follow the hand-overs.
struct EventCollector
{
    void add(const LatticeEvent* event)
    {
        auto note = dynamic_cast<const LatticeNoteEvent*>(event);
        const QString text = QString("%1 %2 %3")
                                 .arg(event->type())
                                 .arg(double(event->value()))
                                 .arg(note ? note->path().toString() : QString());
        ++arrived;
        std::lock_guard<std::mutex> lock(mutex);
        events.append(text.trimmed());
    }
    QStringList received()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return events;
    }

    std::mutex mutex;
    std::atomic<int> arrived{0};
    QStringList events;
};

// Lays a tag out the way the wand does: character i at 27 + 4i, the wand's
// identifier at 23, filler everywhere else.
QByteArray wandDatagram(const QByteArray& tag, int wand, int size = 72, char filler = 0)
{
    QByteArray datagram(size, filler);
    for (int i = 0; i < 10 && 27 + 4 * i < size; ++i)
        datagram[27 + 4 * i] = i < tag.size() ? tag[i] : '\0';
    if (size > 23)
        datagram[23] = static_cast<char>(wand);
    return datagram;
}

bool waitUntil(const std::function<bool()>& done)
{
    for (QDeadlineTimer deadline(10000); !done(); QThread::msleep(2))
        if (deadline.hasExpired())
            return false;
    return true;
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
    std::unique_ptr<Settings> settings;
    std::unique_ptr<UdpListener> listener;
    std::unique_ptr<EventCollector> collector;
    QUdpSocket sender;

    QString record(const char* text) const { return QString(text).arg(settings->udpPort); }
    bool waitForEvents(int count)
    {
        return waitUntil([&] { return collector->arrived >= count; });
    }
    bool startListening()
    {
        listener->start();
        const QString opened = record("UDP socket opened on port %1");
        return waitUntil([&] { return log->count(QtWarningMsg, opened) == 1; });
    }
    bool send(const QByteArray& datagram)
    {
        const quint16 port = static_cast<quint16>(settings->udpPort);
        return sender.writeDatagram(datagram, QHostAddress::LocalHost, port) == datagram.size();
    }

private slots:
    void init()
    {
        dataHome = std::make_unique<QTemporaryDir>();
        qputenv("XDG_DATA_HOME", dataHome->path().toLocal8Bit());
        QCoreApplication::setApplicationName(QStringLiteral("Elsted Tuning Lattice"));
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::DataLocation);
        QVERIFY(QDir().mkpath(folder));
        QFile map(folder + QStringLiteral("/rfid_map.json"));
        QVERIFY(map.open(QIODevice::WriteOnly) && map.write(testMap) == testMap.size());
        log = std::make_unique<LogCapture>();
        settings = std::make_unique<Settings>();
        QUdpSocket probe; // a port nothing listens on at this moment
        QVERIFY(probe.bind(QHostAddress::Any, 0));
        settings->udpPort = probe.localPort();
        listener = std::make_unique<UdpListener>(*settings);
        collector = std::make_unique<EventCollector>();
        connect(listener.get(), &UdpListener::eventReceived,
                [events = collector.get()](const LatticeEvent* event) { events->add(event); });
    }
    void cleanup()
    {
        listener->term();
        listener.reset();
        log.reset();
    }

    void handlesDatagram_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("event");   // empty: none
        QTest::addColumn<QString>("warning"); // empty: none
        auto row = [](const char* name, const QByteArray& datagram, const char* event,
                      const char* warning = "") {
            QTest::newRow(name) << datagram << QString(event) << QString(warning);
        };
        row("tag matched whatever its case", wandDatagram("04A1B2C3D4", 1), "2 3");
        row("wand byte 200", wandDatagram("abc", 200), "10 5");
        row("tag ends at the first zero byte", wandDatagram(QByteArray("abc\0xyz", 7), 0), "10 5");
        row("bytes outside the tag ignored", wandDatagram("c", -1, 72, '\xff'), "0 1 /-5/7");
        row("zero first tag byte", wandDatagram("", 0), "",
            "RFID  not found in mapping table. Ignoring.");
        row("71 bytes", wandDatagram("abc", 0, 71), "",
            "Discarding UDP packet due to wrong size 71");
        row("73 bytes with a mapped tag", wandDatagram("abc", 0, 73), "",
            "Discarding UDP packet due to wrong size 73");
        row("empty datagram", QByteArray(), "", "Discarding UDP packet due to wrong size 0");
    }
    // Every datagram is followed by a mapped one; its event proves that the
    // first was handled and that the loop went on.
    void handlesDatagram()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QString, event);
        QFETCH(QString, warning);
        QVERIFY(startListening());
        QVERIFY(send(datagram) && send(wandDatagram("END", 0)));
        const QStringList expected =
            event.isEmpty() ? QStringList{"1 1"} : QStringList{event, "1 1"};
        QVERIFY(waitForEvents(expected.size()));
        QCOMPARE(collector->received(), expected);
        QVERIFY(warning.isEmpty() || log->count(QtWarningMsg, warning) == 1);
    }

    // The wand can report many reads at once: none may be lost, and they are
    // handled in the order they came. The listener is held inside the event
    // of a first datagram while the others wait in the socket's buffer.
    void keepsABurstInArrivalOrder()
    {
        constexpr int burst = 10000;
        QVERIFY(startListening());
        {
            std::lock_guard<std::mutex> hold(collector->mutex);
            QVERIFY(send(wandDatagram("end", 0)) && waitForEvents(1));
            QVERIFY(send(wandDatagram("c", 0)));
            for (int i = 0; i < 100; ++i)
                QVERIFY(send(wandDatagram("unknown", 0)));
            for (int i = 0; i < burst; ++i)
                QVERIFY(send(wandDatagram("b", 0)));
        }
        QVERIFY2(waitForEvents(2 + burst), qPrintable(QString::number(collector->arrived)));
        const QStringList events = collector->received();
        QCOMPARE(events.size(), 2 + burst);
        QCOMPARE(events.mid(0, 3), (QStringList{"1 1", "0 1 /-5/7", "3 0.5"}));
        // A flood of unknown tags writes one record, not one each.
        QCOMPARE(log->texts(QtWarningMsg).filter("not found in mapping table").size(), 1);
    }

    void listensOnLowSixteenBitsOfPortUntilStopped()
    {
        QSignalSpy fatal(listener.get(), &UdpListener::fatalError);
        settings->udpPort += 65536;
        QVERIFY(startListening());
        QVERIFY(send(wandDatagram("end", 0)) && waitForEvents(1));
        listener->term();
        QVERIFY(listener->isFinished());
        QCOMPARE(log->count(QtWarningMsg, "UDP thread exits run"), 1);
        QVERIFY(log->texts(QtCriticalMsg).isEmpty() && fatal.isEmpty());
    }

    void reportsFatalError_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<QString>("message");
        QTest::newRow("port in use")
            << "port"
            << "Can't open UDP socket on port %1. UDP thread shutting down.";
        QTest::newRow("map not JSON")
            << "map"
            << "Failed to load RFID mapping file, UDP thread shutting down.";
    }
    void reportsFatalError()
    {
        QFETCH(QString, cause);
        QFETCH(QString, message);
        QUdpSocket occupant;
        if (cause == "port") {
            QVERIFY(occupant.bind(QHostAddress::Any, static_cast<quint16>(settings->udpPort)));
        } else {
            QFile map(QStandardPaths::writableLocation(QStandardPaths::DataLocation) +
                      QStringLiteral("/rfid_map.json"));
            QVERIFY(map.open(QIODevice::WriteOnly) && map.write("{\"abc\": ") > 0);
        }
        message = message.arg(settings->udpPort);
        QSignalSpy fatal(listener.get(), &UdpListener::fatalError);
        listener->start();
        QVERIFY(listener->wait(5000));
        QCOMPARE(fatal.count(), 1);
        QCOMPARE(fatal.first().first().toString(), message);
        QCOMPARE(log->texts(QtCriticalMsg).last(), '"' + message + '"');
        QVERIFY(!log->texts(QtWarningMsg).contains(QStringLiteral("UDP thread exits run")));
    }
};

QTEST_GUILESS_MAIN(UdpListenerTest)
#include "UdpListenerTest.moc"
