#pragma once

#include "SerializableRoot.h"

#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>

// The options the instrument keeps between runs, one public member per key of
// options.json. The members hold the defaults from construction on; the
// parts that use an option read and assign its member directly.
//
// GUI thread: init, saving and the slots (the player's change signals arrive
// through queued connections). The UDP listener thread reads udpPort once as
// it starts.
class Settings : public SerializableRoot
{
    Q_OBJECT

public:
    explicit Settings(QObject* parent = nullptr);

    using SerializableRoot::init;
    // Loads options.json from the data folder, or creates it with the
    // defaults when it is missing.
    bool init();

    // Takes a value only when its JSON type is the expected one. Numbers
    // meant as ints are truncated toward zero.
    void read(const QJsonObject& json) override;
    // Floats are widened to double, so a value with no exact single-precision
    // form is written with its single-precision expansion.
    void write(QJsonObject& json) const override;

    int audioDevice = -1; // list position of the audio output device
    int framesPerBuffer = 256;
    float baseFrequency = 440.0f;   // Hz of the lattice's 1/1
    int calibrationFrequency = 440; // Hz of A4 for note names
    // How note cards write a note: "letters" (cents from equal temperament)
    // or "heji" (Helmholtz-Ellis accidentals); anything else falls back to
    // "letters" with a warning.
    QString notation = QStringLiteral("letters");
    float masterVolume = 0.75f;     // 0 to 1
    bool monophonic = false;
    QString defaultPatch; // voice patch loaded at start-up
    int udpPort = 8888;
    bool circlesView = true;  // false: the grapes layer
    QSize windowSize{-1, -1}; // -1: none saved
    QPoint windowPos{-1, -1}; // -1: none saved
    bool windowMaximized = false;

    // MIDI. A value this program does not know falls back to its default
    // with a warning.
    QString midiApi = defaultMidiApi(); // "alsa" or "jack"
    QString midiInPort;                 // a port to connect to; "": only our own
    QString midiOutPort;
    QString midiOutMode = QStringLiteral("off"); // "off", "mpe", "mts" or "plain"
    int mpeBendRange = 48;                       // semitones, 1 to 96
    float synthA4 = 440.0f;                      // Hz the synthesizer tunes key 69 to
    bool internalSound = true;                   // false: only the MIDI output sounds
    bool velocitySensitive = true;

    // Who may play over the network. Where a listener binds: "all",
    // "loopback", an interface's name or an address of this machine; who
    // may send: CIDR networks or addresses, an empty list letting anyone.
    // The wand is a network device and listens everywhere; OSC listens on
    // this machine only until the user opens it up.
    QString udpListen = QStringLiteral("all");
    QStringList udpAllow;
    int oscPort = 8000; // 0: no OSC
    QString oscListen = QStringLiteral("loopback");
    QStringList oscAllow;
    // Where the state goes besides the subscribers; port 0: nowhere.
    QString oscSendHost = QStringLiteral("127.0.0.1");
    int oscSendPort = 0;

    // "alsa" where the ALSA sequencer exists, otherwise "jack".
    static QString defaultMidiApi();

public slots:
    // Each stores its value and nothing else: no signal, no save.
    void onAudioDeviceChanged(int value);
    void onFramesPerBufferChanged(int value);
    void onBaseFrequencyChanged(float value);
    void onCalibrationFrequencyChanged(int value);
    void onMasterVolumeChanged(float value);
    void onMonophonicChanged(bool value);
};
