#pragma once

#include <QString>

// The written interval that one prime step moves a note by: a fifth for 3, a
// major third for 5, a minor seventh for 7, and so on, downwards for a
// negative step. Letter arithmetic in SpelledNote::transposeBy() uses it, so
// that the spelling follows the lattice rather than the nearest piano key.
//
// Intervals are known by short names: an optional "-" for downwards, a
// quality ("dim", "m", "M", "p" or "aug") and the degree counted from 1
// ("p5", "-m7", "aug4").
//
// A plain value type; safe to use on any thread.
class NoteInterval
{
public:
    // +1 upwards, -1 downwards.
    int direction = 1;
    // Whole octaves on top of the degree; no prime step adds any.
    int octaves = 0;
    // 0 for a unison, 1 for a second, ... 7 for an octave.
    int degree = 0;
    // Semitones above the major or perfect interval of the degree.
    int quality = 0;

    NoteInterval() = default;

    // The interval of a signed prime step; steps whose magnitude is not a
    // supported prime give the unison.
    static NoteInterval fromStep(int step);

    // Parses a name such as "-m7". An empty name, or one that does not end in
    // a digit, is the unison; an unknown quality counts as major or perfect.
    static NoteInterval fromName(const QString& name);

    // The name of the interval that a prime magnitude stands for: "p5" for 3,
    // the empty string for magnitudes that are not supported primes.
    static QString primeIntervalName(int magnitude);

    // Signed size in semitones; a degree outside 1 to 7 adds nothing.
    int semitones() const;

    // The name again, as fromName() reads it. Octaves are not written.
    QString toString() const;

    static bool isPerfectDegree(int degree);
};
