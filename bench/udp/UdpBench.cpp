// UdpBench: how many wand datagrams the listener handles per second on the
// loopback interface, and whether a burst of 10 000 sent at once arrives
// whole.
//
//   UdpBench [--runs N] [--count C]
//
// Sustained: C datagrams (default 100 000) with at most 2000 in flight, so
// that the sender never outruns the listener by more than its receive buffer
// holds; the rate is C over the time from the first send to the last event.
// Target: at least 20 000 a second, none lost.
// Burst: 10 000 datagrams sent as fast as the socket takes them; every one
// must come out as an event.
//
// Each event is taken by a direct connection on the listener thread, as the
// player's queueEventSerial takes it. The listener writes two debug records
// per datagram; they go to a handler that drops them, once after stamping
// each with the local time as the program's handler does ("stamped"), once
// without ("bare"), so that the handler's share shows. Medians over N runs
// (default 5) of each.

#include "BenchTiming.h"
#include "LatticeEvent.h"
#include "Settings.h"
#include "UdpListener.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSemaphore>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTime>
#include <QUdpSocket>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

constexpr double targetPerSecond = 20000.0;
constexpr int burstSize = 10000;
constexpr int window = 2000;   // datagrams in flight while sustained
constexpr int giveUpMs = 5000; // no event for this long: the rest is lost

std::atomic<int> socketOpenedPort{0};
QSemaphore socketOpened;
std::atomic<int> receiveBufferBytes{0};
std::atomic<bool> stampRecords{true};

// Drops every record, after formatting its time stamp when stampRecords is
// set; remembers the two records this benchmark reports.
void dropRecord(QtMsgType, const QMessageLogContext&, const QString& text)
{
    if (stampRecords) {
        const QString stamp = QTime::currentTime().toString(QStringLiteral("[hh:mm:ss.zzz] "));
        Q_UNUSED(stamp)
    }
    if (text.startsWith(QLatin1String("UDP socket opened on port "))) {
        socketOpenedPort = text.section(' ', -1).toInt();
        socketOpened.release();
    } else if (text.startsWith(QLatin1String("UDP receive buffer: ")))
        receiveBufferBytes = text.section(' ', 3, 3).toInt();
}

// Takes each event on the listener thread and tells the sender how far the
// listener has got. The sender is woken only every few hundred events, so
// that waking it costs the listener little.
class EventCounter : public QObject
{
public:
    static constexpr int wakeEvery = 250;

    void onEventReceived(const LatticeEvent* event)
    {
        sink = sink + event->value();
        const int count = ++events;
        if (count % wakeEvery == 0 || count == wakeAt) {
            std::lock_guard<std::mutex> lock(mutex);
            progressed.notify_all();
        }
    }

    // Sender thread. False when no event came for giveUpMs.
    bool waitUntil(int count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        int seen = events;
        while (events < count) {
            if (!progressed.wait_for(lock, std::chrono::milliseconds(giveUpMs),
                                     [&] { return events >= count || events != seen; }))
                return false;
            seen = events;
        }
        return true;
    }

    std::atomic<int> events{0};
    std::atomic<int> wakeAt{0};

private:
    std::mutex mutex;
    std::condition_variable progressed;
    std::atomic<float> sink{0.0f};
};

QByteArray endDatagram()
{
    QByteArray datagram(UdpListener::datagramSize, '\0');
    datagram[27] = 'e';
    datagram[31] = 'n';
    datagram[35] = 'd';
    return datagram;
}

struct Run
{
    double perSecond;
    int lost;
};

// Sends count datagrams with at most inFlight of them not yet handled
// (inFlight == count: all at once), then waits until every one has become an
// event, or until nothing more comes.
Run sendAndCount(QUdpSocket& sender, quint16 port, EventCounter& counter, int count, int inFlight)
{
    const QByteArray datagram = endDatagram();
    const int before = counter.events;
    const int target = before + count;
    counter.wakeAt = target;
    QElapsedTimer timer;
    timer.start();
    for (int sent = 0; sent < count; ++sent) {
        if (sent - (counter.events - before) >= inFlight &&
            !counter.waitUntil(before + sent - inFlight + EventCounter::wakeEvery))
            break;
        if (sender.writeDatagram(datagram, QHostAddress::LocalHost, port) != datagram.size()) {
            std::fprintf(stderr, "send failed: %s\n", qPrintable(sender.errorString()));
            break;
        }
    }
    counter.waitUntil(target);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const int handled = counter.events - before;
    return {double(handled) / seconds, count - handled};
}

bool writeMap()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DataLocation);
    QFile file(folder + QStringLiteral("/rfid_map.json"));
    const QByteArray text = R"({"end": {"event": 1, "value": 1}})";
    return QDir().mkpath(folder) && file.open(QIODevice::WriteOnly) &&
           file.write(text) == text.size();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Elsted Tuning Lattice"));
    int runs = 5;
    int count = 100000;
    const QStringList arguments = app.arguments();
    for (int i = 1; i + 1 < arguments.size(); i += 2) {
        if (arguments[i] == QLatin1String("--runs"))
            runs = std::max(1, arguments[i + 1].toInt());
        else if (arguments[i] == QLatin1String("--count"))
            count = std::max(window, arguments[i + 1].toInt());
    }

    // A data folder of its own, so that no user's map is read.
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    if (!dataHome.isValid() || !writeMap()) {
        std::fprintf(stderr, "cannot write the benchmark's map\n");
        return 1;
    }
    qInstallMessageHandler(dropRecord);

    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    Settings settings;
    settings.udpPort = probe.localPort();
    probe.close();

    UdpListener listener(settings);
    EventCounter counter;
    QObject::connect(&listener, &UdpListener::eventReceived, &counter,
                     &EventCounter::onEventReceived, Qt::DirectConnection);
    listener.start();
    // Datagrams sent before the socket is bound would be lost.
    if (!socketOpened.tryAcquire(1, giveUpMs) || socketOpenedPort != settings.udpPort) {
        std::fprintf(stderr, "the listener did not open its socket\n");
        return 1;
    }

    QUdpSocket sender;
    const quint16 port = static_cast<quint16>(settings.udpPort);
    std::printf("receive buffer granted: %d bytes\n", receiveBufferBytes.load());
    bool met = true;
    for (bool stamped : {true, false}) {
        stampRecords = stamped;
        std::vector<double> sustainedRates, burstRates;
        int sustainedLost = 0;
        int burstLost = 0;
        for (int run = 0; run < runs; ++run) {
            const Run sustained = sendAndCount(sender, port, counter, count, window);
            sustainedRates.push_back(sustained.perSecond);
            sustainedLost = std::max(sustainedLost, sustained.lost);
            const Run burst = sendAndCount(sender, port, counter, burstSize, burstSize);
            burstRates.push_back(burst.perSecond);
            burstLost = std::max(burstLost, burst.lost);
        }
        const double rate = median(sustainedRates);
        const char* mode = stamped ? "stamped" : "bare";
        std::printf("%s, sustained: median %.0f datagrams/s over %d runs of %d (target >= %.0f), "
                    "lost at most %d\n",
                    mode, rate, runs, count, targetPerSecond, sustainedLost);
        std::printf("%s, burst of %d: median %.0f datagrams/s, lost at most %d (target 0)\n", mode,
                    burstSize, median(burstRates), burstLost);
        met = met && rate >= targetPerSecond && sustainedLost == 0 && burstLost == 0;
    }
    listener.term();
    qInstallMessageHandler(nullptr);
    std::printf("%s\n", met ? "targets met" : "TARGETS MISSED");
    return met ? 0 : 1;
}
