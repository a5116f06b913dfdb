#pragma once

#include <QMetaType>
#include <QString>
#include <boost/rational.hpp>
#include <cstdint>

// An exact pitch ratio above the lattice's 1/1, kept in lowest terms.
//
// Products of two ratios are formed in unsigned 64-bit arithmetic and wrap
// silently on overflow; callers that multiply ratios of unknown size ask
// canMultiplyWith() first. There are no negative ratios: going down is a
// multiplication by a reciprocal. The default value 0/1 is the ratio no
// lattice ball ever has, and it is what a zero denominator turns into: no
// construction here ever raises boost::bad_rational.
//
// A plain value type; safe to copy between threads.
class LatticeRatio : public boost::rational<std::uint64_t>
{
public:
    using Base = boost::rational<std::uint64_t>;

    LatticeRatio() = default;
    LatticeRatio(std::uint64_t numerator, std::uint64_t denominator = 1);
    LatticeRatio(const Base& other) : Base(other) {}

    LatticeRatio reciprocal() const;

    // Whether the exact product with `other` fits in 64 bits. On a miss it
    // writes a debug record naming both factors.
    bool canMultiplyWith(const LatticeRatio& other) const;

    double toDouble() const;
    QString toString() const;

    LatticeRatio& operator*=(const LatticeRatio& other);

    // Exact value equality: both are kept in lowest terms.
    bool operator==(const LatticeRatio& other) const
    {
        return numerator() == other.numerator() && denominator() == other.denominator();
    }
    bool operator!=(const LatticeRatio& other) const { return !(*this == other); }
};

LatticeRatio operator*(LatticeRatio left, const LatticeRatio& right);

uint qHash(const LatticeRatio& ratio, uint seed = 0);

Q_DECLARE_METATYPE(LatticeRatio)

namespace PrimeSteps {

// Magnitudes 0..23 are the only ones a step may have.
constexpr int tableSize = 24;

// The interval a prime stands for, octave-reduced into [1, 2): 3 -> 3/2,
// 7 -> 7/4, 2 -> 2/1. Magnitudes that are not supported primes give 0/1;
// magnitudes outside 0..23 do too.
LatticeRatio exactInterval(int magnitude);

// Single-precision interval of a magnitude, -1.0 for unsupported ones.
float floatInterval(int magnitude);

// The ratio one signed step multiplies by (the reciprocal for -p), or 0/1
// when the step is not valid.
LatticeRatio stepRatio(int step);

// True for +-2, 3, 5, 7, 11, 13, 17, 19 and 23.
bool isValidStep(int step);

} // namespace PrimeSteps

using PrimeSteps::isValidStep;
