#include "NetworkAccess.h"

#include <QDebug>
#include <QNetworkInterface>

std::optional<QHostAddress> listenAddress(const QString& where, QString* why)
{
    const QString text = where.trimmed();
    if (text.isEmpty() || text == QLatin1String("all"))
        return QHostAddress(QHostAddress::Any);
    if (text == QLatin1String("loopback"))
        return QHostAddress(QHostAddress::LocalHost);

    const QList<QHostAddress> ours = QNetworkInterface::allAddresses();
    const QHostAddress address(text);
    if (!address.isNull()) {
        if (ours.contains(address))
            return address;
        if (why)
            *why = QStringLiteral("%1 is not an address of this machine").arg(text);
        return std::nullopt;
    }
    const QNetworkInterface interface = QNetworkInterface::interfaceFromName(text);
    std::optional<QHostAddress> first;
    for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
        const QHostAddress candidate = entry.ip();
        if (candidate.protocol() == QAbstractSocket::IPv4Protocol)
            return candidate;
        if (!first)
            first = candidate;
    }
    if (!first && why)
        *why = interface.isValid() ? QStringLiteral("interface %1 has no address").arg(text)
                                   : QStringLiteral("there is no interface %1").arg(text);
    return first;
}

QHostAddress plainSender(const QHostAddress& sender)
{
    bool isIpv4 = false;
    const quint32 ipv4 = sender.toIPv4Address(&isIpv4);
    return isIpv4 ? QHostAddress(ipv4) : sender;
}

SenderFilter::SenderFilter(const QStringList& networks, QStringList* rejected)
{
    for (const QString& entry : networks) {
        const QString text = entry.trimmed();
        QPair<QHostAddress, int> network;
        if (text.contains(QLatin1Char('/'))) {
            network = QHostAddress::parseSubnet(text);
        } else {
            // One address is the network of that host alone.
            network.first = QHostAddress(text);
            network.second = network.first.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128;
        }
        if (network.first.isNull()) {
            if (rejected)
                rejected->append(entry);
            continue;
        }
        networks_.append(network);
    }
}

SenderFilter SenderFilter::fromOptions(const QStringList& networks, const char* listenerName)
{
    QStringList rejected;
    SenderFilter filter(networks, &rejected);
    for (const QString& entry : rejected)
        qWarning().noquote() << QStringLiteral("%1: ignoring allowed sender \"%2\" - not an "
                                               "address or network")
                                    .arg(QLatin1String(listenerName), entry);
    return filter;
}

bool SenderFilter::allows(const QHostAddress& sender) const
{
    if (networks_.isEmpty())
        return true;
    const QHostAddress plain = plainSender(sender);
    for (const QPair<QHostAddress, int>& network : networks_)
        if (plain.isInSubnet(network) || sender.isInSubnet(network))
            return true;
    return false;
}

void RefusedSenders::refuse(const QHostAddress& sender)
{
    ++count_;
    QString held;
    if (records_.admit(held))
        qWarning().noquote() << QStringLiteral("%1: dropping datagrams from %2, which is not an "
                                               "allowed sender")
                                        .arg(QLatin1String(listenerName_),
                                             plainSender(sender).toString()) +
                                    held;
}
