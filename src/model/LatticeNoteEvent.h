#pragma once

#include "LatticeEvent.h"
#include "LatticePath.h"

#include <QString>

// The event that plays the note at one lattice path: NoteToggle (the
// default), or NoteOn and NoteOff for a held key, whose value is the
// velocity's gain (1.0 full). The player multiplies the path's ratio by the
// current transposition when it executes the event.
//
// A plain value, built on any producer thread. Header-only, like
// LatticeEvent.
class LatticeNoteEvent : public LatticeEvent
{
public:
    LatticeNoteEvent() : LatticeEvent(NoteToggle, 1.0f) {}
    explicit LatticeNoteEvent(const LatticePath& path) : LatticeEvent(NoteToggle, 1.0f), path_(path)
    {
    }
    // Parses "/3/-5" style text; text that does not parse gives the invalid
    // path, which the player ignores.
    explicit LatticeNoteEvent(const QString& pathText)
        : LatticeEvent(NoteToggle, 1.0f), path_(pathText)
    {
    }
    // `kind` is NoteToggle, NoteOn or NoteOff.
    LatticeNoteEvent(int kind, const LatticePath& path, float value = 1.0f)
        : LatticeEvent(kind, value), path_(path)
    {
    }
    LatticeNoteEvent(const LatticeNoteEvent& other) = default;
    LatticeNoteEvent& operator=(const LatticeNoteEvent& other) = default;
    ~LatticeNoteEvent() override = default;

    const LatticePath& path() const { return path_; }

private:
    LatticePath path_;
};
