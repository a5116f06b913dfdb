#pragma once

#include "SpelledNote.h"

#include <QList>
#include <QString>
#include <array>

// A note in the Helmholtz-Ellis JI pitch notation (HEJI, as revised in 2020),
// the alternative to the letters-and-cents spelling of the note cards.
//
// The letter and its sharps or flats write the ratio's Pythagorean part,
// counted in fifths from the black ball's note; each higher prime adds
// symbols of its own, each worth one formal comma: 5 -> 81/80, 7 -> 64/63,
// 11 -> 33/32, 13 -> 27/26, 17 -> 2187/2176, 19 -> 513/512, 23 -> 736/729.
// So 5/4 above C is E lowered by one 81/80 arrow, 7/4 is B flat lowered by
// one septimal comma, 11/8 is F raised by 33/32.
//
// note.cents is the deviation of the sounding pitch from the notated one,
// whose Pythagorean part is tuned from A4 at the calibration frequency: 0
// for a lattice over a black ball that is itself a Pythagorean note of the
// calibration. When the fifths would need more than a double sharp or flat,
// the letter is moved by a Pythagorean comma (F### to G#), note.respelled is
// set and the cents carry the comma (23.5 cents).
//
// A plain value type; safe to use on any thread.
class HejiSpelling
{
public:
    // The primes that have symbols of their own, in ascending order.
    static constexpr std::array<int, 7> symbolPrimes{5, 7, 11, 13, 17, 19, 23};

    // Letter, Pythagorean accidental (-2 to +2), octave, cents and respelled,
    // with the meanings above.
    SpelledNote note;
    // For each of symbolPrimes, the signed number of its symbols: positive
    // raises the pitch by that many commas, negative lowers it.
    std::array<int, symbolPrimes.size()> symbols{};

    // The signed count of a prime's symbols; 0 for 2, 3 and anything else.
    int symbolCount(int prime) const;
    // The symbols as text, ascending primes, "^" for each raising one and
    // "v" for each lowering one: "5v 7v", "11^", "" for none.
    QString symbolText() const;
};

// Writes the ball reached from the 1/1 at baseFrequency by `steps` (the
// lattice's transposition steps followed by the ball's path) that sounds at
// soundingFrequency. Steps outside the prime table are passed over, as the
// letters spelling does.
HejiSpelling spellHejiNote(float baseFrequency, int calibrationHz, const QList<int>& steps,
                           double soundingFrequency);
