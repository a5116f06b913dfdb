#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class HejiSpelling;

// The Helmholtz-Ellis accidentals a note card draws before a note: which
// glyphs of the "heji" data folder make them up, and one SVG that sets them
// side by side, so that the card shows and recolours them as one glyph.
//
// The glyphs are drawn on a box four staff spaces high (-50 to 350, 100
// units a space) with the note in its middle, so that arrows have room
// above and below a sharp's three spaces. scripts/heji-glyphs.py draws them.
//
// Plain functions; safe to use on any thread.
namespace HejiGlyphs {

// The height of every glyph, in staff spaces.
constexpr double spaces = 4.0;

// File names without ".svg", left to right: the signs of 23 down to 11 (one
// glyph per comma), the septimal signs (up to two commas a glyph), 81/80
// arrows beyond three, and nearest the note the Pythagorean accidental with
// up to three arrows ("sharp-down1"; "flat" alone). Empty for a natural
// with no commas.
QStringList names(const HejiSpelling& spelling);

// One SVG of the glyphs (name and SVG text) side by side in order, each in a
// group whose id is "heji-" and its name. A glyph with no viewBox is left
// out; empty when none is left.
QByteArray joined(const QList<QPair<QString, QByteArray>>& glyphs);

} // namespace HejiGlyphs
