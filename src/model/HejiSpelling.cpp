#include "HejiSpelling.h"

#include "LatticeRatio.h"
#include "Monzo.h"

#include <QStringList>
#include <cmath>

namespace {

// How each prime is written: prime = 3^fifths * 2^octaves * comma^direction,
// the Pythagorean interval its letter shows times one comma. 5 = 81/16 over
// 81/80, so a factor 5 is four fifths up (a major third) and an arrow down.
struct PrimeSymbol
{
    int prime;
    int fifths;
    int octaves;
    int direction;
    double commaNumerator;
    double commaDenominator;
};

constexpr PrimeSymbol primeSymbols[HejiSpelling::symbolPrimes.size()] = {
    {5, 4, -4, -1, 81, 80},  {7, -2, 6, -1, 64, 63},      {11, -1, 5, 1, 33, 32},
    {13, 3, -1, -1, 27, 26}, {17, 7, -7, -1, 2187, 2176}, {19, -3, 9, 1, 513, 512},
    {23, 6, -5, 1, 736, 729}};

// Places of the letters C to B on the line of fifths, C = 0.
constexpr int letterFifths[7] = {0, 2, 4, -1, 1, 3, 5};
constexpr int a4Fifths = 3;
constexpr int a4Diatonic = 5 + 7 * 4; // A4 counted in letters from C0
// 3^12 is 2^19 times a Pythagorean comma: trading one for the other moves the
// note by that comma, twelve places along the line of fifths and one letter
// (F### and G#).
constexpr int commaFifths = 12;
constexpr int commaOctaves = 19;

int floorDivide(int value, int divisor)
{
    return value / divisor - (value % divisor != 0 && (value < 0) != (divisor < 0));
}

// Sharps (positive) or flats of the note at a place on the line of fifths:
// F to B are naturals, F# to B# one sharp.
int accidentalAt(int fifths)
{
    return floorDivide(fifths + 1, 7);
}

} // namespace

int HejiSpelling::symbolCount(int prime) const
{
    for (std::size_t i = 0; i < symbolPrimes.size(); ++i)
        if (symbolPrimes[i] == prime)
            return symbols[i];
    return 0;
}

QString HejiSpelling::symbolText() const
{
    QStringList parts;
    for (std::size_t i = 0; i < symbolPrimes.size(); ++i)
        if (symbols[i] != 0)
            parts.append(QString::number(symbolPrimes[i]) +
                         QString(std::abs(symbols[i]), QLatin1Char(symbols[i] > 0 ? '^' : 'v')));
    return parts.join(QLatin1Char(' '));
}

HejiSpelling spellHejiNote(float baseFrequency, int calibrationHz, const QList<int>& steps,
                           double soundingFrequency)
{
    // The black ball's note, as the letters spelling starts from it.
    const SpelledNote root = SpelledNote::fromFrequency(baseFrequency, calibrationHz);
    const Monzo exponents = Monzo::ofSteps(steps);

    // The Pythagorean part 3^fifths * 2^octaves, and the symbols.
    HejiSpelling spelling;
    int fifths = exponents.exponent(3);
    int octaves = exponents.exponent(2);
    double commasLog2 = 0.0;
    for (std::size_t i = 0; i < spelling.symbols.size(); ++i) {
        const PrimeSymbol& symbol = primeSymbols[i];
        const int exponent = exponents.exponent(symbol.prime);
        fifths += exponent * symbol.fifths;
        octaves += exponent * symbol.octaves;
        spelling.symbols[i] = exponent * symbol.direction;
        commasLog2 +=
            spelling.symbols[i] * std::log2(symbol.commaNumerator / symbol.commaDenominator);
    }

    const int rootFifths = letterFifths[root.letter] + 7 * root.accidental;
    SpelledNote& note = spelling.note;
    while (accidentalAt(rootFifths + fifths) > 2) {
        fifths -= commaFifths;
        octaves += commaOctaves;
        note.respelled = true;
    }
    while (accidentalAt(rootFifths + fifths) < -2) {
        fifths += commaFifths;
        octaves -= commaOctaves;
        note.respelled = true;
    }

    // A fifth moves the letter by 4, a factor 3 by 11, an octave by 7.
    const int diatonic = root.letter + 7 * root.octave + 11 * fifths + 7 * octaves;
    const int place = rootFifths + fifths;
    note.letter = diatonic - 7 * floorDivide(diatonic, 7);
    note.octave = floorDivide(diatonic, 7);
    note.accidental = accidentalAt(place);

    // The notated pitch: the Pythagorean note tuned from A4, with its commas.
    const int fifthsFromA4 = place - a4Fifths;
    const int octavesFromA4 = (diatonic - a4Diatonic - 11 * fifthsFromA4) / 7;
    const double notatedLog2 = std::log2(double(calibrationHz)) + fifthsFromA4 * std::log2(3.0) +
                               octavesFromA4 + commasLog2;
    note.cents = float(1200.0 * (std::log2(soundingFrequency) - notatedLog2));
    return spelling;
}
