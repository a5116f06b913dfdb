#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <array>
#include <atomic>
#include <cstddef>
#include <memory>

class MidiMap;
class PdPlayer;
class RtMidiIn;

// The keyboard: the program's MIDI input port "Tuning Lattice", on the ALSA
// sequencer or JACK. Messages arrive on the MIDI library's own thread, are
// read through the key map and go to the player's keyboard command buffer;
// nothing here waits, allocates per message or touches the window.
//
// Keys are held notes. The sustain pedal (controller 64) holds released keys
// until it lifts; controllers 120 and 123 stop every note. Any channel plays.
//
// open(), close() and the port watch run on the GUI thread; handleBytes() on
// the port's thread (or a test's).
class MidiInput : public QObject
{
    Q_OBJECT

public:
    static constexpr const char* portName = "Tuning Lattice";

    MidiInput(PdPlayer* player, const MidiMap* map, QObject* parent = nullptr);
    ~MidiInput() override;

    // Opens our port on `api` ("alsa" or "jack"), connected to the port
    // named `source` when it is not empty. A source that is not there yet
    // is watched for and connected when it comes; one that goes away is
    // logged once and connected again when it comes back. False (with a
    // record) when the MIDI system cannot be used at all.
    bool open(const QString& api, const QString& source);
    void close();
    bool isOpen() const { return midi_ != nullptr; }
    // The ports of `api` that could play us, ours left out.
    static QStringList sourcePorts(const QString& api);

    // A key's velocity sets its note's gain, or every note plays at full.
    // Any thread.
    void setVelocitySensitive(bool on) { velocitySensitive_ = on; }

    // Reads MIDI bytes: whole messages, running status, system real-time
    // bytes anywhere, SysEx of any length (skipped). The port's thread.
    void handleBytes(const unsigned char* bytes, std::size_t size);

private:
    void handleMessage(unsigned char status, unsigned char first, unsigned char second);
    void keyDown(int key, int velocity);
    void keyUp(int key);
    void controller(int number, int value);
    void program(int number);
    void stopAll();
    void release(int key);
    bool connectSource();
    void watchSource();

    PdPlayer* player_;
    const MidiMap* map_;
    std::unique_ptr<RtMidiIn> midi_;
    QString api_;
    QString source_;
    bool sourceConnected_ = false;
    QTimer watch_;
    std::atomic<bool> velocitySensitive_{true};

    // The port's thread only.
    unsigned char runningStatus_ = 0;
    unsigned char data_[2] = {};
    int dataCount_ = 0;
    bool inSysex_ = false;
    bool pedalDown_ = false;
    std::array<bool, 128> keyDown_{};
    std::array<bool, 128> sustained_{};
    std::array<int, 128> controllerValue_{};
};
