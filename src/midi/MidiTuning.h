#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// How an exact frequency reaches a synthesizer that only knows MIDI keys.
// Every function is pure; frequencies in Hz, `a4` is the synthesizer's
// tuning of key 69 (the "synth A4" option).
namespace MidiTuning {

// Semitones of `hz` above the synthesizer's A4 (negative below).
double semitonesFromA4(double hz, double a4);
// The equal-tempered key nearest to `hz`, or nullopt outside keys 0..127 or
// for a frequency that is not positive and finite.
std::optional<int> nearestKey(double hz, double a4);

// MPE: the nearest key, bent to the exact pitch. `bend` is the 14-bit pitch
// bend value (0..16383, 8192 unbent) for a bend range of `rangeSemitones`
// either way.
struct BentNote
{
    int key = 69;
    int bend = 8192;
};
// Nullopt when the frequency has no key (see nearestKey) or the range is
// below 1 semitone or above 96.
std::optional<BentNote> bentNote(double hz, double a4, int rangeSemitones);
// The frequency a synthesizer plays for `note` at that bend range.
double frequencyOf(const BentNote& note, double a4, int rangeSemitones);

// MIDI Tuning Standard frequency data: the equal-tempered key at or below
// the pitch and the rest as a 14-bit fraction of a semitone (units of
// 100/16384 cent).
struct MtsPitch
{
    int semitone = 69;
    int fraction = 0;
};
// Nullopt when the pitch lies below key 0 or at or above key 127 plus the
// largest fraction (the standard reserves 7F 7F 7F for "no change").
std::optional<MtsPitch> mtsPitch(double hz, double a4);
double frequencyOf(const MtsPitch& pitch, double a4);

// The real-time single-note tuning change (universal real-time SysEx, sub-IDs
// 08 02) retuning one key of tuning program `program`:
// F0 7F <device> 08 02 <program> 01 <key> <semitone> <fraction msb> <fraction lsb> F7.
using SingleNoteTuning = std::array<std::uint8_t, 12>;
SingleNoteTuning singleNoteTuning(int key, const MtsPitch& pitch, int program = 0,
                                  int device = 0x7F);

// The MPE set-up for a lower zone: the configuration message (RPN 6) on
// manager channel 1 with `memberChannels` member channels, then the pitch
// bend sensitivity (RPN 0) of `rangeSemitones` on every member channel,
// each RPN closed with the null RPN. One complete channel message per entry.
std::vector<std::vector<std::uint8_t>> mpeConfiguration(int memberChannels, int rangeSemitones);

} // namespace MidiTuning
