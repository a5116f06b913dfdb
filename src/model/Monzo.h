#pragma once

#include "LatticeRatio.h"

#include <QList>
#include <QString>
#include <array>

// A ratio of the lattice as the exponents of its primes, 2 to 23: 81/80 is
// [-4 4 -1>. Adding monzos multiplies their ratios with no 64-bit limit, so a
// run of transpositions can be followed exactly however long it grows.
//
// A plain value type; safe to copy between threads.
class Monzo
{
public:
    static constexpr int primeCount = 9;
    static constexpr std::array<int, primeCount> primes{2, 3, 5, 7, 11, 13, 17, 19, 23};

    // 1/1.
    Monzo() = default;
    // The interval one signed step multiplies by: 3 gives [-1 1>, -5 gives
    // [2 0 -1>. A step that isValidStep() refuses gives 1/1.
    static Monzo ofStep(int step);
    static Monzo ofSteps(const QList<int>& steps);
    // The exponents of ratio's primes up to 23. Whatever those primes leave
    // of the numerator and denominator goes to rest, 1/1 when nothing is
    // left; 0/1 gives 1/1 and leaves rest at 0/1.
    static Monzo ofRatio(const LatticeRatio& ratio, LatticeRatio* rest = nullptr);

    // 0 for a number that is not in primes.
    int exponent(int prime) const;
    // The same ratio moved by octaves to 1/1's octave class: the 2 dropped.
    Monzo withoutOctaves() const;

    // How many steps of each prime, as the transpose buttons take them,
    // multiply to this ratio; indexed as primes, so [0] counts octave steps.
    // Each step of 3 to 23 also carries octaves down (3/2 is 3 times 2^-1),
    // which the octave count makes up. The step intervals are independent,
    // so these counts are the only ones, and the sum of their magnitudes is
    // the fewest steps that reach the ratio.
    std::array<int, primeCount> stepCounts() const;

    double cents() const;
    // "[-4 4 -1>": the exponents from 2 up to the highest prime present; 1/1
    // is "[0>".
    QString toString() const;

    Monzo operator+(const Monzo& other) const;
    Monzo operator-() const;
    bool operator==(const Monzo& other) const { return exponents == other.exponents; }
    bool operator!=(const Monzo& other) const { return !(*this == other); }

private:
    std::array<int, primeCount> exponents{};
};
