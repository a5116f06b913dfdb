#include "OscInput.h"

#include "LatticeNoteEvent.h"
#include "OscOutput.h"
#include "PdPlayer.h"
#include "QuotedText.h"

#include <QDebug>
#include <QFileInfo>
#include <QStandardPaths>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// Binds a UDP socket to address:port; -1 with the reason on failure. "All
// interfaces" is one dual-stack socket, so IPv4 senders arrive as mapped
// IPv6 addresses.
int bindSocket(const QHostAddress& address, int port, QString& why)
{
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = AF_INET;
    if (address == QHostAddress(QHostAddress::Any) ||
        address.protocol() == QAbstractSocket::IPv6Protocol) {
        family = AF_INET6;
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(quint16(port));
        if (address != QHostAddress(QHostAddress::Any)) {
            const Q_IPV6ADDR bytes = address.toIPv6Address();
            std::memcpy(&in6->sin6_addr, &bytes, sizeof bytes);
            in6->sin6_scope_id = address.scopeId().toUInt();
        }
        length = sizeof(sockaddr_in6);
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(quint16(port));
        in4->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof(sockaddr_in);
    }
    const int fd = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    if (family == AF_INET6) {
        const int off = 0;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&storage), length) != 0) {
        why = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return -1;
    }
    // Past net.core.rmem_max where we have the privilege, else as asked.
    const int wanted = OscInput::receiveBufferSize;
#ifdef SO_RCVBUFFORCE
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof wanted) != 0)
#endif
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof wanted);
    return fd;
}

int boundPort(int fd)
{
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return 0;
    if (storage.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
}

} // namespace

OscInput::OscInput(PdPlayer* player, OscOutput* output, QObject* parent)
    : QObject(parent), player_(player), output_(output)
{
}

OscInput::~OscInput()
{
    stop();
}

bool OscInput::start(const Config& config, QString* why)
{
    stop();
    if (config.port == 0)
        return true;
    QString reason;
    const auto fail = [&](const QString& text) {
        qWarning().noquote() << text;
        if (why)
            *why = text;
        return false;
    };
    const std::optional<QHostAddress> address = listenAddress(config.listen, &reason);
    if (!address)
        return fail(
            QStringLiteral("OSC can't listen on %1: %2").arg(quotedText(config.listen), reason));
    if (config.port < 0 || config.port > 65535)
        return fail(QStringLiteral("OSC port %1 is not a port").arg(config.port));
    socket_ = bindSocket(*address, config.port, reason);
    if (socket_ < 0)
        return fail(QStringLiteral("Can't open OSC port %1 on %2: %3")
                        .arg(config.port)
                        .arg(address->toString(), reason));
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    port_ = boundPort(socket_);

    senders_ = SenderFilter::fromOptions(config.allow, "OSC");
    thread_ = std::thread(&OscInput::run, this);
    qWarning().noquote()
        << QStringLiteral("OSC listens on %1 port %2").arg(address->toString()).arg(port_);
    return true;
}

void OscInput::stop()
{
    if (thread_.joinable()) {
        const quint64 one = 1;
        if (::write(wake_, &one, sizeof one) < 0)
            qWarning() << "OSC input could not be woken to stop";
        thread_.join();
    }
    for (int* fd : {&socket_, &wake_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    port_ = 0;
}

QString OscInput::takeRequestedPatch()
{
    return takeLatest(requestedPatch_).value_or(QString());
}

std::optional<bool> OscInput::takeRequestedRecording()
{
    return takeLatest(requestedRecording_);
}

void OscInput::run()
{
    // The tags play what they play for the wand; the file is not created
    // here, since its presence is what switches the wand on.
    RfidMap map;
    const QString mapPath = QStandardPaths::writableLocation(QStandardPaths::DataLocation) +
                            QStringLiteral("/rfid_map.json");
    tags_ = QFileInfo::exists(mapPath) && map.init() ? &map : nullptr;

    // The largest datagram UDP carries.
    std::vector<char> buffer(65536);
    pollfd fds[2] = {{socket_, POLLIN, 0}, {wake_, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        if (fds[1].revents)
            break;
        if (!(fds[0].revents & POLLIN))
            continue;
        // Everything waiting, then back to poll.
        for (;;) {
            sockaddr_storage from{};
            socklen_t fromLength = sizeof from;
            const ssize_t size = ::recvfrom(socket_, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                            reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (size < 0)
                break;
            const QHostAddress sender(reinterpret_cast<const sockaddr*>(&from));
            if (!senders_.allows(sender)) {
                refusedSenders_.fetch_add(1, std::memory_order_relaxed);
                refused_.refuse(sender);
                continue;
            }
            receive(buffer.data(), std::size_t(size), sender);
        }
    }
    tags_ = nullptr;
}

void OscInput::receive(const char* data, std::size_t size, const QHostAddress& sender)
{
    QString why;
    const int refused = OscAddressSpace::dispatch(
        data, size, [&](const OscCommand& command) { take(command, sender); }, &why);
    if (refused == 0)
        return;
    refusedMessages_.fetch_add(quint64(refused), std::memory_order_relaxed);
    QString held;
    if (refusedRecords_.admit(held))
        qWarning().noquote() << QStringLiteral("OSC: ignoring a message from %1: %2")
                                        .arg(plainSender(sender).toString(), why) +
                                    held;
}

void OscInput::take(const OscCommand& command, const QHostAddress& sender)
{
    const auto queue = [this](const LatticeEvent& event) {
        if (player_->queueEventOsc(&event))
            queued_.fetch_add(1, std::memory_order_relaxed);
        else
            dropped_.fetch_add(1, std::memory_order_relaxed);
    };
    switch (command.kind) {
    case OscCommand::Event:
        if (command.path)
            queue(LatticeNoteEvent(command.event.type(), *command.path, command.event.value()));
        else
            queue(command.event);
        break;
    case OscCommand::Tag: {
        const LatticeEvent* event = tags_ ? tags_->lookup(command.text) : nullptr;
        QString held;
        if (event)
            queue(*event);
        else if (unknownTagRecords_.admit(held))
            qWarning().noquote() << QStringLiteral("OSC: tag %1 is not in the RFID map")
                                            .arg(quotedText(command.text)) +
                                        held;
        break;
    }
    case OscCommand::PatchByName:
        if (hold(requestedPatch_, command.text))
            emit patchRequested();
        break;
    case OscCommand::Record:
        if (hold(requestedRecording_, command.port == 1))
            emit recordingRequested();
        break;
    case OscCommand::Subscribe:
    case OscCommand::Unsubscribe:
        if (output_) {
            const QString host =
                command.text.isEmpty() ? plainSender(sender).toString() : command.text;
            if (command.kind == OscCommand::Subscribe)
                output_->subscribe(host, command.port);
            else
                output_->unsubscribe(host, command.port);
        }
        break;
    }
}
