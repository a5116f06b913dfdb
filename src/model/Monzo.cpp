#include "Monzo.h"

#include <QStringList>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

// How often factor divides value, which is left divided by it as often.
int takeFactor(std::uint64_t& value, std::uint64_t factor)
{
    int count = 0;
    while (value % factor == 0) {
        value /= factor;
        ++count;
    }
    return count;
}

int indexOf(int prime)
{
    for (int i = 0; i < Monzo::primeCount; ++i)
        if (Monzo::primes[std::size_t(i)] == prime)
            return i;
    return -1;
}

} // namespace

Monzo Monzo::ofStep(int step)
{
    if (!isValidStep(step))
        return Monzo();
    // The interval's denominator is a power of two: 3/2, 5/4, 17/16.
    const Monzo up = ofRatio(PrimeSteps::exactInterval(std::abs(step)));
    return step > 0 ? up : -up;
}

Monzo Monzo::ofSteps(const QList<int>& steps)
{
    Monzo sum;
    for (int step : steps)
        sum = sum + ofStep(step);
    return sum;
}

Monzo Monzo::ofRatio(const LatticeRatio& ratio, LatticeRatio* rest)
{
    Monzo monzo;
    if (ratio == LatticeRatio()) {
        if (rest)
            *rest = ratio;
        return monzo;
    }
    std::uint64_t numerator = ratio.numerator();
    std::uint64_t denominator = ratio.denominator();
    for (int i = 0; i < primeCount; ++i) {
        const auto prime = std::uint64_t(primes[std::size_t(i)]);
        monzo.exponents[std::size_t(i)] =
            takeFactor(numerator, prime) - takeFactor(denominator, prime);
    }
    if (rest)
        *rest = LatticeRatio(numerator, denominator);
    return monzo;
}

int Monzo::exponent(int prime) const
{
    const int index = indexOf(prime);
    return index < 0 ? 0 : exponents[std::size_t(index)];
}

Monzo Monzo::withoutOctaves() const
{
    Monzo reduced = *this;
    reduced.exponents[0] = 0;
    return reduced;
}

std::array<int, Monzo::primeCount> Monzo::stepCounts() const
{
    std::array<int, primeCount> counts = exponents;
    for (int i = 1; i < primeCount; ++i) {
        // A step up by p is p over the power of two just below it; those
        // twos come back as octave steps.
        const auto index = std::size_t(i);
        const int octavesDown = -ofStep(primes[index]).exponents[0];
        counts[0] += exponents[index] * octavesDown;
    }
    return counts;
}

double Monzo::cents() const
{
    double sum = 0.0;
    for (int i = 0; i < primeCount; ++i)
        sum += exponents[std::size_t(i)] * std::log2(double(primes[std::size_t(i)]));
    return 1200.0 * sum;
}

QString Monzo::toString() const
{
    int last = primeCount - 1;
    while (last > 0 && exponents[std::size_t(last)] == 0)
        --last;
    QStringList parts;
    for (int i = 0; i <= last; ++i)
        parts.append(QString::number(exponents[std::size_t(i)]));
    return QLatin1Char('[') + parts.join(QLatin1Char(' ')) + QLatin1Char('>');
}

Monzo Monzo::operator+(const Monzo& other) const
{
    Monzo sum;
    for (std::size_t i = 0; i < exponents.size(); ++i)
        sum.exponents[i] = exponents[i] + other.exponents[i];
    return sum;
}

Monzo Monzo::operator-() const
{
    Monzo negated;
    for (std::size_t i = 0; i < exponents.size(); ++i)
        negated.exponents[i] = -exponents[i];
    return negated;
}
