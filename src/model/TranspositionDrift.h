#pragma once

#include "LatticeRatio.h"
#include "Monzo.h"

#include <QList>
#include <QString>
#include <optional>

struct NamedComma;

// How far a run of transpositions has carried the lattice from where it
// started, for the drift meter beside the readout and `lattice-tool drift`.
//
// Cents are reduced by octaves into (-600, +600], around the start, so that
// a pump that comes back a comma low reads a few cents down rather than
// nearly an octave up. No ratio lies on the edge, the square root of 2.
//
// The run is near home when it ends within nearHomeCents of the start but
// not on an octave of it, or on a named comma: 27/26 and 648/625 are a
// little wider than 60 cents and are named all the same.
//
// A plain value type.
class TranspositionDrift
{
public:
    static constexpr double nearHomeCents = 60.0;

    explicit TranspositionDrift(const Monzo& transposition);

    // The transposition as it stands, octaves included.
    const Monzo& monzo() const { return transposition; }
    // Octave-reduced, in (-600, +600].
    double cents() const { return reducedCents; }
    // cents() with its sign and that many decimals: "+21.51", "-498.04", and
    // "0.00" rather than a signed zero.
    QString centsText(int decimals) const;
    bool isNearHome() const;
    // Null when the run ends on no named comma, up to octaves.
    const NamedComma* comma() const { return named; }
    // The named comma the way the run went: 80/81 for a syntonic comma low;
    // 0/1 without one.
    LatticeRatio commaRatio() const;
    // The comma's name, "unnamed" near home on none of them, else empty.
    QString commaName() const;

    // The fewest transpose steps back to exactly 1/1, octaves included;
    // none when already there. Any order of them gets home; this one takes
    // next the step that lands nearest the start, so that the walk keeps
    // near the starting pitch, away from the transpose buttons' limits.
    QList<int> homeSteps() const;
    // "/5/-3/2", written as a lattice path is; "/" for no steps. More steps
    // than a path holds are written all the same.
    static QString stepsText(const QList<int>& steps);
    // The steps of such a text, any number of them; nothing when a part is
    // not a valid step.
    static std::optional<QList<int>> readSteps(const QString& text);

private:
    Monzo transposition;
    double reducedCents;
    const NamedComma* named = nullptr;
    bool downward = false;
};
