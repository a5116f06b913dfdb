#include "ScalaLattice.h"

#include <cstdint>
#include <cstdlib>
#include <map>

namespace {

// How often `factor` divides `value`, which is left divided by it as often.
int takeFactor(std::uint64_t& value, std::uint64_t factor)
{
    int count = 0;
    while (value % factor == 0) {
        value /= factor;
        ++count;
    }
    return count;
}

// The smallest prime factor of a number that has none in the step table, or
// 0 when it lies beyond what trial division finds quickly.
std::uint64_t smallestPrime(std::uint64_t value)
{
    for (std::uint64_t divisor = PrimeSteps::tableSize; divisor * divisor <= value; ++divisor) {
        if (divisor > 65536)
            return 0;
        if (value % divisor == 0)
            return divisor;
    }
    return value;
}

} // namespace

std::optional<QList<int>> stepsForRatio(const LatticeRatio& ratio, QString* why)
{
    const auto refuse = [why](const QString& reason) -> std::optional<QList<int>> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    if (ratio == LatticeRatio())
        return refuse(QStringLiteral("is not above zero"));

    std::uint64_t numerator = ratio.numerator();
    std::uint64_t denominator = ratio.denominator();
    int octaves = takeFactor(numerator, 2) - takeFactor(denominator, 2);
    QList<int> primes;
    for (int prime = 3; prime < PrimeSteps::tableSize; ++prime) {
        if (!isValidStep(prime))
            continue;
        const int exponent = takeFactor(numerator, prime) - takeFactor(denominator, prime);
        // A step up by p is p over the power of two just below it; those
        // twos come back as octave steps.
        std::uint64_t below = PrimeSteps::exactInterval(prime).denominator();
        octaves += exponent * takeFactor(below, 2);
        for (int i = 0; i < std::abs(exponent); ++i)
            primes.append(exponent > 0 ? prime : -prime);
    }

    if (numerator != 1 || denominator != 1) {
        const std::uint64_t prime = smallestPrime(numerator != 1 ? numerator : denominator);
        return refuse(prime
                          ? QStringLiteral("has the prime %1").arg(prime)
                          : QStringLiteral("has a prime beyond %1").arg(PrimeSteps::tableSize - 1));
    }
    QList<int> steps;
    for (int i = 0; i < std::abs(octaves); ++i)
        steps.append(octaves > 0 ? 2 : -2);
    return steps + primes;
}

std::optional<LatticePath> pathForRatio(const LatticeRatio& ratio, QString* why)
{
    const std::optional<QList<int>> steps = stepsForRatio(ratio, why);
    if (!steps)
        return std::nullopt;
    if (steps->size() > LatticePath::maxSteps) {
        if (why)
            *why = QStringLiteral("needs %1 steps; a path holds %2")
                       .arg(steps->size())
                       .arg(LatticePath::maxSteps);
        return std::nullopt;
    }
    LatticePath path;
    for (int step : *steps)
        path.append(step);
    return path;
}

LatticeRatio octaveReduced(const LatticeRatio& ratio)
{
    const LatticeRatio one(1), octave(2), octaveDown(1, 2);
    if (ratio == LatticeRatio())
        return ratio;
    LatticeRatio reduced = ratio;
    // Halving cannot overflow: a denominator that doubles is below half the
    // numerator.
    while (!(reduced < octave))
        reduced *= octaveDown;
    while (reduced < one) {
        if (!reduced.canMultiplyWith(octave))
            return LatticeRatio();
        reduced *= octave;
    }
    return reduced;
}

ScalaScale scaleOfRatios(const QList<LatticeRatio>& ratios, const QString& description,
                         const QStringList& comments)
{
    std::map<LatticeRatio, QString> degrees;
    for (int i = 0; i < ratios.size(); ++i) {
        const LatticeRatio degree = octaveReduced(ratios[i]);
        if (degree == LatticeRatio() || degree == LatticeRatio(1))
            continue;
        QString& comment = degrees[degree];
        if (comment.isEmpty())
            comment = comments.value(i);
    }
    ScalaScale scale;
    scale.description = description;
    for (const auto& [ratio, comment] : degrees)
        scale.pitches.append(ScalaPitch::fromRatio(ratio, comment));
    scale.pitches.append(ScalaPitch::fromRatio(LatticeRatio(2)));
    return scale;
}

QList<LatticeRatio> ratiosOfScale(const ScalaScale& scale)
{
    QList<LatticeRatio> ratios{LatticeRatio(1)};
    for (int i = 0; i + 1 < scale.pitches.size(); ++i)
        if (scale.pitches[i].ratio)
            ratios.append(*scale.pitches[i].ratio);
    return ratios;
}
