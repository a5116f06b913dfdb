#include "UdpListener.h"

#include "QuotedText.h"
#include "RfidMap.h"
#include "Settings.h"

#include <QDebug>
#include <QHostAddress>
#include <QUdpSocket>
#include <memory>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#endif

namespace {

// Where the wand puts what we read: byte 23 holds its identifier, and tag
// character i (from 0) is the low-order byte of the big-endian word at
// 24 + 4 * (i + 1). Everything else in the datagram is ignored.
constexpr int wandOffset = 23;
constexpr int firstTagOffset = 27;
constexpr int tagStride = 4;

qint8 wandId(const char* datagram)
{
    return static_cast<qint8>(datagram[wandOffset]);
}

// The tag runs up to, not including, the first zero byte; each byte is one
// Latin-1 character.
QString tagId(const char* datagram)
{
    QString tag;
    for (int i = 0; i < RfidMap::keyLength; ++i) {
        const char byte = datagram[firstTagOffset + tagStride * i];
        if (byte == 0)
            break;
        tag += QChar(static_cast<uchar>(byte));
    }
    return tag;
}

int receiveBufferBytes(QUdpSocket& socket)
{
    return socket.socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
}

// The kernel's default buffer holds only a few hundred small datagrams, so a
// burst of tag reads would be lost before the loop gets to them. Linux caps
// an ordinary request at net.core.rmem_max, which a privileged process may go
// past; without the privilege the ordinary request is made. Returns the size
// granted, in bytes as the kernel reports it (Linux reports twice the size
// asked for, the other half being its own bookkeeping).
int enlargeReceiveBuffer(QUdpSocket& socket)
{
    const int wanted = UdpListener::receiveBufferSize;
#ifdef SO_RCVBUFFORCE
    if (::setsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_RCVBUFFORCE,
                     &wanted, sizeof wanted) == 0)
        return receiveBufferBytes(socket);
#endif
    socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, wanted);
    return receiveBufferBytes(socket);
}

void logReceiveBuffer(int granted)
{
    qDebug().noquote() << QStringLiteral("UDP receive buffer: %1 bytes").arg(granted);
    if (granted < UdpListener::receiveBufferSize)
        qWarning().noquote()
            << QStringLiteral("UDP receive buffer holds only %1 bytes; a burst of tag reads may "
                              "be lost")
                   .arg(granted);
}

} // namespace

UdpListener::UdpListener(const Settings& portSettings) : settings(portSettings) {}

UdpListener::~UdpListener()
{
    stopRequested = true;
    wait();
}

void UdpListener::term()
{
    if (!isRunning())
        return;
    qWarning() << "Stopping UDP thread...";
    stopRequested = true;
    if (!wait(2000))
        qCritical() << "UDP thread couldn't be stopped, exiting anyway";
}

void UdpListener::restart()
{
    term();
    stopRequested = false;
    start(QThread::InheritPriority);
}

void UdpListener::run()
{
    qWarning() << "UDP thread starting...";

    RfidMap map;
    if (!map.init()) {
        reportFatal(QStringLiteral("Failed to load RFID mapping file, UDP thread shutting down."));
        return;
    }

    // Read once: a change to the settings takes effect at the next start.
    const int port = settings.udpPort;
    QString why;
    const std::optional<QHostAddress> address = listenAddress(settings.udpListen, &why);
    if (!address) {
        reportFatal(QStringLiteral("Can't listen on %1: %2. UDP thread shutting down.")
                        .arg(quotedText(settings.udpListen), why));
        return;
    }
    senders_ = SenderFilter::fromOptions(settings.udpAllow, "Wand");
    auto socket = std::make_unique<QUdpSocket>();
    // Only the low 16 bits make a port; the records show the number as set.
    if (!socket->bind(*address, static_cast<quint16>(port))) {
        reportFatal(QStringLiteral("Can't open UDP socket on port %1. UDP thread shutting "
                                   "down.")
                        .arg(port));
        return;
    }
    logReceiveBuffer(enlargeReceiveBuffer(*socket));
    qWarning() << "UDP socket opened on port" << port;

    receive(*socket, map, port);

    socket->close();
    socket.reset();
    qWarning() << "UDP thread exits run";
}

void UdpListener::receive(QUdpSocket& socket, const RfidMap& map, int port)
{
    while (!stopRequested) {
        // The one-second limit is what lets a stop request through.
        if (!socket.waitForReadyRead(1000))
            continue;
        while (socket.hasPendingDatagrams())
            receiveDatagram(socket, map, port);
    }
}

void UdpListener::receiveDatagram(QUdpSocket& socket, const RfidMap& map, int port)
{
    char datagram[datagramSize];
    const qint64 size = socket.pendingDatagramSize();
    QHostAddress sender;
    // Never reads past the 72 bytes: a longer datagram is cut there and the
    // rest thrown away with it.
    const qint64 read = socket.readDatagram(datagram, datagramSize, &sender);
    if (!senders_.allows(sender)) {
        refused_.refuse(sender);
        return;
    }
    const std::optional<TagRead> reading =
        size == datagramSize ? parseDatagram(datagram, read) : std::nullopt;
    QString held;
    if (!reading) {
        if (wrongSizeRecords_.admit(held))
            qWarning().noquote() << QStringLiteral("Discarding UDP packet due to wrong size %1")
                                            .arg(size == datagramSize ? read : size) +
                                        held;
        return;
    }
    qDebug().noquote() << QStringLiteral("Received a UDP packet from %1 on port %2")
                              .arg(plainSender(sender).toString())
                              .arg(port);

    const QString& rfid = reading->tag;
    qDebug().noquote() << "Wand ID:" << reading->wandId << ", RFID:" << quotedText(rfid);

    if (const LatticeEvent* event = map.lookup(rfid))
        emit eventReceived(event);
    else if (unknownTagRecords_.admit(held))
        qWarning().noquote()
            << QStringLiteral("RFID %1 not found in mapping table. Ignoring.").arg(rfid) + held;
}

std::optional<UdpListener::TagRead> UdpListener::parseDatagram(const char* datagram, qint64 size)
{
    if (size != datagramSize)
        return std::nullopt;
    return TagRead{int(wandId(datagram)), tagId(datagram)};
}

void UdpListener::reportFatal(const QString& message)
{
    qCritical().noquote() << quotedText(message);
    emit fatalError(message);
}
