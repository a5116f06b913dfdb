#pragma once

#include "LatticeRatio.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

// Scala's two tuning files: a scale (.scl) lists the pitches of a scale's
// degrees, and a keyboard mapping (.kbm) says which degree each MIDI key
// plays. Both are line-based text; lines starting with '!' are comments
// wherever they stand.
//
// parse() refuses a file it cannot read completely, with one message in
// *error that names the file, the line and what was expected there:
//   scale.scl:4: expected a pitch (a ratio like 81/80, ...), not "abc"
// Text is read as UTF-8, or as Latin-1 when it is not valid UTF-8; write()
// writes UTF-8.
//
// Plain value types; safe to copy between threads.

// One degree of a scale: an exact ratio, or a pitch given in cents.
struct ScalaPitch
{
    // Set for ratios and whole numbers, empty for pitches given in cents.
    std::optional<LatticeRatio> ratio;
    // Always set; for a ratio, its size.
    double cents = 0.0;
    // The line the pitch was read from, counted from 1; 0 for pitches made
    // here.
    int line = 0;
    // The text after the pitch on its line, without a leading '!'. write()
    // puts it after " ! ".
    QString comment;

    static ScalaPitch fromRatio(const LatticeRatio& ratio, const QString& comment = {});
    static ScalaPitch fromCents(double cents, const QString& comment = {});
};

// A .scl file: a one-line description and the degrees above 1/1, which is
// implied and never listed. The last pitch is the period, usually 2/1.
//
// A pitch is the first word of its line: cents when it holds a '.'
// ("701.955", "-5.0"), otherwise a ratio "a/b" or a whole number "a" above
// zero whose terms fit in 64 bits. Text after the last pitch is ignored.
struct ScalaScale
{
    // The name write() puts in its first comment, without the folder.
    QString fileName;
    QString description;
    QList<ScalaPitch> pitches;

    // fileName is what error messages call the file.
    static std::optional<ScalaScale> parse(const QByteArray& text, const QString& fileName,
                                           QString* error);
    // Ratios as "a/b", whole numbers as "a/1", cents with six decimals.
    QByteArray write() const;
};

// A .kbm file. The pattern of `size` keys starts at the middle key and
// repeats up and down the keyboard, each repetition `octaveDegree` scale
// degrees above the one before. Size 0 is the linear mapping: key k plays
// degree k - middleKey. The reference key sounds the reference frequency.
struct KeyboardMapping
{
    static constexpr int unmapped = -1;

    // The name write() puts in its first comment, without the folder.
    QString fileName;
    int size = 0;
    int firstKey = 0;
    int lastKey = 127;
    int middleKey = 60;
    int referenceKey = 69;
    double referenceFrequency = 440.0;
    int octaveDegree = 0;
    // The degree of each key of the pattern, or `unmapped` ("x").
    QList<int> mapping;

    // Keys must lie in 0..127, the frequency above zero, degrees not below
    // zero.
    static std::optional<KeyboardMapping> parse(const QByteArray& text, const QString& fileName,
                                                QString* error);
    QByteArray write() const;

    // The degree `key` plays in a scale of scaleSize pitches, 0 up to
    // scaleSize - 1, and how many periods of the scale it lies above (or,
    // negative, below) 1/1. Nothing for keys outside firstKey..lastKey, for
    // unmapped keys and for an empty scale.
    //
    // The formal octave counts as octaveDegree degrees of the scale. That is
    // Scala's own reading whenever the octave degree is a whole number of
    // periods, which covers every mapping whose octave is the scale's
    // period.
    std::optional<std::pair<int, int>> degreeOfKey(int key, int scaleSize) const;
};
