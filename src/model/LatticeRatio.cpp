#include "LatticeRatio.h"

#include "QuotedText.h"

#include <QDebug>
#include <array>
#include <cmath>
#include <cstdlib>

namespace {

struct Interval
{
    std::uint64_t numerator;
    std::uint64_t denominator;
    float single;
};

// Indexed by magnitude; entries that are not supported primes stay 0/1 and
// -1.0 so that isValidStep() can tell them apart.
constexpr std::array<Interval, PrimeSteps::tableSize> intervals = [] {
    std::array<Interval, PrimeSteps::tableSize> table{};
    for (auto& entry : table)
        entry = {0, 1, -1.0f};
    table[2] = {2, 1, 2.0f};
    table[3] = {3, 2, 1.5f};
    table[5] = {5, 4, 1.25f};
    table[7] = {7, 4, 1.75f};
    table[11] = {11, 8, 1.375f};
    table[13] = {13, 8, 1.625f};
    table[17] = {17, 16, 1.0625f};
    table[19] = {19, 16, 1.1875f};
    table[23] = {23, 16, 1.4375f};
    return table;
}();

} // namespace

LatticeRatio::LatticeRatio(std::uint64_t numerator, std::uint64_t denominator)
    : Base(denominator == 0 ? Base(0) : Base(numerator, denominator))
{
}

LatticeRatio LatticeRatio::reciprocal() const
{
    return LatticeRatio(denominator(), numerator());
}

bool LatticeRatio::canMultiplyWith(const LatticeRatio& other) const
{
    const double approx = toDouble() * other.toDouble();
    const double exact = (*this * other).toDouble();
    const float difference = static_cast<float>(std::fabs(exact - approx));
    if (difference > 1e-5f) {
        qDebug().noquote() << quotedText(
            QString("canMultiply fail on %1 * %2:\n  test product: %3, "
                    "real product: %4")
                .arg(toString(), other.toString())
                .arg(exact)
                .arg(approx));
        return false;
    }
    return true;
}

double LatticeRatio::toDouble() const
{
    return static_cast<double>(numerator()) / static_cast<double>(denominator());
}

QString LatticeRatio::toString() const
{
    return QString::number(numerator()) + '/' + QString::number(denominator());
}

LatticeRatio& LatticeRatio::operator*=(const LatticeRatio& other)
{
    Base::operator*=(static_cast<const Base&>(other));
    return *this;
}

LatticeRatio operator*(LatticeRatio left, const LatticeRatio& right)
{
    left *= right;
    return left;
}

uint qHash(const LatticeRatio& ratio, uint seed)
{
    // Both halves of each term count: ratios deep in the lattice differ only
    // above the low 32 bits, and would otherwise all share one bucket.
    const auto fold = [](std::uint64_t value) { return static_cast<uint>(value ^ (value >> 32)); };
    return (seed * 31u + fold(ratio.numerator())) * 31u + fold(ratio.denominator());
}

namespace PrimeSteps {

LatticeRatio exactInterval(int magnitude)
{
    if (magnitude < 0 || magnitude >= tableSize)
        return LatticeRatio();
    const Interval& entry = intervals[static_cast<std::size_t>(magnitude)];
    return LatticeRatio(entry.numerator, entry.denominator);
}

float floatInterval(int magnitude)
{
    if (magnitude < 0 || magnitude >= tableSize)
        return -1.0f;
    return intervals[static_cast<std::size_t>(magnitude)].single;
}

bool isValidStep(int step)
{
    // The range comes first: std::abs of the most negative int is undefined,
    // and an optimiser may then drop this very check.
    if (step <= -tableSize || step >= tableSize)
        return false;
    return floatInterval(std::abs(step)) > 0.0f;
}

LatticeRatio stepRatio(int step)
{
    if (!isValidStep(step))
        return LatticeRatio();
    const LatticeRatio interval = exactInterval(std::abs(step));
    return step > 0 ? interval : interval.reciprocal();
}

} // namespace PrimeSteps
