#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <cstddef>
#include <cstdint>
#include <optional>

class Lattice;
class LatticePath;
class RfidMap;
class Settings;
class SpelledNote;

// What every harness shares: a quiet Qt, the trap that ends a run on a broken
// invariant, and the invariants of each data file the program reads.
//
// A harness is one process on one thread; nothing here is thread-safe.

// Every harness's LLVMFuzzerInitialize() calls this: it makes the one
// QCoreApplication and replaces Qt's message output by one that writes
// nothing, so that the warnings a hostile file provokes cost no time.
void initFuzzing();

// Writes "fuzz invariant broken: what" to stderr and aborts, which is what
// libFuzzer and the replay both count as a crash.
[[noreturn]] void trap(const char* what);
#define FUZZ_CHECK(condition, what)                                                                \
    do {                                                                                           \
        if (!(condition))                                                                          \
            trap(what);                                                                            \
    } while (false)

// The document the program would see in a file holding these bytes; nothing
// when Qt's parser refuses them. A top-level array reads as an empty object,
// as SerializableRoot::load() has it.
std::optional<QJsonObject> parseDocument(const std::uint8_t* data, std::size_t size);

// Traps unless the note is one the cards can draw: a letter 0..6 and at most
// a double sharp or double flat.
void checkSpelledNote(const SpelledNote& note);
// Spells the ball reached from 1/1 at baseHz by steps, at its exact
// frequency, as the note cards do, and checks the spelling.
void checkSpelling(float baseHz, int calibrationHz, const QList<int>& steps);

// Each checks one freshly read object and traps on the first broken
// invariant: that what it writes reads back, through the JSON text, into an
// object that writes the same again; and what the object's kind promises
// besides (see the definitions).
void checkRfidMap(const RfidMap& map);
void checkLattice(const Lattice& lattice);
void checkSettings(const Settings& settings);
