#pragma once

#include "LatticeRatio.h"

#include <optional>
#include <vector>

// Hands out the places that sounding notes take on a synthesizer: member
// channels for MPE, keys for the MIDI Tuning Standard. A place holds at most
// one sounding note; a note is known by its ratio, as the player knows it.
// Owned and used by the MIDI output thread only.
class MidiNoteAllocator
{
public:
    // What a note on is given: its place, and the note it took the place
    // from (which must be sent a note off first), if any.
    struct Grant
    {
        int place = -1;
        std::optional<LatticeRatio> stolen;
    };

    // MPE: places are the member channels 1..15 (0-based; channels 2..16
    // as a player counts them). A free channel is chosen least recently
    // used first; with none free, the channel of the oldest sounding note.
    static MidiNoteAllocator memberChannels();
    // MTS: places are the keys 0..127. A note takes the free key nearest to
    // `preferred` (its nearest equal-tempered key), the least recently used
    // of two at the same distance; with none free, the key of the oldest
    // sounding note. Two sounding notes never share a key.
    static MidiNoteAllocator keys();

    // The place for a new note `ratio`; a note that already sounds keeps
    // its place (its re-strike is a new note on there). `preferred` only
    // matters for keys.
    Grant noteOn(const LatticeRatio& ratio, int preferred = 0);
    // Frees the note's place and returns it; nullopt for a note that holds
    // none (never started, stolen, or stopped already).
    std::optional<int> noteOff(const LatticeRatio& ratio);
    // The place `ratio` holds, if it sounds.
    std::optional<int> placeOf(const LatticeRatio& ratio) const;

    int placeCount() const { return int(places_.size()); }
    int soundingCount() const;

private:
    struct Place
    {
        std::optional<LatticeRatio> note;
        // When the place was last taken or freed; 0 never.
        unsigned long long lastUsed = 0;
        // When its note started, for stealing the oldest.
        unsigned long long started = 0;
    };

    MidiNoteAllocator(int first, int count, bool byDistance);

    int first_ = 0;
    bool byDistance_ = false;
    std::vector<Place> places_;
    unsigned long long clock_ = 0;
};
