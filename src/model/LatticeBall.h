#pragma once

#include "LatticeLink.h"
#include "LatticePath.h"
#include "SerializableNode.h"

#include <QColor>
#include <QMap>
#include <QStringList>
#include <optional>

class Lattice;

// One ball of the lattice model: a position reached from the root by prime
// steps, its children in the ball tree, its extra links, and the playing and
// enabled states that the model passes on from the player.
//
// A ball is owned by its parent ball (the root by its Lattice) and asks that
// lattice for the colours of its children and links. Its path never changes.
// Its JSON object holds only "children" and "links": path and colour follow
// from where the ball sits in the file.
//
// GUI thread only.
class LatticeBall : public SerializableNode
{
    Q_OBJECT

public:
    LatticeBall(const Lattice& lattice, const LatticePath& path, const QColor& color,
                QObject* parent);

    // Builds the children and links the object names. A child key that is
    // not a prime step, or a child that would lie deeper than the six steps a
    // path can hold, is skipped with its whole subtree; a link that cannot be
    // stored is dropped (see addLink). Each logs a warning naming the key.
    void read(const QJsonObject& json) override;
    // Writes "children" and "links" only when there are any.
    void write(QJsonObject& json) const override;

    const LatticePath& path() const { return path_; }
    // The ratio of the path, worked out once; none when the path holds a step
    // outside the prime table.
    const std::optional<LatticeRatio>& ratio() const { return ratio_; }
    QColor color() const { return color_; }
    const QMap<int, LatticeBall*>& children() const { return children_; }
    const QMap<int, LatticeLink>& links() const { return links_; }
    // Null when there is no child under step.
    LatticeBall* child(int step) const { return children_.value(step, nullptr); }
    bool isPlaying() const { return playing_; }
    bool isEnabled() const { return enabled_; }

    // Takes ownership of child. A child already under step is deleted, so the
    // caller rebuilds the lattice's ball index before anyone looks it up.
    void addChild(int step, LatticeBall* child);
    // Stores a link to the ball at pathText, in the colour of step's prime.
    // Refuses, with a warning, a step that is not a prime step and text that
    // is not a lattice path. Whether a ball lies at the path is the lattice's
    // business, once the whole tree is known.
    bool addLink(int step, const QString& pathText);
    void removeLink(int step) { links_.remove(step); }

    // Emits playingChanged only when the state changes.
    void setPlaying(bool playing);
    // When the state changes, the whole subtree follows before
    // enabledChanged is emitted; otherwise not even the subtree is visited.
    void setEnabled(bool enabled);

signals:
    void playingChanged(bool playing);
    void enabledChanged(bool enabled);

private:
    QStringList keysReadOnce(const QJsonObject& members, const QString& what) const;
    void readChild(const QString& key, const QJsonObject& json);
    void readLink(const QString& key, const QJsonValue& value);

    const Lattice* lattice_;
    const LatticePath path_;
    const std::optional<LatticeRatio> ratio_;
    QColor color_;
    QMap<int, LatticeBall*> children_;
    QMap<int, LatticeLink> links_;
    bool playing_ = false;
    bool enabled_ = true;
};
