#pragma once

#include "RecordRateLimit.h"

#include <QHostAddress>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

// Who may play the instrument over the network, shared by the wand's
// listener and OSC.

// Where a listener binds: "all" (every interface, IPv4 and IPv6),
// "loopback" (this machine only), the name of a network interface (its
// first IPv4 address, else its first address) or an address of this
// machine. Nothing, with the reason in `why`, for anything else.
std::optional<QHostAddress> listenAddress(const QString& where, QString* why = nullptr);

// The senders a listener takes datagrams from: networks written as CIDR
// ("192.168.1.0/24", "::1/128") or single addresses. An empty list lets
// anyone send. Entries that do not parse are left out, and named in
// `rejected` when asked.
class SenderFilter
{
public:
    explicit SenderFilter(const QStringList& networks = {}, QStringList* rejected = nullptr);
    // The same from a listener's options, each entry that does not parse
    // named in a warning record under `listenerName`.
    static SenderFilter fromOptions(const QStringList& networks, const char* listenerName);

    bool allowsAnyone() const { return networks_.isEmpty(); }
    // IPv4 senders reaching a dual-stack socket as mapped IPv6 addresses
    // are matched as IPv4.
    bool allows(const QHostAddress& sender) const;

private:
    QVector<QPair<QHostAddress, int>> networks_;
};

// The dual-stack socket reports IPv4 senders as mapped IPv6 addresses; the
// plain IPv4 form is what a user writes and reads.
QHostAddress plainSender(const QHostAddress& sender);

// Counts the datagrams of senders that are not allowed and writes a record
// about them at most once a minute. One producing thread.
class RefusedSenders
{
public:
    explicit RefusedSenders(const char* listenerName) : listenerName_(listenerName) {}
    void refuse(const QHostAddress& sender);
    quint64 count() const { return count_; }

private:
    const char* listenerName_;
    RecordRateLimit records_{60 * 1000};
    quint64 count_ = 0;
};
