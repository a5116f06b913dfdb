#pragma once

#include "NetworkAccess.h"
#include "OscAddressSpace.h"
#include "RecordRateLimit.h"
#include "RfidMap.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

class OscOutput;
class PdPlayer;

// Plays the instrument from OSC: a thread of its own receives each packet,
// drops it unread when its sender is not allowed, reads it through
// OscAddressSpace and passes each command on: events into the player's OSC
// command buffer (never waiting: a full buffer drops and counts), tags
// through the RFID map as the wand's are, subscriptions to the output, a
// patch named by a message to the window. Refused messages are counted and
// reported at most once a second.
//
// start() and stop() on the GUI thread.
class OscInput : public QObject
{
    Q_OBJECT

public:
    struct Config
    {
        int port = 8000;
        QString listen = QStringLiteral("loopback");
        QStringList allow;
    };
    // The kernel's receive buffer: a burst of ten thousand small messages
    // must wait there whole while the thread catches up.
    static constexpr int receiveBufferSize = 8 * 1024 * 1024;

    // The output may be null (no state goes back then).
    OscInput(PdPlayer* player, OscOutput* output, QObject* parent = nullptr);
    ~OscInput() override;

    // Binds the port and starts receiving; false, with the reason in `why`
    // and a warning record, when the address or port cannot be had. Port
    // 0 is not a request for any port: it turns OSC off (and returns true).
    bool start(const Config& config, QString* why = nullptr);
    void stop();
    bool isRunning() const { return thread_.joinable(); }
    // The port bound, 0 when stopped.
    int port() const { return port_; }

    // Counts since the start; any thread.
    quint64 commandsQueued() const { return queued_.load(std::memory_order_relaxed); }
    quint64 commandsDropped() const { return dropped_.load(std::memory_order_relaxed); }
    quint64 messagesRefused() const { return refusedMessages_.load(std::memory_order_relaxed); }
    quint64 sendersRefused() const { return refusedSenders_.load(std::memory_order_relaxed); }

    // GUI thread: the patch name the latest /lattice/patch s:name asked for
    // (taken once; empty when none waits).
    QString takeRequestedPatch();
    // The same for /lattice/record: the latest wish, if any waits.
    std::optional<bool> takeRequestedRecording();

signals:
    // Emitted on the input thread when a patch name starts waiting; a flood
    // of names gives one signal until the window has taken the name.
    void patchRequested();
    void recordingRequested();

private:
    void run();
    void receive(const char* data, std::size_t size, const QHostAddress& sender);
    void take(const OscCommand& command, const QHostAddress& sender);

    PdPlayer* player_;
    OscOutput* output_;
    std::thread thread_;
    int socket_ = -1;
    int wake_ = -1; // an eventfd that stop() writes to
    int port_ = 0;

    // Input thread, set by start() before the thread runs.
    SenderFilter senders_;
    RefusedSenders refused_{"OSC"};
    RecordRateLimit refusedRecords_;
    RecordRateLimit unknownTagRecords_;
    // Loaded by the thread as it starts, when rfid_map.json exists.
    const RfidMap* tags_ = nullptr;

    std::atomic<quint64> queued_{0};
    std::atomic<quint64> dropped_{0};
    std::atomic<quint64> refusedMessages_{0};
    std::atomic<quint64> refusedSenders_{0};

    std::mutex patchMutex_;
    // The latest wishes for the window, guarded by patchMutex_.
    std::optional<QString> requestedPatch_;
    std::optional<bool> requestedRecording_;
    // Keeps the latest `value`; true when none waited, so that a flood
    // gives the window one call.
    template <typename T> bool hold(std::optional<T>& slot, T value)
    {
        std::lock_guard<std::mutex> lock(patchMutex_);
        const bool first = !slot.has_value();
        slot = std::move(value);
        return first;
    }
    template <typename T> std::optional<T> takeLatest(std::optional<T>& slot)
    {
        std::lock_guard<std::mutex> lock(patchMutex_);
        std::optional<T> value;
        value.swap(slot);
        return value;
    }
};
