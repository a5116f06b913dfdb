// lattice-tool wand: plays the wand's part, sending one tag read the way the
// wand lays it out, so that the listener and a map can be tried without the
// hardware.

#include "ToolCommands.h"

#include "RfidMap.h"
#include "UdpListener.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QUdpSocket>
#include <cstdio>

namespace {

constexpr int defaultPort = 8888;
// The wand's identifier byte is read as signed; 128..255 are accepted too,
// as the raw byte the hardware would send.
constexpr int lowestWand = -128;
constexpr int highestWand = 255;

struct WandRequest
{
    QByteArray tag;
    int wand = 0;
    QString host = QStringLiteral("127.0.0.1");
    int port = defaultPort;
};

// The wand's datagram: its identifier in byte 23, tag character i (from 0)
// in the low-order byte of the big-endian word at 24 + 4 * (i + 1), zeros
// everywhere else.
QByteArray wandDatagram(const WandRequest& request)
{
    QByteArray datagram(UdpListener::datagramSize, '\0');
    datagram[23] = static_cast<char>(request.wand);
    for (int i = 0; i < request.tag.size(); ++i)
        datagram[27 + 4 * i] = request.tag.at(i);
    return datagram;
}

// Each reader returns an error message, empty on success.

QString readTag(const QString& text, QByteArray& tag)
{
    if (text.size() > RfidMap::keyLength)
        return QStringLiteral("tag \"%1\" is longer than %2 characters")
            .arg(text)
            .arg(RfidMap::keyLength);
    for (QChar character : text)
        if (character.unicode() == 0 || character.unicode() > 0xff)
            return QStringLiteral("tag \"%1\" holds a character the wand cannot send").arg(text);
    tag = text.toLatin1();
    return QString();
}

QString readInt(const QString& option, const QString& text, int lowest, int highest, int& value)
{
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < lowest || number > highest)
        return QStringLiteral("%1 needs a whole number from %2 to %3, not \"%4\"")
            .arg(option)
            .arg(lowest)
            .arg(highest)
            .arg(text);
    value = number;
    return QString();
}

QString readArguments(const QStringList& arguments, WandRequest& request)
{
    QStringList tags;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (!argument.startsWith(QLatin1String("--"))) {
            tags.append(argument);
            continue;
        }
        if (i + 1 == arguments.size())
            return QStringLiteral("%1 needs a value").arg(argument);
        const QString& value = arguments.at(++i);
        QString error;
        if (argument == QLatin1String("--wand"))
            error = readInt(argument, value, lowestWand, highestWand, request.wand);
        else if (argument == QLatin1String("--port"))
            error = readInt(argument, value, 1, 65535, request.port);
        else if (argument == QLatin1String("--host"))
            request.host = value;
        else
            error = QStringLiteral("unknown option %1").arg(argument);
        if (!error.isEmpty())
            return error;
    }
    if (tags.size() != 1)
        return QStringLiteral("wand takes exactly one TAG");
    return readTag(tags.first(), request.tag);
}

QHostAddress resolve(const QString& host)
{
    const QHostAddress address(host);
    if (!address.isNull())
        return address;
    const QList<QHostAddress> found = QHostInfo::fromName(host).addresses();
    return found.isEmpty() ? QHostAddress() : found.first();
}

int runWand(const QStringList& arguments)
{
    WandRequest request;
    const QString error = readArguments(arguments, request);
    if (!error.isEmpty())
        return ToolCommands::usageError(error);

    const QHostAddress address = resolve(request.host);
    if (address.isNull()) {
        std::fprintf(stderr, "lattice-tool: cannot find host %s\n", qPrintable(request.host));
        return ToolCommands::exitFailed;
    }
    QUdpSocket socket;
    const QByteArray datagram = wandDatagram(request);
    if (socket.writeDatagram(datagram, address, static_cast<quint16>(request.port)) !=
        datagram.size()) {
        std::fprintf(stderr, "lattice-tool: cannot send to %s port %d: %s\n",
                     qPrintable(address.toString()), request.port,
                     qPrintable(socket.errorString()));
        return ToolCommands::exitFailed;
    }
    std::printf("sent tag \"%s\" from wand %d to %s port %d\n",
                QString::fromLatin1(request.tag).toLocal8Bit().constData(),
                static_cast<qint8>(request.wand), qPrintable(address.toString()), request.port);
    return ToolCommands::exitOk;
}

const LatticeToolCommand wandCommand{"wand", "wand TAG [--wand N] [--host H] [--port P]", runWand};

} // namespace
