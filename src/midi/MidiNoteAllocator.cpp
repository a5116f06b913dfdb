#include "MidiNoteAllocator.h"

#include <cstdlib>
#include <tuple>

MidiNoteAllocator::MidiNoteAllocator(int first, int count, bool byDistance)
    : first_(first), byDistance_(byDistance), places_(std::size_t(count))
{
}

MidiNoteAllocator MidiNoteAllocator::memberChannels()
{
    return MidiNoteAllocator(1, 15, false);
}

MidiNoteAllocator MidiNoteAllocator::keys()
{
    return MidiNoteAllocator(0, 128, true);
}

MidiNoteAllocator::Grant MidiNoteAllocator::noteOn(const LatticeRatio& ratio, int preferred)
{
    Grant grant;
    int chosen = -1;
    if (const std::optional<int> held = placeOf(ratio)) {
        chosen = *held - first_;
    } else {
        // Compared as (distance, last used); the first of equals is the
        // lower place. Without a distance every place is at distance 0.
        std::tuple<int, unsigned long long> best;
        for (int index = 0; index < placeCount(); ++index) {
            const Place& place = places_[std::size_t(index)];
            if (place.note)
                continue;
            const int distance = byDistance_ ? std::abs(first_ + index - preferred) : 0;
            const std::tuple<int, unsigned long long> rank{distance, place.lastUsed};
            if (chosen < 0 || rank < best) {
                chosen = index;
                best = rank;
            }
        }
    }
    if (chosen < 0) {
        chosen = 0;
        for (int index = 1; index < placeCount(); ++index) {
            if (places_[std::size_t(index)].started < places_[std::size_t(chosen)].started)
                chosen = index;
        }
        grant.stolen = places_[std::size_t(chosen)].note;
    }

    Place& place = places_[std::size_t(chosen)];
    place.note = ratio;
    place.lastUsed = place.started = ++clock_;
    grant.place = first_ + chosen;
    return grant;
}

std::optional<int> MidiNoteAllocator::noteOff(const LatticeRatio& ratio)
{
    const std::optional<int> held = placeOf(ratio);
    if (held) {
        Place& place = places_[std::size_t(*held - first_)];
        place.note.reset();
        place.lastUsed = ++clock_;
    }
    return held;
}

std::optional<int> MidiNoteAllocator::placeOf(const LatticeRatio& ratio) const
{
    for (std::size_t index = 0; index < places_.size(); ++index) {
        if (places_[index].note == ratio)
            return first_ + int(index);
    }
    return std::nullopt;
}

int MidiNoteAllocator::soundingCount() const
{
    int count = 0;
    for (const Place& place : places_)
        count += place.note ? 1 : 0;
    return count;
}
