#pragma once

#include "LatticePath.h"
#include "LatticeRatio.h"
#include "ScalaFiles.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// Between the ratios of a Scala scale and the lattice: the path that plays a
// ratio, and the scale a set of lattice ratios makes.

// The path from 1/1 to `ratio`: the octave steps first, then the odd primes
// in ascending order, so that the last step names the highest prime. 16/15
// is "/2/-3/-5", 45/32 "/-2/3/3/5". Nothing when the ratio has a prime
// beyond the step table or needs more steps than a path holds; `why` then
// says so in words that follow the ratio, as in "29/16 has the prime 29".
std::optional<LatticePath> pathForRatio(const LatticeRatio& ratio, QString* why = nullptr);
// The same steps with no limit on their number.
std::optional<QList<int>> stepsForRatio(const LatticeRatio& ratio, QString* why = nullptr);

// `ratio` moved by octaves into [1, 2). 0/1 for 0/1, and for a ratio whose
// terms would outgrow 64 bits on the way up.
LatticeRatio octaveReduced(const LatticeRatio& ratio);

// The scale the ratios make within one octave: each octave-reduced, equal
// ones merged, in ascending order, 1/1 left implicit and 2/1 added as the
// period. comments[i], when there is one, goes with ratios[i]; of merged
// ratios the first that has a comment gives it. Ratios that octaveReduced()
// refuses are left out.
ScalaScale scaleOfRatios(const QList<LatticeRatio>& ratios, const QString& description,
                         const QStringList& comments = {});

// 1/1 and the ratio of each degree below the period, so that the ratios
// given to scaleOfRatios() come back reduced, merged and sorted. Degrees
// given in cents have no ratio and are left out.
QList<LatticeRatio> ratiosOfScale(const ScalaScale& scale);
