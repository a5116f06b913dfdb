#pragma once

#include <QGraphicsItemGroup>
#include <QMap>
#include <QPointF>

class LatticeBallWidget;

// The leaves of one side of one lattice ball: the small balls reached from
// it by a step of a prime from 5 to 23, either all the negative steps
// (direction -1) or all the positive ones (+1). Where a leaf of a given prime
// stands is the same for every group of a look, so the positions are worked
// out once per look from the layout constants and shared through two caches.
// The caches keep their positions until clearLeafPositions(), so a changed
// constant shows only after the main window's lattice reload.
//
// The group's bounding rectangle is the area its leaves paint, glows
// included, and the group tells the scene that its leaves paint nowhere
// else: a repaint then skips the whole group unless the repainted area
// touches it, instead of visiting every leaf of the lattice.
//
// Clicks and hovers go to the leaves themselves. GUI thread only.
class LatticeLeavesWidget : public QGraphicsItemGroup
{
public:
    // Fills the cache of look if it is empty.
    LatticeLeavesWidget(int look, int direction, QGraphicsItem* parent);

    // Places leaf at the cached position of |step|'s prime, the group's
    // origin when the cache has none (a step of 1, say), turned by 180
    // degrees for the plus group, and makes it a child of the group.
    void addLeaf(int step, LatticeBallWidget* leaf);

    QRectF boundingRect() const override { return leavesRect_; }

    int look() const { return look_; }
    int direction() const { return direction_; }

    // Prime -> position in a minus group, for look 0 (circles) or 1 (grapes).
    static const QMap<int, QPointF>& leafPositions(int look);
    // Empties both caches; the next group built for each look fills its
    // cache again from the constants as they are then.
    static void clearLeafPositions();

private:
    static QMap<int, QPointF>& cache(int look);
    static void fillCircleLeafPositions(QMap<int, QPointF>& positions);
    static void fillGrapeLeafPositions(QMap<int, QPointF>& positions);

    const int look_;
    const int direction_;
    QRectF leavesRect_;
};
