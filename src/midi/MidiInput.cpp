#include "MidiInput.h"

#include "LatticeEvent.h"
#include "LatticeNoteEvent.h"
#include "MidiMap.h"
#include "MidiNoteEncoder.h"
#include "MidiPorts.h"
#include "PdPlayer.h"
#include "QuotedText.h"

#include <QDebug>
#include <RtMidi.h>

namespace {

constexpr int sustainController = 64;
constexpr int allSoundOffController = 120;
constexpr int allNotesOffController = 123;
// How often a chosen source that is missing is looked for.
constexpr int watchIntervalMs = 1000;

void onMessage(double, std::vector<unsigned char>* message, void* input)
{
    if (message && !message->empty())
        static_cast<MidiInput*>(input)->handleBytes(message->data(), message->size());
}

void onError(RtMidiError::Type, const std::string& text, void*)
{
    qWarning().noquote() << "MIDI input:" << QString::fromStdString(text);
}

// Data bytes of a channel message.
int dataBytesAfter(unsigned char status)
{
    return (status & 0xE0) == 0xC0 ? 1 : 2;
}

} // namespace

MidiInput::MidiInput(PdPlayer* player, const MidiMap* map, QObject* parent)
    : QObject(parent), player_(player), map_(map)
{
    watch_.setInterval(watchIntervalMs);
    connect(&watch_, &QTimer::timeout, this, &MidiInput::watchSource);
}

MidiInput::~MidiInput()
{
    close();
}

bool MidiInput::open(const QString& api, const QString& source)
{
    close();
    try {
        midi_ = std::make_unique<RtMidiIn>(MidiPorts::apiOf(api), portName);
    } catch (const RtMidiError& error) {
        qWarning().noquote() << QStringLiteral("MIDI input unavailable on %1: %2")
                                    .arg(api, QString::fromStdString(error.getMessage()));
        midi_.reset();
        return false;
    }
    midi_->setErrorCallback(&onError, this);
    midi_->ignoreTypes(true, true, true);
    midi_->setCallback(&onMessage, this);
    api_ = api;
    source_ = source;
    sourceConnected_ = false;
    if (source.isEmpty() || !connectSource()) {
        midi_->openVirtualPort(portName);
        if (!source.isEmpty())
            qWarning().noquote() << QStringLiteral("MIDI input %1 not found; waiting for it")
                                        .arg(quotedText(source));
    }
    if (!source.isEmpty())
        watch_.start();
    qWarning().noquote() << QStringLiteral("MIDI input port %1 open on %2")
                                .arg(quotedText(QLatin1String(portName)), api);
    return true;
}

void MidiInput::close()
{
    watch_.stop();
    if (midi_) {
        midi_->closePort();
        midi_.reset();
    }
    sourceConnected_ = false;
}

QStringList MidiInput::sourcePorts(const QString& api)
{
    return MidiPorts::othersPorts<RtMidiIn>(api);
}

bool MidiInput::connectSource()
{
    const int index = MidiPorts::find(*midi_, source_);
    if (index < 0)
        return false;
    midi_->closePort();
    midi_->openPort(unsigned(index), portName);
    sourceConnected_ = midi_->isPortOpen();
    if (sourceConnected_)
        qWarning().noquote()
            << QStringLiteral("MIDI input connected to %1").arg(quotedText(source_));
    return sourceConnected_;
}

// A source that went away is noticed here, once, and connected again when it
// returns; meanwhile our own port stays for anyone to connect to.
void MidiInput::watchSource()
{
    if (!midi_)
        return;
    const bool present = MidiPorts::find(*midi_, source_) >= 0;
    if (sourceConnected_ && !present) {
        qWarning().noquote() << QStringLiteral("MIDI input %1 went away; waiting for it to return")
                                    .arg(quotedText(source_));
        sourceConnected_ = false;
        midi_->closePort();
        midi_->openVirtualPort(portName);
        // Keys it held stay down for nobody: let them go. The port's thread
        // has ended with the port, and this thread writes only the screen's
        // buffer; a release of a key that holds nothing does nothing.
        for (int key = 0; key < 128; ++key) {
            PdMessageBuffer::Chunk chunk{};
            chunk.type = LatticeEvent::NoteOff;
            chunk.tag = std::uint8_t(key + 1);
            player_->queueChunkGui(chunk);
        }
    } else if (!sourceConnected_ && present) {
        connectSource();
    }
}

void MidiInput::handleBytes(const unsigned char* bytes, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char byte = bytes[i];
        if (byte >= 0xF8) // real time: anywhere, changes nothing
            continue;
        if (byte >= 0x80) {
            // A channel status starts running status; a system common one
            // (SysEx included) ends it, and its data bytes are skipped.
            inSysex_ = byte == 0xF0;
            dataCount_ = 0;
            runningStatus_ = byte < 0xF0 ? byte : 0;
            continue;
        }
        if (inSysex_ || runningStatus_ == 0)
            continue;
        data_[dataCount_++] = byte;
        if (dataCount_ < dataBytesAfter(runningStatus_))
            continue;
        dataCount_ = 0;
        handleMessage(runningStatus_, data_[0], data_[1]);
    }
}

void MidiInput::handleMessage(unsigned char status, unsigned char first, unsigned char second)
{
    switch (status & 0xF0) {
    case 0x90:
        if (second > 0) {
            keyDown(first, second);
            break;
        }
        [[fallthrough]]; // velocity 0 is a release
    case 0x80:
        keyUp(first);
        break;
    case 0xB0:
        controller(first, second);
        break;
    case 0xC0:
        program(first);
        break;
    default:
        break;
    }
}

void MidiInput::keyDown(int key, int velocity)
{
    const LatticeEvent* event = map_->noteEvent(key);
    if (!event)
        return;
    const auto* note = dynamic_cast<const LatticeNoteEvent*>(event);
    if (!note) {
        player_->queueEventMidi(event);
        return;
    }
    keyDown_[std::size_t(key)] = true;
    sustained_[std::size_t(key)] = false;
    PdMessageBuffer::Chunk chunk{};
    chunk.type = LatticeEvent::NoteOn;
    chunk.path = note->path().bytes();
    chunk.tag = std::uint8_t(key + 1);
    chunk.value = velocitySensitive_ ? MidiNoteEncoder::gainOf(velocity) : 1.0f;
    player_->queueChunkMidi(chunk);
}

void MidiInput::keyUp(int key)
{
    if (!keyDown_[std::size_t(key)])
        return;
    keyDown_[std::size_t(key)] = false;
    if (pedalDown_)
        sustained_[std::size_t(key)] = true;
    else
        release(key);
}

void MidiInput::release(int key)
{
    PdMessageBuffer::Chunk chunk{};
    chunk.type = LatticeEvent::NoteOff;
    chunk.tag = std::uint8_t(key + 1);
    player_->queueChunkMidi(chunk);
}

void MidiInput::controller(int number, int value)
{
    const int previous = controllerValue_[std::size_t(number)];
    controllerValue_[std::size_t(number)] = value;
    switch (number) {
    case sustainController:
        if (value >= 64) {
            pedalDown_ = true;
            return;
        }
        pedalDown_ = false;
        for (int key = 0; key < 128; ++key) {
            if (sustained_[std::size_t(key)] && !keyDown_[std::size_t(key)])
                release(key);
            sustained_[std::size_t(key)] = false;
        }
        return;
    case allSoundOffController:
    case allNotesOffController:
        stopAll();
        return;
    default:
        break;
    }
    const LatticeEvent* event = map_->controllerEvent(number);
    if (!event)
        return;
    if (MidiMap::isLevelKind(event->type())) {
        const LatticeEvent level(event->type(), float(value) / 127.0f);
        player_->queueEventMidi(&level);
    } else if (value >= 64 && previous < 64) {
        player_->queueEventMidi(event);
    }
}

void MidiInput::program(int number)
{
    if (const LatticeEvent* event = map_->programEvent(number))
        player_->queueEventMidi(event);
}

void MidiInput::stopAll()
{
    keyDown_.fill(false);
    sustained_.fill(false);
    const LatticeEvent allOff(LatticeEvent::AllNotesOff, 1.0f);
    player_->queueEventMidi(&allOff);
}
