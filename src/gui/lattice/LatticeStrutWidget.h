#pragma once

#include <QColor>
#include <QGraphicsLineItem>

class LatticeBallWidget;

// A straight line between the centres of two lattice balls: a strut from a
// ball to its child, or a link the model lists between two balls one step
// apart. Both ends must be children of the same LatticeWidget; the line
// registers itself with both, which show or hide it with themselves.
//
// GUI thread only.
class LatticeStrutWidget : public QGraphicsLineItem
{
public:
    // width is the pen width in scene units; colour is the line's before
    // dimming, the `to` ball's colour when invalid.
    LatticeStrutWidget(LatticeBallWidget* from, LatticeBallWidget* to, int width,
                       const QColor& color, QGraphicsItem* parent);

    // Shown exactly while both ends are.
    void updateVisibility();

    LatticeBallWidget* from() const { return from_; }
    LatticeBallWidget* to() const { return to_; }

private:
    LatticeBallWidget* const from_;
    LatticeBallWidget* const to_;
};
