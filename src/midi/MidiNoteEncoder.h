#pragma once

#include "MidiNoteAllocator.h"
#include "NoteRecord.h"

#include <QHash>
#include <QString>
#include <cstdint>
#include <vector>

// Turns the player's note records into MIDI messages for an external
// synthesizer, tuned to the frequencies our own voices play:
// - "mpe": each note on a member channel of its own (2..16), its pitch bend
//   sent before its note on;
// - "mts": one channel, each note on a key of its own, retuned first by a
//   real-time single-note tuning change;
// - "plain": the nearest equal-tempered key on channel 1.
// Owned and used by the MIDI output thread only.
class MidiNoteEncoder
{
public:
    enum class Mode
    {
        Off,
        Mpe,
        Mts,
        Plain
    };
    using Message = std::vector<std::uint8_t>;

    // "off", "mpe", "mts" or "plain"; anything else is Off.
    static Mode modeFromName(const QString& name);

    MidiNoteEncoder(Mode mode, int bendRangeSemitones, double synthA4);

    Mode mode() const { return mode_; }
    // What a synthesizer needs before the first note: the MPE zone and bend
    // range; nothing for the other modes.
    std::vector<Message> setUp() const;
    // The messages for one record, in sending order; none for a note the
    // synthesizer cannot play (outside its keys) or a stop of a note that
    // holds no place.
    std::vector<Message> encode(const NoteRecord& record);
    // Note offs for every note that sounds, and forgets them.
    std::vector<Message> releaseAll();

    // 1..127 for a note's gain (the inverse of a key's velocity curve).
    static int velocityOf(float gain);
    // The gain a key's velocity 1..127 gives its note.
    static float gainOf(int velocity);

private:
    struct Placed
    {
        int channel = 0; // 0-based
        int key = 0;
    };
    std::vector<Message> noteOn(const NoteRecord& record);
    std::vector<Message> noteOff(const LatticeRatio& ratio);

    Mode mode_;
    int bendRange_;
    double synthA4_;
    MidiNoteAllocator places_;
    // Where each sounding note went, and (plain) how many notes share a key.
    QHash<LatticeRatio, Placed> sounding_;
    int keyUsers_[128] = {};
};
