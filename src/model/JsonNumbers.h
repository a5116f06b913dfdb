#pragma once

#include <QJsonValue>
#include <algorithm>
#include <cmath>
#include <limits>

// Numbers from the program's JSON files, made safe to convert: a number
// beyond the target type's range is clamped, because converting it as it is
// would be undefined. Anything that is not a number reads as 0.

// Truncated toward zero.
inline int jsonInt(const QJsonValue& value)
{
    const double number = std::trunc(value.toDouble());
    const double lowest = std::numeric_limits<int>::min();
    const double highest = std::numeric_limits<int>::max();
    return static_cast<int>(std::clamp(number, lowest, highest));
}

inline float jsonFloat(const QJsonValue& value)
{
    const double highest = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(value.toDouble(), -highest, highest));
}
