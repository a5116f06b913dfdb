#include "MidiTuning.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int bendCentre = 8192;
constexpr int fractionSteps = 16384;

std::uint8_t dataByte(int value)
{
    return std::uint8_t(value & 0x7F);
}

// The frequency `semitones` above A4; all decoding goes through here.
double frequencyAt(double semitones, double a4)
{
    return a4 * std::exp2(semitones / 12.0);
}

} // namespace

namespace MidiTuning {

double semitonesFromA4(double hz, double a4)
{
    return 12.0 * std::log2(hz / a4);
}

std::optional<int> nearestKey(double hz, double a4)
{
    // log2 turns zero, negative and infinite frequencies into -inf, NaN or
    // inf, which fail here before any conversion to int.
    const double key = 69.0 + std::round(semitonesFromA4(hz, a4));
    if (!(key >= 0.0 && key <= 127.0))
        return std::nullopt;
    return int(key);
}

std::optional<BentNote> bentNote(double hz, double a4, int rangeSemitones)
{
    const std::optional<int> key = nearestKey(hz, a4);
    if (!key || rangeSemitones < 1 || rangeSemitones > 96)
        return std::nullopt;
    const double offset = semitonesFromA4(hz, a4) - (*key - 69);
    const long steps = std::lround(offset / rangeSemitones * bendCentre);
    return BentNote{*key, int(std::clamp(bendCentre + steps, 0L, 16383L))};
}

double frequencyOf(const BentNote& note, double a4, int rangeSemitones)
{
    const double bent = double(note.bend - bendCentre) / bendCentre * rangeSemitones;
    return frequencyAt(note.key - 69 + bent, a4);
}

std::optional<MtsPitch> mtsPitch(double hz, double a4)
{
    const double pitch = 69.0 + semitonesFromA4(hz, a4);
    // A hair below key 0 may still round up to it, so the range is checked
    // again once the fraction is known.
    if (!(pitch >= -1.0 && pitch < 128.0))
        return std::nullopt;
    const double below = std::floor(pitch);
    MtsPitch result{int(below), int(std::lround((pitch - below) * fractionSteps))};
    if (result.fraction == fractionSteps) {
        ++result.semitone;
        result.fraction = 0;
    }
    if (result.semitone < 0 || result.semitone > 127 ||
        (result.semitone == 127 && result.fraction == fractionSteps - 1))
        return std::nullopt;
    return result;
}

double frequencyOf(const MtsPitch& pitch, double a4)
{
    return frequencyAt(pitch.semitone - 69 + double(pitch.fraction) / fractionSteps, a4);
}

SingleNoteTuning singleNoteTuning(int key, const MtsPitch& pitch, int program, int device)
{
    return {0xF0,
            0x7F,
            dataByte(device),
            0x08,
            0x02,
            dataByte(program),
            0x01,
            dataByte(key),
            dataByte(pitch.semitone),
            dataByte(pitch.fraction >> 7),
            dataByte(pitch.fraction),
            0xF7};
}

std::vector<std::vector<std::uint8_t>> mpeConfiguration(int memberChannels, int rangeSemitones)
{
    // Channel numbers past 16 do not exist; a range byte has 7 bits.
    const int members = std::clamp(memberChannels, 0, 15);
    const std::uint8_t range = dataByte(std::clamp(rangeSemitones, 0, 127));
    std::vector<std::vector<std::uint8_t>> messages;
    messages.reserve(std::size_t(5 + 6 * members));
    auto control = [&messages](int channel, std::uint8_t controller, std::uint8_t value) {
        messages.push_back({std::uint8_t(0xB0 | channel), controller, value});
    };
    auto closeRpn = [&control](int channel) {
        control(channel, 0x65, 0x7F);
        control(channel, 0x64, 0x7F);
    };

    control(0, 0x65, 0x00);
    control(0, 0x64, 0x06);
    control(0, 0x06, std::uint8_t(members));
    closeRpn(0);
    for (int channel = 1; channel <= members; ++channel) {
        control(channel, 0x65, 0x00);
        control(channel, 0x64, 0x00);
        control(channel, 0x06, range);
        control(channel, 0x26, 0x00);
        closeRpn(channel);
    }
    return messages;
}

} // namespace MidiTuning
