#pragma once

#include "LatticeRatio.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

// A position in the lattice: the prime steps that lead to it from the root,
// written "/-2/3/3"; "/" is the root itself.
//
// Stored as seven signed bytes, up to six steps and a terminating 0, so that
// it can be copied by value into the sound engine's fixed-size event chunks.
// A failed parse leaves the invalid path (a single 127). Paths made from
// text hold valid steps only; paths built by append() are not checked, which
// is why ratio() can refuse.
//
// A plain value type; safe to copy between threads.
class LatticePath
{
public:
    static constexpr int maxSteps = 6;
    static constexpr int byteCount = maxSteps + 1;
    static constexpr std::int8_t invalidMarker = 127;
    using Bytes = std::array<std::int8_t, byteCount>;

    LatticePath() = default;
    explicit LatticePath(int step);
    explicit LatticePath(const QString& text);

    static LatticePath invalid();
    static LatticePath fromBytes(const Bytes& bytes);

    // Parses "/3/-5" style text. A part that is not a valid step makes the
    // whole path invalid and writes one debug record; parts beyond the sixth
    // are ignored. Returns isValid().
    bool storeFromString(const QString& text);
    QString toString() const;

    void clear();
    // Adds a step in the first free place; a full path is left unchanged.
    void append(int step);
    // Clears the last step; the root stays the root.
    void removeLast();

    int length() const;
    int step(int index) const;
    int lastStep() const;
    bool isValid() const { return bytes_[0] != invalidMarker; }
    const Bytes& bytes() const { return bytes_; }
    QList<int> toList() const;

    // The exact ratio the path leads to, or nothing for the invalid path and
    // for a path holding a step outside the prime table.
    std::optional<LatticeRatio> ratio() const;

    bool operator==(const LatticePath& other) const;
    bool operator!=(const LatticePath& other) const { return !(*this == other); }

private:
    Bytes bytes_{};
};

uint qHash(const LatticePath& path, uint seed = 0);

Q_DECLARE_METATYPE(LatticePath)
