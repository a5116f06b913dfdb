#include "OscOutput.h"

#include "PdPlayer.h"
#include "QuotedText.h"
#include "RealTimeThread.h"
#include "ScalaLattice.h"
#include "SpelledNote.h"

#include <QDebug>
#include <cmath>
#include <lo/lo.h>
#include <mutex>

namespace {

constexpr auto oscListener = PdPlayer::NoteListener::Osc;
// A bundle of notes is sent once it holds this many messages, which keeps
// it well inside one datagram however many notes a block changes.
constexpr int messagesPerBundle = 48;
constexpr int idleWaitMs = 200;

float centsOf(const LatticeRatio& ratio)
{
    return float(1200.0 * std::log2(ratio.toDouble()));
}

QByteArray utf8(const QString& text)
{
    return text.toUtf8();
}

} // namespace

// The arguments of /lattice/sounding/on (all) or /lattice/sounding/off (path
// and ratio).
static lo_message noteMessage(const OscOutput::Sounding& note, bool on)
{
    lo_message message = lo_message_new();
    lo_message_add_string(message, utf8(note.path).constData());
    lo_message_add_string(message, utf8(note.ratio).constData());
    if (on) {
        lo_message_add_float(message, note.hz);
        lo_message_add_string(message, utf8(note.name).constData());
        lo_message_add_float(message, note.cents);
    }
    return message;
}

// One address that gets messages.
class OscOutput::Peer
{
public:
    Peer(const QString& host, int port)
        : host_(host), port_(port),
          address_(lo_address_new(utf8(host).constData(), utf8(QString::number(port)).constData()))
    {
    }
    ~Peer()
    {
        if (address_)
            lo_address_free(address_);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool is(const QString& host, int port) const { return host_ == host && port_ == port; }
    const QString& host() const { return host_; }
    int port() const { return port_; }

    void send(const char* path, lo_message message) const
    {
        if (address_)
            lo_send_message(address_, path, message);
    }
    void send(lo_bundle bundle) const
    {
        if (address_)
            lo_send_bundle(address_, bundle);
    }

private:
    QString host_;
    int port_;
    lo_address address_;
};

OscOutput::OscOutput(PdPlayer* player, QObject* parent) : QObject(parent), player_(player) {}

OscOutput::~OscOutput()
{
    stop();
}

void OscOutput::start(const QString& host, int port, int calibrationHz)
{
    stop();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        configuredHost_ = host;
        configuredPort_ = port;
        state_.calibrationHz = calibrationHz;
        changes_ = Everything;
    }
    NoteRecord stale;
    while (player_->noteRecords(oscListener).pop(stale)) {
    }
    stopping_ = false;
    player_->setNoteRecordsWanted(true, oscListener);
    thread_ = std::thread(&OscOutput::run, this);
}

void OscOutput::stop()
{
    if (!thread_.joinable())
        return;
    player_->setNoteRecordsWanted(false, oscListener);
    stopping_ = true;
    player_->noteWakeup(oscListener).post();
    thread_.join();
    peers_.clear();
    configured_.reset();
    sounding_.clear();
}

void OscOutput::subscribe(const QString& host, int port)
{
    request({host, port, true});
}

void OscOutput::unsubscribe(const QString& host, int port)
{
    request({host, port, false});
}

void OscOutput::request(const Subscription& subscription)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // A flood of requests between two runs of the thread is cut short.
        if (subscriptions_.size() >= 4 * maxSubscribers)
            return;
        subscriptions_.append(subscription);
    }
    player_->noteWakeup(oscListener).post();
}

void OscOutput::update(const std::function<void(State&)>& change, unsigned what)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        change(state_);
        changes_ |= what;
    }
    player_->noteWakeup(oscListener).post();
}

void OscOutput::onTransposed(LatticeRatio ratio, int)
{
    update([&](State& state) { state.transposition = ratio; }, Transposition);
}

void OscOutput::onVolumeChanged(float volume)
{
    update([&](State& state) { state.volume = volume; }, Volume);
}

void OscOutput::onVoiceVolumeChanged(float volume)
{
    update([&](State& state) { state.voiceVolume = volume; }, VoiceVolume);
}

void OscOutput::onBaseFrequencyChanged(float hz)
{
    update([&](State& state) { state.baseHz = hz; }, Base | Transposition);
}

void OscOutput::onMonophonicChanged(bool mono)
{
    update([&](State& state) { state.mono = mono; }, Mono);
}

void OscOutput::onMacroNamesReceived(QStringList names)
{
    update([&](State& state) { state.macroNames = names; }, Macros);
}

void OscOutput::onMacroDefaultsReceived(QList<float> defaults)
{
    update(
        [&](State& state) {
            for (int i = 0; i < macroCount && i < defaults.size(); ++i)
                if (defaults.at(i) >= 0.0f) // -1: the patch gave none
                    state.macroValues[std::size_t(i)] = defaults.at(i);
        },
        Macros);
}

void OscOutput::onMacroValueChanged(int macro, float value)
{
    if (macro >= 1 && macro <= macroCount)
        update([&](State& state) { state.macroValues[std::size_t(macro - 1)] = value; }, Macros);
}

void OscOutput::setPatchName(const QString& name)
{
    update([&](State& state) { state.patch = name; }, Patch);
}

void OscOutput::setCalibration(int hz)
{
    std::lock_guard<std::mutex> lock(mutex_);
    state_.calibrationHz = hz;
}

void OscOutput::run()
{
    bool scheduled = false;
    while (!stopping_) {
        player_->noteWakeup(oscListener).wait(idleWaitMs);
        if (!scheduled && player_->audioThreadPriority() >= 0) {
            followAudioPriority("OSC output", player_->audioThreadPriority());
            scheduled = true;
        }

        State state;
        unsigned changes = 0;
        QList<Subscription> subscriptions;
        QString configuredHost;
        int configuredPort = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            state = state_;
            std::swap(changes, changes_);
            subscriptions.swap(subscriptions_);
            configuredHost = configuredHost_;
            configuredPort = configuredPort_;
        }
        if (configuredPort > 0 && !configured_)
            configured_ = std::make_unique<Peer>(configuredHost, configuredPort);

        std::vector<Peer*> peers;
        for (const auto& peer : peers_)
            peers.push_back(peer.get());
        if (configured_)
            peers.push_back(configured_.get());

        passNotes(peers);
        if (changes)
            sendState(peers, changes, state);
        // Whoever is new gets the whole picture.
        for (Peer* peer : applySubscriptions(subscriptions)) {
            sendState({peer}, Everything, state);
            sendSounding(*peer, state.calibrationHz);
        }
    }
}

void OscOutput::passNotes(std::vector<Peer*>& peers)
{
    int calibrationHz = 440;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calibrationHz = state_.calibrationHz;
    }
    lo_bundle bundle = nullptr;
    int inBundle = 0;
    const auto flush = [&] {
        if (!bundle)
            return;
        for (Peer* peer : peers)
            peer->send(bundle);
        lo_bundle_free_recursive(bundle);
        bundle = nullptr;
        inBundle = 0;
    };
    NoteRecord record;
    while (player_->noteRecords(oscListener).pop(record)) {
        // With nobody listening only the notes' records are kept, for a
        // subscriber to come: no spelling, no message.
        NoteRecord started = record;
        if (record.on)
            sounding_.insert(record.ratio, record);
        else
            started = sounding_.take(record.ratio);
        if (peers.empty())
            continue;
        // An off names the ball its note was started from, whatever the
        // transposition is now.
        if (started.ratio != record.ratio)
            started = record;
        lo_message message = noteMessage(describe(started, calibrationHz), record.on);
        if (!bundle)
            bundle = lo_bundle_new(LO_TT_IMMEDIATE);
        lo_bundle_add_message(bundle, record.on ? "/lattice/sounding/on" : "/lattice/sounding/off",
                              message);
        if (++inBundle == messagesPerBundle)
            flush();
    }
    flush();
}

OscOutput::Sounding OscOutput::describe(const NoteRecord& record, int calibrationHz) const
{
    Sounding note;
    note.hz = record.frequency;
    LatticeRatio ball = record.ratio;
    const LatticeRatio back = record.transposition.reciprocal();
    if (ball.canMultiplyWith(back))
        ball *= back;
    note.ratio = ball.toString();
    if (const std::optional<LatticePath> path = pathForRatio(ball))
        note.path = path->toString();
    // Spelled as the card spells it: from the 1/1 through the steps of the
    // transposition and then those of the ball.
    const std::optional<QList<int>> transposition = stepsForRatio(record.transposition);
    const std::optional<QList<int>> steps = stepsForRatio(ball);
    if (transposition && steps && record.ratio.toDouble() > 0.0) {
        const float baseHz = float(record.frequency / record.ratio.toDouble());
        const SpelledNote spelled =
            spellLatticeNote(baseHz, calibrationHz, *transposition + *steps, record.frequency);
        note.name = spelled.name();
        note.cents = spelled.cents;
    }
    return note;
}

std::vector<OscOutput::Peer*>
OscOutput::applySubscriptions(const QList<Subscription>& subscriptions)
{
    for (const Subscription& change : subscriptions) {
        const auto found = std::find_if(peers_.begin(), peers_.end(), [&](const auto& peer) {
            return peer->is(change.host, change.port);
        });
        if (!change.add) {
            if (found != peers_.end())
                peers_.erase(found);
            continue;
        }
        // Subscribing again asks for the whole state again.
        if (found != peers_.end())
            peers_.erase(found);
        if (int(peers_.size()) >= maxSubscribers)
            peers_.erase(peers_.begin());
        peers_.push_back(std::make_unique<Peer>(change.host, change.port));
        qDebug().noquote() << "OSC state goes to" << quotedText(change.host) << change.port;
    }
    // Of what was added, what is still there.
    std::vector<Peer*> fresh;
    for (const auto& peer : peers_)
        for (const Subscription& change : subscriptions)
            if (change.add && peer->is(change.host, change.port)) {
                fresh.push_back(peer.get());
                break;
            }
    return fresh;
}

void OscOutput::sendState(const std::vector<Peer*>& peers, unsigned what, const State& state) const
{
    if (peers.empty())
        return;
    const auto send = [&peers](const char* path, lo_message message) {
        for (const Peer* peer : peers)
            peer->send(path, message);
        lo_message_free(message);
    };
    const auto number = [&send](const char* path, float value) {
        lo_message message = lo_message_new();
        lo_message_add_float(message, value);
        send(path, message);
    };
    if (what & Transposition) {
        lo_message message = lo_message_new();
        lo_message_add_string(message, utf8(state.transposition.toString()).constData());
        lo_message_add_float(message, centsOf(state.transposition));
        send("/lattice/transposition", message);
        number("/lattice/black-ball", float(state.baseHz * state.transposition.toDouble()));
    }
    if (what & Base)
        number("/lattice/base", state.baseHz);
    if (what & Volume)
        number("/lattice/volume", state.volume);
    if (what & VoiceVolume)
        number("/lattice/voice-volume", state.voiceVolume);
    if (what & Mono) {
        lo_message message = lo_message_new();
        lo_message_add_int32(message, state.mono ? 1 : 0);
        send("/lattice/mono", message);
    }
    if (what & Patch) {
        lo_message message = lo_message_new();
        lo_message_add_string(message, utf8(state.patch).constData());
        send("/lattice/patch", message);
    }
    if (what & Macros) {
        for (int i = 0; i < macroCount; ++i) {
            lo_message message = lo_message_new();
            lo_message_add_int32(message, i + 1);
            lo_message_add_string(message, utf8(state.macroNames.value(i)).constData());
            lo_message_add_float(message, state.macroValues[std::size_t(i)]);
            send("/lattice/macro", message);
        }
    }
}

void OscOutput::sendSounding(Peer& peer, int calibrationHz) const
{
    lo_message clear = lo_message_new();
    peer.send("/lattice/sounding/clear", clear);
    lo_message_free(clear);
    for (const NoteRecord& record : sounding_) {
        lo_message message = noteMessage(describe(record, calibrationHz), true);
        peer.send("/lattice/sounding/on", message);
        lo_message_free(message);
    }
}
