#include "NoteInterval.h"

#include <array>
#include <cstdlib>

namespace {

// Semitones of the major or perfect interval of degrees 0 (unison) to 7.
constexpr std::array<int, 8> majorOrPerfectSizes{0, 2, 4, 5, 7, 9, 11, 12};

} // namespace

NoteInterval NoteInterval::fromStep(int step)
{
    const QString name = primeIntervalName(std::abs(step));
    return fromName(step < 0 ? QLatin1Char('-') + name : name);
}

NoteInterval NoteInterval::fromName(const QString& name)
{
    NoteInterval interval;
    QString rest = name;
    if (rest.startsWith(QLatin1Char('-'))) {
        interval.direction = -1;
        rest.remove(0, 1);
    }
    if (rest.isEmpty() || !rest.back().isDigit())
        return interval;
    interval.degree = rest.back().digitValue() - 1;
    rest.chop(1);

    if (rest == QLatin1String("dim"))
        interval.quality = isPerfectDegree(interval.degree) ? -1 : -2;
    else if (rest == QLatin1String("m"))
        interval.quality = -1;
    else if (rest == QLatin1String("aug"))
        interval.quality = 1;
    return interval;
}

QString NoteInterval::primeIntervalName(int magnitude)
{
    switch (magnitude) {
    case 2:
        return QStringLiteral("p8");
    case 3:
        return QStringLiteral("p5");
    case 5:
        return QStringLiteral("M3");
    case 7:
        return QStringLiteral("m7");
    case 11:
    case 23:
        return QStringLiteral("aug4");
    case 13:
        return QStringLiteral("m6");
    case 17:
        return QStringLiteral("m2");
    case 19:
        return QStringLiteral("m3");
    default:
        return QString();
    }
}

int NoteInterval::semitones() const
{
    const int size = degree >= 1 && degree <= 7 ? majorOrPerfectSizes[std::size_t(degree)] : 0;
    return (size + 12 * octaves + quality) * direction;
}

QString NoteInterval::toString() const
{
    QString text = direction < 0 ? QStringLiteral("-") : QString();
    const bool perfect = isPerfectDegree(degree);
    switch (quality) {
    case 1:
        text += QLatin1String("aug");
        break;
    case 0:
        text += QLatin1Char(perfect ? 'p' : 'M');
        break;
    case -1:
        text += perfect ? QLatin1String("dim") : QLatin1String("m");
        break;
    case -2:
        text += QLatin1String("dim");
        break;
    default:
        break;
    }
    return text + QString::number(degree + 1);
}

bool NoteInterval::isPerfectDegree(int degree)
{
    return degree == 0 || degree == 3 || degree == 4 || degree == 7;
}
