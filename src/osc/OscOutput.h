#pragma once

#include "LatticeRatio.h"
#include "NoteRecord.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class PdPlayer;

// Tells remote displays and control surfaces what the instrument does: the
// notes that sound (from the player's note records, so a chord reaches them
// within a millisecond of the block that played it) and the state the
// window shows (transposition, the black ball's frequency, volumes, patch,
// macros). It sends to every address that subscribed (at most
// maxSubscribers, the oldest giving way) and to one set in the options; a
// new subscriber first gets the whole state and every sounding note.
//
//   /lattice/sounding/on s:path s:ratio f:hz s:name f:cents
//   /lattice/sounding/off s:path s:ratio
//   /lattice/sounding/clear           (to a new subscriber, before the notes)
//   /lattice/transposition s:ratio f:cents
//   /lattice/black-ball f:hz          /lattice/base f:hz
//   /lattice/volume f                 /lattice/voice-volume f
//   /lattice/mono i                   /lattice/patch s:name
//   /lattice/macro i:n s:name f:value
//
// The path and ratio are the ball's, before transposition; hz is what
// sounds; name and cents are spelled as the note card spells them. Notes of
// one block go out as one bundle.
//
// A thread of its own sends, one real-time step below the audio thread; the
// GUI thread's slots only note what changed.
class OscOutput : public QObject
{
    Q_OBJECT

public:
    static constexpr int maxSubscribers = 16;
    static constexpr int macroCount = 8;

    // A sounding note as subscribers read it.
    struct Sounding
    {
        QString path;
        QString ratio;
        float hz = 0.0f;
        QString name;
        float cents = 0.0f;
    };

    explicit OscOutput(PdPlayer* player, QObject* parent = nullptr);
    ~OscOutput() override;

    // GUI thread. Starts sending; `host`:`port` also gets everything when
    // port is not 0. Calibration is the A4 of the note names.
    void start(const QString& host, int port, int calibrationHz);
    void stop();
    bool isRunning() const { return thread_.joinable(); }

    // Any thread (the OSC input's).
    void subscribe(const QString& host, int port);
    void unsubscribe(const QString& host, int port);

public slots:
    // GUI thread; connected to the player's change signals.
    void onTransposed(LatticeRatio ratio, int prime);
    void onVolumeChanged(float volume);
    void onVoiceVolumeChanged(float volume);
    void onBaseFrequencyChanged(float hz);
    void onMonophonicChanged(bool mono);
    void onMacroNamesReceived(QStringList names);
    void onMacroDefaultsReceived(QList<float> defaults);
    void onMacroValueChanged(int macro, float value);
    // The voice patch's name as the patch menu shows it.
    void setPatchName(const QString& name);
    void setCalibration(int hz);

private:
    // What the window shows, as the GUI thread last saw it.
    struct State
    {
        LatticeRatio transposition{1};
        float baseHz = 440.0f;
        float volume = 0.0f;
        float voiceVolume = 1.0f;
        bool mono = false;
        QString patch;
        QStringList macroNames;
        std::array<float, macroCount> macroValues{};
        int calibrationHz = 440;
    };
    enum Change : unsigned
    {
        Transposition = 1,
        Base = 2,
        Volume = 4,
        VoiceVolume = 8,
        Mono = 16,
        Patch = 32,
        Macros = 64,
        Everything = 127,
    };
    struct Subscription
    {
        QString host;
        int port = 0;
        bool add = true;
    };
    class Peer;

    // Changes the state under the lock and wakes the thread to send `what`.
    void update(const std::function<void(State&)>& change, unsigned what);
    void request(const Subscription& subscription);
    void run();
    void passNotes(std::vector<Peer*>& peers);
    // The peers that subscribed anew.
    std::vector<Peer*> applySubscriptions(const QList<Subscription>& subscriptions);
    void sendState(const std::vector<Peer*>& peers, unsigned what, const State& state) const;
    void sendSounding(Peer& peer, int calibrationHz) const;
    Sounding describe(const NoteRecord& record, int calibrationHz) const;

    PdPlayer* player_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};

    // Guards the four below; a standard mutex, which the thread sanitizer
    // can follow.
    std::mutex mutex_;
    State state_;
    unsigned changes_ = 0;
    QList<Subscription> subscriptions_;
    QString configuredHost_;
    int configuredPort_ = 0;

    // Output thread.
    std::vector<std::unique_ptr<Peer>> peers_;
    std::unique_ptr<Peer> configured_;
    // The record that started each sounding note.
    QHash<LatticeRatio, NoteRecord> sounding_;
};
