#include "MidiNoteEncoder.h"

#include "MidiTuning.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::uint8_t noteOffStatus = 0x80;
constexpr std::uint8_t noteOnStatus = 0x90;
constexpr std::uint8_t pitchBendStatus = 0xE0;
// The velocity of every note off: the middle, as keyboards without release
// velocity send.
constexpr std::uint8_t releaseVelocity = 64;

MidiNoteEncoder::Message channelMessage(std::uint8_t status, int channel, int first, int second)
{
    return {std::uint8_t(status | (channel & 0x0F)), std::uint8_t(first & 0x7F),
            std::uint8_t(second & 0x7F)};
}

} // namespace

MidiNoteEncoder::Mode MidiNoteEncoder::modeFromName(const QString& name)
{
    if (name == QLatin1String("mpe"))
        return Mode::Mpe;
    if (name == QLatin1String("mts"))
        return Mode::Mts;
    if (name == QLatin1String("plain"))
        return Mode::Plain;
    return Mode::Off;
}

MidiNoteEncoder::MidiNoteEncoder(Mode mode, int bendRangeSemitones, double synthA4)
    : mode_(mode), bendRange_(std::clamp(bendRangeSemitones, 1, 96)), synthA4_(synthA4),
      places_(mode == Mode::Mpe ? MidiNoteAllocator::memberChannels() : MidiNoteAllocator::keys())
{
}

std::vector<MidiNoteEncoder::Message> MidiNoteEncoder::setUp() const
{
    if (mode_ != Mode::Mpe)
        return {};
    return MidiTuning::mpeConfiguration(places_.placeCount(), bendRange_);
}

std::vector<MidiNoteEncoder::Message> MidiNoteEncoder::encode(const NoteRecord& record)
{
    if (mode_ == Mode::Off)
        return {};
    return record.on ? noteOn(record) : noteOff(record.ratio);
}

std::vector<MidiNoteEncoder::Message> MidiNoteEncoder::noteOn(const NoteRecord& record)
{
    // Struck again while it sounds: the old note makes way first, so that
    // the synthesizer hears an attack rather than a doubled key.
    std::vector<Message> messages = noteOff(record.ratio);
    const int velocity = velocityOf(record.gain);
    switch (mode_) {
    case Mode::Mpe: {
        const std::optional<MidiTuning::BentNote> bent =
            MidiTuning::bentNote(record.frequency, synthA4_, bendRange_);
        if (!bent)
            break;
        const MidiNoteAllocator::Grant grant = places_.noteOn(record.ratio);
        if (grant.stolen) {
            const Placed stolen = sounding_.take(*grant.stolen);
            messages.push_back(
                channelMessage(noteOffStatus, stolen.channel, stolen.key, releaseVelocity));
        }
        messages.push_back(
            channelMessage(pitchBendStatus, grant.place, bent->bend & 0x7F, bent->bend >> 7));
        messages.push_back(channelMessage(noteOnStatus, grant.place, bent->key, velocity));
        sounding_.insert(record.ratio, {grant.place, bent->key});
        break;
    }
    case Mode::Mts: {
        const std::optional<MidiTuning::MtsPitch> pitch =
            MidiTuning::mtsPitch(record.frequency, synthA4_);
        const std::optional<int> nearest = MidiTuning::nearestKey(record.frequency, synthA4_);
        if (!pitch || !nearest)
            break;
        const MidiNoteAllocator::Grant grant = places_.noteOn(record.ratio, *nearest);
        if (grant.stolen) {
            const Placed stolen = sounding_.take(*grant.stolen);
            messages.push_back(channelMessage(noteOffStatus, 0, stolen.key, releaseVelocity));
        }
        const MidiTuning::SingleNoteTuning tuning =
            MidiTuning::singleNoteTuning(grant.place, *pitch);
        messages.emplace_back(tuning.begin(), tuning.end());
        messages.push_back(channelMessage(noteOnStatus, 0, grant.place, velocity));
        sounding_.insert(record.ratio, {0, grant.place});
        break;
    }
    case Mode::Plain: {
        const std::optional<int> key = MidiTuning::nearestKey(record.frequency, synthA4_);
        if (!key)
            break;
        // Two notes near one key share it; its note off waits for the last.
        if (keyUsers_[*key]++ > 0)
            messages.push_back(channelMessage(noteOffStatus, 0, *key, releaseVelocity));
        messages.push_back(channelMessage(noteOnStatus, 0, *key, velocity));
        sounding_.insert(record.ratio, {0, *key});
        break;
    }
    case Mode::Off:
        break;
    }
    return messages;
}

std::vector<MidiNoteEncoder::Message> MidiNoteEncoder::noteOff(const LatticeRatio& ratio)
{
    const auto found = sounding_.constFind(ratio);
    if (found == sounding_.constEnd())
        return {};
    const Placed placed = *found;
    sounding_.erase(found);
    if (mode_ == Mode::Plain) {
        if (--keyUsers_[placed.key] > 0)
            return {};
    } else {
        places_.noteOff(ratio);
    }
    return {channelMessage(noteOffStatus, placed.channel, placed.key, releaseVelocity)};
}

std::vector<MidiNoteEncoder::Message> MidiNoteEncoder::releaseAll()
{
    std::vector<Message> messages;
    const QList<LatticeRatio> ratios = sounding_.keys();
    for (const LatticeRatio& ratio : ratios) {
        std::vector<Message> off = noteOff(ratio);
        messages.insert(messages.end(), off.begin(), off.end());
    }
    return messages;
}

// Keys set a note's gain on a square law (half the velocity, a quarter of
// the amplitude: some 12 dB), which sounds even to most players.
float MidiNoteEncoder::gainOf(int velocity)
{
    const float share = float(std::clamp(velocity, 1, 127)) / 127.0f;
    return share * share;
}

int MidiNoteEncoder::velocityOf(float gain)
{
    if (!(gain > 0.0f))
        return 1;
    return std::clamp(int(std::lround(std::sqrt(std::min(gain, 1.0f)) * 127.0f)), 1, 127);
}
