#include "LatticeStrutWidget.h"

#include "LatticeBall.h"
#include "LatticeBallWidget.h"
#include "LayoutConstants.h"

#include <QPen>

LatticeStrutWidget::LatticeStrutWidget(LatticeBallWidget* from, LatticeBallWidget* to, int width,
                                       const QColor& color, QGraphicsItem* parent)
    : QGraphicsLineItem(QLineF(from->pos(), to->pos()), parent), from_(from), to_(to)
{
    const QColor base = color.isValid() ? color : to->ball()->color();
    setPen(QPen(QBrush(base.darker(BALL_DIM_FACTOR)), width, Qt::SolidLine));
    from->addLine(this);
    to->addLine(this);
    updateVisibility();
}

void LatticeStrutWidget::updateVisibility()
{
    // Both ends are children of the lattice widget, so their own flags say
    // whether they show.
    setVisible(from_->isVisibleTo(parentItem()) && to_->isVisibleTo(parentItem()));
}
