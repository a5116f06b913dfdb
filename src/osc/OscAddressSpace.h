#pragma once

#include "LatticeEvent.h"
#include "LatticePath.h"

#include <QString>
#include <cstddef>
#include <functional>
#include <optional>

// What one OSC message asks of the instrument.
struct OscCommand
{
    enum Kind
    {
        Event,       // `event`, with `path` for the note kinds
        PatchByName, // `text` names a patch of the patch menu
        Tag,         // `text` is an RFID tag, played as the wand plays it
        Subscribe,   // state goes to `text` (empty: the sender) at `port`
        Unsubscribe,
        Record, // `port` 1 starts a take, 0 ends it
    };
    Kind kind = Event;
    LatticeEvent event;
    std::optional<LatticePath> path;
    QString text;
    int port = 0;
};

// The instrument's OSC address space, read from the bytes of one packet with
// no socket and no state, so that it can be tested and fuzzed alone. Every
// address lies under /lattice:
//
//   /note/toggle s:path          /note/on s:path [n:velocity 0..1]
//   /note/off s:path             /stop
//   /transpose n:prime (0 back to 1/1; a negative prime steps down)
//   /prime n:prime (2..23, toggles it)
//   /volume n:0..1               /volume/step n:-1..1
//   /voice-volume n:0..1         /voice-volume/step n:-1..1
//   /base n:hz (20..20000)       /macro n:1..8 n:0..1
//   /patch n:step (+1 next, -1 previous) or s:name
//   /mono n:0|1 (or T/F)         /tag s:tag
//   /record n:0|1 (or T/F)
//   /subscribe [s:host] n:port   /unsubscribe [s:host] n:port
//
// n is any OSC number (i, h, f, d); where a whole number is meant, a float
// must hold one. A bundle's messages run at once and in order: the time tag
// is not waited for.
class OscAddressSpace
{
public:
    // Bundles within bundles deeper than this are refused.
    static constexpr int maxBundleDepth = 8;

    // Hands each command of the packet to `take` in order and returns how
    // many messages were refused (a malformed packet counts as one); `why`
    // then holds the first refusal's reason.
    static int dispatch(const char* data, std::size_t size,
                        const std::function<void(const OscCommand&)>& take, QString* why = nullptr);
};
