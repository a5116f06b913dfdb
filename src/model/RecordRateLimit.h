#pragma once

#include <QElapsedTimer>
#include <QString>

// Keeps a record that a remote sender can trigger once per message (a full
// command buffer, an unknown tag, a datagram of the wrong size) from
// flooding the log: the first occurrence is written at once, later ones at
// most once per interval, each saying how many were held back since the one
// before. Not thread-safe: one instance per producing thread.
class RecordRateLimit
{
public:
    explicit RecordRateLimit(qint64 intervalMs = 1000) : intervalMs_(intervalMs) {}

    // Whether to write the record for this occurrence now. When it returns
    // true, `suffix` is empty or tells how many occurrences were held back.
    bool admit(QString& suffix)
    {
        if (timer_.isValid() && timer_.elapsed() < intervalMs_) {
            ++held_;
            return false;
        }
        suffix =
            held_ > 0 ? QStringLiteral(" (%1 more since the last record)").arg(held_) : QString();
        held_ = 0;
        timer_.start();
        return true;
    }

private:
    qint64 intervalMs_;
    QElapsedTimer timer_;
    long long held_ = 0;
};
