#pragma once

#include <QList>
#include <QString>

// A note as the note cards write it: letter, accidental and octave, and the
// deviation in cents of the real pitch from that equal-tempered note.
//
// Prime steps move the written note by fixed intervals (see NoteInterval), so
// the ball two fifths above C is D whatever its exact pitch. When that letter
// arithmetic would need more than a double sharp or double flat the note
// falls back to the nearest equal-tempered spelling, is marked respelled, and
// from then on follows its frequency instead of its letters.
//
// Semitone numbers count from C0: middle C (C4) is 48, A4 is 57. Note names
// are taken relative to a calibration frequency for A4, a whole number of
// hertz (the options dialog offers 349 to 499); frequency() itself always
// assumes A4 = 440 Hz.
//
// A plain value type; safe to use on any thread.
class SpelledNote
{
public:
    // 0 to 6 for C, D, E, F, G, A, B.
    int letter = 0;
    // Deviation from the equal-tempered pitch of letter, accidental and
    // octave; normally within (-49.5, 50.5].
    float cents = 0.0f;
    // -2 to +2: double flat to double sharp.
    int accidental = 0;
    // Octave 4 runs from middle C up to the B above it.
    int octave = 0;
    // The spelling was replaced by the equal-tempered fallback.
    bool respelled = false;

    SpelledNote() = default;
    static SpelledNote fromFrequency(float hz, int calibrationHz);
    static SpelledNote fromSemitones(int semitoneNumber, int cents);

    // Sets letter, accidental, octave and respelled to C0, natural, false.
    // The cents are left as they are: every setter overwrites them.
    void clear();

    // The semitone number with the cents as its fraction.
    double semitoneNumber() const;
    // The pitch in Hz against the fixed A4 = 440 Hz.
    float frequency() const;

    // Spells the nearest equal-tempered note to hz. Returns false, leaving the
    // note unchanged, when hz or the calibration is not a positive finite
    // number of hertz.
    bool setFromFrequency(float hz, int calibrationHz);
    // Spells a fractional semitone number with the equal-tempered spelling;
    // the cents end up in (-49.5, 50.5] for numbers from 0 up. Returns false,
    // leaving the note unchanged, for a number that is not finite or lies
    // more than 100000 semitones from C0. Does not touch respelled.
    bool setFromSemitones(float semitones);

    // Moves the pitch by a number of cents, keeping the spelling as long as
    // the cents stay within (-49.5, 50.5]; beyond that the note is respelled.
    void addCents(float difference);

    // Moves the note by one prime step: by letter arithmetic while that holds,
    // by frequency once the note is respelled. The calibration is needed for
    // the latter. A step outside the prime table leaves the note unchanged.
    void transposeBy(int step, int calibrationHz);

    // "Bb3", "F#4", "C##11".
    QString name() const;
    // "C" to "B".
    QString letterName() const;
    // "bb", "b", "", "#" or "##".
    QString accidentalText() const;

private:
    // The semitone number without the cents.
    int wholeSemitoneNumber() const;
};

// Spells the ball that is reached from the 1/1 at baseFrequency by `steps`
// (the lattice's transposition steps followed by the ball's path) and sounds
// at soundingFrequency, the way its note card writes it: the letters follow
// the steps, the cents measure the sounding frequency.
SpelledNote spellLatticeNote(float baseFrequency, int calibrationHz, const QList<int>& steps,
                             float soundingFrequency);
