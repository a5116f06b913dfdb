#include "ScalaLattice.h"

#include "Monzo.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <map>

namespace {

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

    LatticeRatio rest;
    const Monzo monzo = Monzo::ofRatio(ratio, &rest);
    if (rest != LatticeRatio(1)) {
        const std::uint64_t prime =
            smallestPrime(rest.numerator() != 1 ? rest.numerator() : rest.denominator());
        return refuse(prime
                          ? QStringLiteral("has the prime %1").arg(prime)
                          : QStringLiteral("has a prime beyond %1").arg(PrimeSteps::tableSize - 1));
    }
    // The octave steps first, then the odd primes ascending.
    const std::array<int, Monzo::primeCount> counts = monzo.stepCounts();
    QList<int> steps;
    for (std::size_t i = 0; i < counts.size(); ++i)
        for (int n = 0; n < std::abs(counts[i]); ++n)
            steps.append(counts[i] > 0 ? Monzo::primes[i] : -Monzo::primes[i]);
    return steps;
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
