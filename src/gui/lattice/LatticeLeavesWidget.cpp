#include "LatticeLeavesWidget.h"

#include "LatticeBallWidget.h"
#include "LatticeWidget.h"
#include "LayoutConstants.h"

#include <cmath>

namespace {

constexpr double radiansPerDegree = 3.14159265 / 180.0;

QMap<int, QPointF> circleLeafPositions;
QMap<int, QPointF> grapeLeafPositions;

} // namespace

LatticeLeavesWidget::LatticeLeavesWidget(int look, int direction, QGraphicsItem* parent)
    : QGraphicsItemGroup(parent), look_(look), direction_(direction)
{
    // The leaves take their own clicks and hovers.
    setHandlesChildEvents(false);
    setFlag(ItemContainsChildrenInShape);
    QMap<int, QPointF>& positions = cache(look);
    if (!positions.isEmpty())
        return;
    if (look == LatticeWidget::grapesLook)
        fillGrapeLeafPositions(positions);
    else
        fillCircleLeafPositions(positions);
}

void LatticeLeavesWidget::addLeaf(int step, LatticeBallWidget* leaf)
{
    QPointF point = cache(look_).value(std::abs(step), QPointF(0.0, 0.0));
    if (direction_ > 0)
        point = -point;
    leaf->setParentItem(this);
    leaf->setPos(point);
    prepareGeometryChange();
    leavesRect_ |= leaf->paintedRect().translated(point);
}

const QMap<int, QPointF>& LatticeLeavesWidget::leafPositions(int look)
{
    return cache(look);
}

void LatticeLeavesWidget::clearLeafPositions()
{
    circleLeafPositions.clear();
    grapeLeafPositions.clear();
}

QMap<int, QPointF>& LatticeLeavesWidget::cache(int look)
{
    return look == LatticeWidget::grapesLook ? grapeLeafPositions : circleLeafPositions;
}

// 11 in the centre, the other six on a ring, clockwise from the start angle.
void LatticeLeavesWidget::fillCircleLeafPositions(QMap<int, QPointF>& positions)
{
    positions.insert(11, QPointF(0.0, 0.0));
    const double radius = LEAVES_RADIUS;
    int angle = LEAVES_START_ANGLE;
    for (int prime : {19, 23, 7, 13, 5, 17}) {
        const double a = angle * radiansPerDegree;
        positions.insert(prime, QPointF(radius * std::cos(a), -radius * std::sin(a)));
        angle = ((angle - 60) % 360 + 360) % 360;
    }
}

// Two columns, the side by prime, each leaf as far below the ball as its
// prime's interval is high within the octave.
void LatticeLeavesWidget::fillGrapeLeafPositions(QMap<int, QPointF>& positions)
{
    struct GrapeLeaf
    {
        int prime;
        double semitones; // of the prime's interval reduced into one octave
        double side;
    };
    static const GrapeLeaf leaves[] = {{5, 3.86, -0.5}, {7, 9.69, -0.5},  {11, 5.51, 0.5},
                                       {13, 8.41, 0.5}, {17, 1.05, -0.5}, {19, 2.98, 0.5},
                                       {23, 6.28, -0.5}};
    for (const GrapeLeaf& leaf : leaves)
        positions.insert(leaf.prime, QPointF(GRAPE_LEAVES_WIDTH * 0.5 * leaf.side,
                                             GRAPE_LEAVES_HEIGHT * leaf.semitones / 12.0));
}
