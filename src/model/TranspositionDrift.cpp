#include "TranspositionDrift.h"

#include "NamedComma.h"

#include <array>
#include <cmath>
#include <cstdlib>

namespace {

constexpr double octaveCents = 1200.0;

// Into (-600, +600].
double reducedByOctaves(double cents)
{
    double reduced = std::fmod(cents, octaveCents);
    if (reduced > octaveCents / 2)
        reduced -= octaveCents;
    else if (reduced <= -octaveCents / 2)
        reduced += octaveCents;
    return reduced;
}

// The step of the prime at index, in the direction of count.
int stepToward(int index, int count)
{
    const int prime = Monzo::primes[std::size_t(index)];
    return count > 0 ? prime : -prime;
}

} // namespace

TranspositionDrift::TranspositionDrift(const Monzo& transposition)
    : transposition(transposition),
      // Without its twos, an octave of the start comes out exactly 0.
      reducedCents(reducedByOctaves(transposition.withoutOctaves().cents()))
{
    named = namedCommaFor(transposition, &downward);
}

QString TranspositionDrift::centsText(int decimals) const
{
    const QString digits = QString::number(std::abs(reducedCents), 'f', decimals);
    if (digits == QString::number(0.0, 'f', decimals))
        return digits;
    return (reducedCents > 0 ? QLatin1Char('+') : QLatin1Char('-')) + digits;
}

bool TranspositionDrift::isNearHome() const
{
    if (named)
        return true;
    return transposition.withoutOctaves() != Monzo() && std::abs(reducedCents) <= nearHomeCents;
}

LatticeRatio TranspositionDrift::commaRatio() const
{
    if (!named)
        return LatticeRatio();
    return downward ? named->ratio.reciprocal() : named->ratio;
}

QString TranspositionDrift::commaName() const
{
    if (named)
        return QString::fromUtf8(named->name);
    return isNearHome() ? QStringLiteral("unnamed") : QString();
}

QList<int> TranspositionDrift::homeSteps() const
{
    std::array<int, Monzo::primeCount> left = (-transposition).stepCounts();
    double position = transposition.cents();
    QList<int> steps;
    for (;;) {
        int best = -1;
        double bestPosition = 0.0;
        for (int i = 0; i < Monzo::primeCount; ++i) {
            const int count = left[std::size_t(i)];
            if (count == 0)
                continue;
            const double landing = position + Monzo::ofStep(stepToward(i, count)).cents();
            if (best < 0 || std::abs(landing) < std::abs(bestPosition)) {
                best = i;
                bestPosition = landing;
            }
        }
        if (best < 0)
            return steps;
        int& count = left[std::size_t(best)];
        steps.append(stepToward(best, count));
        count += count > 0 ? -1 : 1;
        position = bestPosition;
    }
}

QString TranspositionDrift::stepsText(const QList<int>& steps)
{
    if (steps.isEmpty())
        return QStringLiteral("/");
    QString text;
    for (int step : steps)
        text += QLatin1Char('/') + QString::number(step);
    return text;
}

std::optional<QList<int>> TranspositionDrift::readSteps(const QString& text)
{
    QList<int> steps;
    for (const QString& part : text.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int step = part.toInt(&ok);
        if (!ok || !isValidStep(step))
            return std::nullopt;
        steps.append(step);
    }
    return steps;
}
