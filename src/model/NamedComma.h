#pragma once

#include "LatticeRatio.h"
#include "Monzo.h"

#include <vector>

// A comma the drift meter knows by name: a small interval above 1/1 that a
// run of transpositions can leave behind on its way back to the start.
struct NamedComma
{
    const char* name;
    LatticeRatio ratio;
    Monzo monzo;
};

// The table, in ascending prime limit: the Pythagorean comma, the 5-limit
// commas and dieses, the septimal ones, and the comma of each prime from 11
// to 23 as the Helmholtz-Ellis notation defines it. Each ratio lies between
// 1/1 and the square root of 2.
const std::vector<NamedComma>& namedCommas();

// The comma whose ratio, or its reciprocal, equals monzo up to octaves;
// null when none does. downward, when given, says it was the reciprocal.
const NamedComma* namedCommaFor(const Monzo& monzo, bool* downward = nullptr);
