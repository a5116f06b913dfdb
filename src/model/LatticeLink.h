#pragma once

#include "LatticePath.h"

#include <QColor>

// An extra strut between two balls that are one prime step apart without
// being parent and child. It owns nothing; the view looks the target up by
// its path. The colour is that of the step's prime.
//
// A plain value type, used on the GUI thread with the lattice model.
struct LatticeLink
{
    QColor color;
    LatticePath path;
};
