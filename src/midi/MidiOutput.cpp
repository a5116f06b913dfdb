#include "MidiOutput.h"

#include "MidiPorts.h"
#include "PdPlayer.h"
#include "QuotedText.h"
#include "RealTimeThread.h"

#include <QDebug>
#include <RtMidi.h>

namespace {

// How long the thread sleeps at most between looks at the stop flag.
constexpr int idleWaitMs = 100;

void onError(RtMidiError::Type, const std::string& text, void*)
{
    qWarning().noquote() << "MIDI output:" << QString::fromStdString(text);
}

} // namespace

MidiOutput::MidiOutput(PdPlayer* player, QObject* parent) : QObject(parent), player_(player) {}

MidiOutput::~MidiOutput()
{
    stop();
}

bool MidiOutput::start(const Config& config, Sink sink)
{
    stop();
    const MidiNoteEncoder::Mode mode = MidiNoteEncoder::modeFromName(config.mode);
    if (mode == MidiNoteEncoder::Mode::Off)
        return true;
    sink_ = std::move(sink);
    if (!sink_) {
        try {
            midi_ = std::make_unique<RtMidiOut>(MidiPorts::apiOf(config.api), portName);
        } catch (const RtMidiError& error) {
            qWarning().noquote() << QStringLiteral("MIDI output unavailable on %1: %2")
                                        .arg(config.api,
                                             QString::fromStdString(error.getMessage()));
            midi_.reset();
            return false;
        }
        midi_->setErrorCallback(&onError, this);
        const int index = config.port.isEmpty() ? -1 : MidiPorts::find(*midi_, config.port);
        if (index >= 0) {
            midi_->openPort(unsigned(index), portName);
        } else {
            if (!config.port.isEmpty())
                qWarning().noquote()
                    << QStringLiteral("MIDI output %1 not found; notes go to our own port")
                           .arg(quotedText(config.port));
            midi_->openVirtualPort(portName);
        }
    }
    encoder_ = std::make_unique<MidiNoteEncoder>(mode, config.bendRange, config.synthA4);
    for (const MidiNoteEncoder::Message& message : encoder_->setUp())
        send(message, NoteRecord{});
    // Whatever waited from an earlier run is stale.
    NoteRecord stale;
    while (player_->noteRecords().pop(stale)) {
    }
    stopping_ = false;
    player_->setNoteRecordsWanted(true);
    thread_ = std::thread(&MidiOutput::run, this);
    qWarning().noquote() << QStringLiteral("MIDI output %1 sends %2 notes")
                                .arg(quotedText(QLatin1String(portName)), config.mode);
    return true;
}

void MidiOutput::stop()
{
    if (thread_.joinable()) {
        player_->setNoteRecordsWanted(false);
        stopping_ = true;
        player_->noteWakeup().post();
        thread_.join();
        for (const MidiNoteEncoder::Message& message : encoder_->releaseAll())
            send(message, NoteRecord{});
    }
    encoder_.reset();
    if (midi_) {
        midi_->closePort();
        midi_.reset();
    }
    sink_ = nullptr;
}

QStringList MidiOutput::destinationPorts(const QString& api)
{
    return MidiPorts::othersPorts<RtMidiOut>(api);
}

void MidiOutput::run()
{
    NoteRecord record;
    bool scheduled = false;
    while (!stopping_) {
        player_->noteWakeup().wait(idleWaitMs);
        if (!scheduled && player_->audioThreadPriority() >= 0) {
            followAudioPriority("MIDI output", player_->audioThreadPriority());
            scheduled = true;
        }
        while (player_->noteRecords().pop(record))
            for (const MidiNoteEncoder::Message& message : encoder_->encode(record))
                send(message, record);
    }
}

void MidiOutput::send(const MidiNoteEncoder::Message& message, const NoteRecord& record)
{
    if (sink_)
        sink_(message, record);
    else if (midi_)
        midi_->sendMessage(message.data(), message.size());
}
