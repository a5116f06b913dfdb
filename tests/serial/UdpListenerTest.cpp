#include "UdpListener.h"
#include "LatticeNoteEvent.h"
#include "LogCapture.h"
#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

// The hand-overs between the test and the listener thread use the standard
// primitives rather than Qt's, so that the thread sanitizer can follow them.
namespace {

struct ReceivedEvent
{
    int kind;
    float value;
    QString path;
};

// Lets a test wait, without sleeping, until some thread has logged a record.
// Installed after a LogCapture, it hands every record on to it.
class RecordLatch
{
public:
    RecordLatch() : previous(qInstallMessageHandler(&RecordLatch::handle)) { current = this; }
    ~RecordLatch()
    {
        qInstallMessageHandler(previous);
        current = nullptr;
    }

    bool waitFor(const QString& text)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return seenChanged.wait_for(lock, std::chrono::seconds(5),
                                    [&] { return seen.contains(text); });
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        RecordLatch* self = current;
        self->previous(type, context, text);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->seen.append(text);
        self->seenChanged.notify_all();
    }

    static inline std::atomic<RecordLatch*> current{nullptr};
    QtMessageHandler previous;
    std::mutex mutex;
    std::condition_variable seenChanged;
    QStringList seen;
};

// Copies each event on the listener thread, while the map still owns it, and
// hands the copy to the test thread. Can hold the listener inside its first
// event, so that a test can queue datagrams behind it.
class EventCollector : public QObject
{
    Q_OBJECT

public:
    void holdFirstEvent() { holding = true; }
    bool waitUntilHeld()
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5), [this] { return held; });
    }
    void releaseHeld()
    {
        std::lock_guard<std::mutex> lock(mutex);
        resumed = true;
        changed.notify_all();
    }

    // Test thread.
    bool waitForCount(int count)
    {
        QSignalSpy spy(this, &EventCollector::collected);
        while (events.size() < count)
            if (!spy.wait(5000))
                return false;
        return true;
    }

    QList<ReceivedEvent> events;

signals:
    void collected();

public slots:
    // Listener thread, through a direct connection.
    void onEventReceived(const LatticeEvent* event)
    {
        auto note = dynamic_cast<const LatticeNoteEvent*>(event);
        const QString path = note ? note->path().toString() : QString();
        std::unique_lock<std::mutex> lock(mutex);
        if (holding.exchange(false)) {
            held = true;
            changed.notify_all();
            changed.wait(lock, [this] { return resumed; });
        }
        pending.append({event->type(), event->value(), path});
        QMetaObject::invokeMethod(this, "takePending", Qt::QueuedConnection);
    }

private slots:
    void takePending()
    {
        std::lock_guard<std::mutex> lock(mutex);
        events += pending;
        pending.clear();
        emit collected();
    }

private:
    std::atomic<bool> holding{false};
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
    bool resumed = false;
    QList<ReceivedEvent> pending;
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

const QByteArray testMap = R"({"04a1b2c3d4": {"event": 2, "value": 3},
    "abc": {"event": 10, "value": 5}, "b": {"event": 3, "value": 0.5},
    "c": {"event": 0, "value": "/-5/7"}, "end": {"event": 1, "value": 1}})";

} // namespace

class UdpListenerTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void handlesDatagram_data();
    void handlesDatagram();
    void handlesPendingDatagramsInArrivalOrder();
    void keepsABurstOfTenThousand();
    void bindsLowSixteenBitsOfPort();
    void stopsWhenIdle();
    void reportsFatalError_data();
    void reportsFatalError();

private:
    bool startListening();
    bool send(const QByteArray& datagram);
    QString record(const char* text) const { return QString(text).arg(settings->udpPort); }

    std::unique_ptr<QTemporaryDir> dataHome;
    std::unique_ptr<LogCapture> log;
    std::unique_ptr<RecordLatch> latch;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<UdpListener> listener;
    std::unique_ptr<EventCollector> collector;
    QUdpSocket sender;
};

void UdpListenerTest::init()
{
    dataHome = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", dataHome->path().toLocal8Bit());
    QCoreApplication::setApplicationName(QStringLiteral("Elsted Tuning Lattice"));
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DataLocation);
    QVERIFY(QDir().mkpath(folder));
    QFile map(folder + QStringLiteral("/rfid_map.json"));
    QVERIFY(map.open(QIODevice::WriteOnly) && map.write(testMap) == testMap.size());

    log = std::make_unique<LogCapture>();
    latch = std::make_unique<RecordLatch>();
    settings = std::make_unique<Settings>();
    QUdpSocket probe; // a port nothing listens on at this moment
    QVERIFY(probe.bind(QHostAddress::Any, 0));
    settings->udpPort = probe.localPort();
    listener = std::make_unique<UdpListener>(*settings);
    collector = std::make_unique<EventCollector>();
    connect(listener.get(), &UdpListener::eventReceived, collector.get(),
            &EventCollector::onEventReceived, Qt::DirectConnection);
}

void UdpListenerTest::cleanup()
{
    collector->releaseHeld(); // a failed case may have left the listener held
    listener->term();
    listener.reset();
    latch.reset();
    log.reset();
}

// Starts the listener and waits until its socket is bound.
bool UdpListenerTest::startListening()
{
    listener->start();
    return latch->waitFor(record("UDP socket opened on port %1"));
}

bool UdpListenerTest::send(const QByteArray& datagram)
{
    const quint16 port = static_cast<quint16>(settings->udpPort);
    return sender.writeDatagram(datagram, QHostAddress::LocalHost, port) == datagram.size();
}

void UdpListenerTest::handlesDatagram_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("kind"); // -1: no event
    QTest::addColumn<QString>("wandRecord");
    QTest::addColumn<QString>("warning");

    QTest::newRow("tag matched whatever its case")
        << wandDatagram("04A1B2C3D4", 1) << 2 << R"(Wand ID: 1 , RFID: "04A1B2C3D4")"
        << "";
    QTest::newRow("wand byte 200 is -56")
        << wandDatagram("abc", 200) << 10 << R"(Wand ID: -56 , RFID: "abc")"
        << "";
    QTest::newRow("tag ends at the first zero byte")
        << wandDatagram(QByteArray("abc\0xyz", 7), 0) << 10 << R"(Wand ID: 0 , RFID: "abc")"
        << "";
    QTest::newRow("bytes outside the tag ignored")
        << wandDatagram("abc", -1, 72, '\xff') << 10 << R"(Wand ID: -1 , RFID: "abc")"
        << "";
    QTest::newRow("zero first tag byte") << wandDatagram("", 0) << -1 << R"(Wand ID: 0 , RFID: "")"
                                         << "RFID  not found in mapping table. Ignoring.";
    QTest::newRow("unknown tag") << wandDatagram("zzz", 0) << -1 << R"(Wand ID: 0 , RFID: "zzz")"
                                 << "RFID zzz not found in mapping table. Ignoring.";
    QTest::newRow("71 bytes") << wandDatagram("abc", 0, 71) << -1 << ""
                              << "Discarding UDP packet due to wrong size 71";
    QTest::newRow("73 bytes with a mapped tag") << wandDatagram("abc", 0, 73) << -1 << ""
                                                << "Discarding UDP packet due to wrong size 73";
    QTest::newRow("empty datagram") << QByteArray() << -1 << ""
                                    << "Discarding UDP packet due to wrong size 0";
}

// Every datagram is followed by a mapped one; its event proves that the
// first was handled and that the loop went on.
void UdpListenerTest::handlesDatagram()
{
    QFETCH(QByteArray, datagram);
    QFETCH(int, kind);
    QFETCH(QString, wandRecord);
    QFETCH(QString, warning);
    const bool mapped = kind >= 0;

    QVERIFY(startListening());
    QVERIFY(send(datagram));
    QVERIFY(send(wandDatagram("END", 0)));
    QVERIFY(collector->waitForCount(mapped ? 2 : 1));

    QCOMPARE(collector->events.size(), mapped ? 2 : 1);
    QCOMPARE(collector->events.first().kind, mapped ? kind : 1);
    const QStringList debug = log->texts(QtDebugMsg);
    QCOMPARE(debug.count(record("Received a UDP packet from 127.0.0.1 on port %1")),
             wandRecord.isEmpty() ? 1 : 2);
    QVERIFY(wandRecord.isEmpty() || debug.count(wandRecord) == 1);
    QVERIFY(warning.isEmpty() || log->count(QtWarningMsg, warning) == 1);
}

// The listener is held inside the first event while three more datagrams
// arrive, so they wait together and are handled in one pass, in order.
void UdpListenerTest::handlesPendingDatagramsInArrivalOrder()
{
    QVERIFY(startListening());
    collector->holdFirstEvent();
    QVERIFY(send(wandDatagram("abc", 0)));
    QVERIFY(collector->waitUntilHeld());
    for (const char* tag : {"c", "unknown", "b"})
        QVERIFY(send(wandDatagram(tag, 0)));
    collector->releaseHeld();
    QVERIFY(collector->waitForCount(3));

    const QList<ReceivedEvent>& events = collector->events;
    QCOMPARE(events.size(), 3);
    QCOMPARE(events[0].kind, 10);
    QCOMPARE(events[1].path, QStringLiteral("/-5/7"));
    QCOMPARE(events[2].value, 0.5f);
}

// The wand can report many reads at once. The listener is held inside an
// event while the whole burst arrives, so every datagram has to wait in the
// socket's receive buffer.
void UdpListenerTest::keepsABurstOfTenThousand()
{
    constexpr int burst = 10000;
    QVERIFY(startListening());
    collector->holdFirstEvent();
    QVERIFY(send(wandDatagram("end", 0)));
    QVERIFY(collector->waitUntilHeld());
    int sent = 0;
    for (int i = 0; i < burst; ++i)
        sent += send(wandDatagram("end", 0)) ? 1 : 0;
    collector->releaseHeld();
    QCOMPARE(sent, burst);
    QVERIFY(collector->waitForCount(1 + burst));
    QCOMPARE(collector->events.size(), 1 + burst);
}

void UdpListenerTest::bindsLowSixteenBitsOfPort()
{
    settings->udpPort += 65536;
    QVERIFY(startListening());
    QVERIFY(send(wandDatagram("end", 0)));
    QVERIFY(collector->waitForCount(1));
    QCOMPARE(log->count(QtDebugMsg, record("Received a UDP packet from 127.0.0.1 on port %1")), 1);
}

void UdpListenerTest::stopsWhenIdle()
{
    QSignalSpy fatal(listener.get(), &UdpListener::fatalError);
    QVERIFY(startListening());
    listener->term();
    QVERIFY(listener->isFinished());

    const QStringList expected{"UDP thread starting...", record("UDP socket opened on port %1"),
                               "Stopping UDP thread...", "UDP thread exits run"};
    QStringList warnings = log->texts(QtWarningMsg);
    warnings.erase(std::remove_if(warnings.begin(), warnings.end(),
                                  [&](const QString& text) { return !expected.contains(text); }),
                   warnings.end());
    QCOMPARE(warnings, expected);
    QVERIFY(log->texts(QtCriticalMsg).isEmpty());
    QCOMPARE(fatal.count(), 0);
}

void UdpListenerTest::reportsFatalError_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("message");
    QTest::newRow("port in use") << "port"
                                 << "Can't open UDP socket on port %1. UDP thread shutting down.";
    for (const char* cause : {"map not JSON", "map cannot be created"})
        QTest::newRow(cause) << cause
                             << "Failed to load RFID mapping file, UDP thread shutting down.";
}

void UdpListenerTest::reportsFatalError()
{
    QFETCH(QString, cause);
    QFETCH(QString, message);
    QUdpSocket occupant;
    if (cause == QLatin1String("port")) {
        QVERIFY(occupant.bind(QHostAddress::Any, static_cast<quint16>(settings->udpPort)));
    } else if (cause == QLatin1String("map not JSON")) {
        QFile map(QStandardPaths::writableLocation(QStandardPaths::DataLocation) +
                  QStringLiteral("/rfid_map.json"));
        QVERIFY(map.open(QIODevice::WriteOnly) && map.write("{\"abc\": ") > 0);
    } else {
        // A regular file where the data folder's parent should be stops root
        // as well.
        const QString blocker = dataHome->filePath(QStringLiteral("blocker"));
        QVERIFY(QFile(blocker).open(QIODevice::WriteOnly));
        qputenv("XDG_DATA_HOME", (blocker + QStringLiteral("/data")).toLocal8Bit());
    }
    message = message.arg(settings->udpPort);
    QSignalSpy fatal(listener.get(), &UdpListener::fatalError);

    listener->start();
    QVERIFY(listener->wait(5000));

    QCOMPARE(fatal.count(), 1);
    QCOMPARE(fatal.first().first().toString(), message);
    QCOMPARE(log->texts(QtCriticalMsg).last(), '"' + message + '"');
    QCOMPARE(log->texts(QtCriticalMsg).size(), cause == QLatin1String("port") ? 1 : 2);
    QVERIFY(!log->texts(QtWarningMsg).contains(QStringLiteral("UDP thread exits run")));
}

QTEST_GUILESS_MAIN(UdpListenerTest)
#include "UdpListenerTest.moc"
