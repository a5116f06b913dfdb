#pragma once

#include "MidiNoteEncoder.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

class PdPlayer;
class RtMidiOut;

// Passes every note the player starts or stops, whatever started it, on to
// an external synthesizer through the output port "Tuning Lattice out",
// tuned as the encoder's mode says. A thread of its own waits for the note
// records the audio thread leaves and sends them; the audio thread never
// waits on MIDI.
//
// start() and stop() on the GUI thread.
class MidiOutput : public QObject
{
    Q_OBJECT

public:
    static constexpr const char* portName = "Tuning Lattice out";

    struct Config
    {
        QString api = QStringLiteral("jack"); // "alsa" or "jack"
        QString port;                         // a port to connect to; "": none
        QString mode = QStringLiteral("off");
        int bendRange = 48;
        double synthA4 = 440.0;
    };
    // Where messages go instead of a port (tests, benchmarks): called on the
    // output thread with each message and the note record it came from.
    using Sink = std::function<void(const MidiNoteEncoder::Message&, const NoteRecord&)>;

    explicit MidiOutput(PdPlayer* player, QObject* parent = nullptr);
    ~MidiOutput() override;

    // Opens the port (or uses the sink), sends the encoder's set-up and
    // starts passing notes on. Mode "off" opens nothing. False (with a
    // record) when the MIDI system cannot be used.
    bool start(const Config& config, Sink sink = {});
    // Sends note offs for whatever sounds, and closes the port.
    void stop();
    bool isRunning() const { return thread_.joinable(); }
    // The ports of `api` that notes can go to, ours left out.
    static QStringList destinationPorts(const QString& api);

private:
    void run();
    void send(const MidiNoteEncoder::Message& message, const NoteRecord& record);

    PdPlayer* player_;
    std::unique_ptr<RtMidiOut> midi_;
    std::unique_ptr<MidiNoteEncoder> encoder_;
    Sink sink_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
};
