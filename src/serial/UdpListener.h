#pragma once

#include "NetworkAccess.h"
#include "RecordRateLimit.h"

#include <QString>
#include <QThread>
#include <atomic>
#include <optional>

class LatticeEvent;
class QUdpSocket;
class RfidMap;
class Settings;

// The wand's listener: a thread of its own that receives one UDP datagram per
// tag read, looks the tag up in the RFID map and hands the mapped event on
// through eventReceived.
//
// run() owns everything it uses (the map, the socket, the receive buffer) and
// has no event loop: it blocks in the socket's wait for at most a second at a
// time, so that a stop request is seen within about one second. term() is the
// only thing called from another thread (the GUI thread); the two share only
// stopRequested.
class UdpListener : public QThread
{
    Q_OBJECT

public:
    // Size of the wand's datagram in bytes; any other size is dropped.
    static constexpr int datagramSize = 72;
    // The receive buffer asked of the kernel, in bytes: a burst of 10 000
    // tag reads arriving at once must fit before the loop gets to read
    // them, and the kernel counts its own bookkeeping, some 800 bytes per
    // small datagram on Linux, against the buffer.
    static constexpr int receiveBufferSize = 8 * 1024 * 1024;

    // What one datagram of the wand says.
    struct TagRead
    {
        int wandId = 0;
        // Up to RfidMap::keyLength Latin-1 characters, never a zero one.
        QString tag;
    };

    // Reads the wand's datagram from its bytes alone; nothing when size is
    // not datagramSize (a failed read's -1 included). Reads no byte of
    // datagram then, and at most datagramSize bytes otherwise. Safe on any
    // thread.
    static std::optional<TagRead> parseDatagram(const char* datagram, qint64 size);

    // The port, the address to listen on and the allowed senders are read
    // from settings once, as the run starts. The settings
    // must outlive the listener.
    explicit UdpListener(const Settings& settings);
    // Stops a run that is still going and waits for it, so that the thread
    // never outlives the object it runs on.
    ~UdpListener() override;

    // GUI thread. Asks the run to stop and waits up to 2000 ms for it; a run
    // that does not end by then is logged and left behind.
    void term();
    // GUI thread: term(), then a new run that reads the settings again.
    void restart();

signals:
    // Emitted on the listener thread just before a run ends on a failure.
    void fatalError(QString error);
    // Emitted on the listener thread for each mapped tag. The event belongs
    // to the map: receivers copy what they need before returning (connect
    // them directly) and never keep the pointer.
    void eventReceived(const LatticeEvent* event);

protected:
    void run() override;

private:
    // The loop, on the listener thread, until a stop is requested.
    void receive(QUdpSocket& socket, const RfidMap& map, int port);
    // Handles one pending datagram, whatever its size.
    void receiveDatagram(QUdpSocket& socket, const RfidMap& map, int port);
    // Logs message as a critical record and tells the GUI; the run ends
    // after this.
    void reportFatal(const QString& message);

    const Settings& settings;
    std::atomic<bool> stopRequested{false};
    // Anyone on the network can send; these records are rate-limited.
    // Listener thread only.
    RecordRateLimit wrongSizeRecords_;
    RecordRateLimit unknownTagRecords_;
    // Who may play, from the settings as the run starts. Listener thread.
    SenderFilter senders_;
    RefusedSenders refused_{"Wand"};
};
