#pragma once

#include "LatticeRatio.h"
#include "ScalaFiles.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class Lattice;

// What the instrument makes of Scala files and what it writes as them.

// Every ball of `lattice` whose prime is switched on, at its sounding ratio
// (path times the transposition), as one octave's scale; each degree names
// the path of its first ball. The description names `latticeName` and the
// transposition.
ScalaScale scaleOfLattice(const Lattice& lattice, const QString& latticeName);
// A chord's ratios as a scale, each degree naming its ratio's place.
ScalaScale scaleOfChord(const QList<LatticeRatio>& chord, const QString& description);

// The keyboard mapping that lets a synthesizer play `scale` from the keys of
// the key map `midiMap` (midi_map.json's members): each key of the octave
// from key 69, the black ball, plays the degree its path reaches (octave
// reduced), or nothing; key 69 sounds `blackBallHz`.
KeyboardMapping mappingForKeys(const ScalaScale& scale, const QJsonObject& midiMap,
                               double blackBallHz);

// A scale made playable. `refusals` gets one line per degree that has no
// path ("scale.scl:7: 701.955 is in cents; a ball needs a ratio").
struct ScalaImport
{
    // midi_map.json members: "note N" for each mapped key.
    QJsonObject midiMap;
    // lattice.json: a root whose subtree holds every degree's path.
    QJsonObject lattice;
    QStringList refusals;
    int degrees = 0;
};
// Keys follow `mapping` when given; without it key 69 plays 1/1 and each key
// up the next degree, the period repeating the scale an octave higher.
ScalaImport importScale(const ScalaScale& scale, const std::optional<KeyboardMapping>& mapping);
// `keyMap` (midi_map.json's members) with its keys replaced by the imported
// ones; its controllers and program changes stay.
QJsonObject withKeysOf(QJsonObject keyMap, const ScalaImport& imported);

// Writes `bytes` to `path` whole or not at all; a file it replaces is kept
// beside it as <name>.bak. False with `error` saying why.
bool writeReplacing(const QString& path, const QByteArray& bytes, QString* error);
