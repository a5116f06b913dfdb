#include "LatticeWidget.h"

#include "Lattice.h"
#include "LatticeBall.h"
#include "LatticeBallWidget.h"
#include "LatticeLeavesWidget.h"
#include "LatticeStrutWidget.h"
#include "LatticeView.h"
#include "LayoutConstants.h"
#include "QuotedText.h"

#include <QDebug>
#include <QEvent>
#include <cmath>

namespace {

constexpr qreal lineZ = 10.0;
constexpr qreal ballZ = 20.0;
constexpr qreal leavesZ = 30.0;
constexpr double radiansPerDegree = 3.14159265 / 180.0;

bool isLatticeStep(int step)
{
    return step == 2 || step == -2 || step == 3 || step == -3;
}

// Where a 2- or 3-step child stands from its parent.
QPointF latticeOffset(int step)
{
    const bool octave = std::abs(step) == 2;
    int angle = octave ? ANGLE_2_PLUS : ANGLE_3_PLUS;
    if (step < 0)
        angle += 180;
    const double length = octave ? STRUT_2_LENGTH : STRUT_3_LENGTH;
    const double a = angle * radiansPerDegree;
    return QPointF(length * std::cos(a), -length * std::sin(a));
}

} // namespace

LatticeWidget::LatticeWidget(int look, LatticeView* view, CardStackWidget* cardStack)
    : look_(look), view_(view), lattice_(view->lattice()), cardStack_(cardStack)
{
    setHandlesChildEvents(false);
    if (look_ == circlesLook)
        leafGroupOffset_ = QPointF(LEAVES_PLUS_OFFSET_X, LEAVES_PLUS_OFFSET_Y);
    buildBalls();
}

LatticeWidget::~LatticeWidget()
{
    // The base destructor would delete the balls after this object's own
    // members are gone, yet a sounding ball asks for the card stack as it
    // goes.
    const QList<QGraphicsItem*> children = childItems();
    qDeleteAll(children);
}

void LatticeWidget::buildBalls()
{
    latticeBalls_.clear();
    balls_.clear();
    rootBall_ = lattice_ ? lattice_->root() : nullptr;
    if (rootBall_)
        addBallTree(rootBall_, QPointF(0.0, 0.0));
    for (LatticeBallWidget* from : qAsConst(latticeBalls_))
        addLinks(from);
    prepareGeometryChange();
    boundingRect_ = childrenBoundingRect();
}

LatticeBallWidget* LatticeWidget::addBallTree(LatticeBall* ball, const QPointF& position)
{
    auto* widget = new LatticeBallWidget(ball, this, BALL_DIAMETER, this);
    widget->setPos(position);
    widget->setZValue(ballZ);

    auto* minusLeaves = new LatticeLeavesWidget(look_, -1, widget);
    minusLeaves->setPos(-leafGroupOffset_);
    minusLeaves->setZValue(leavesZ);
    auto* plusLeaves = new LatticeLeavesWidget(look_, +1, widget);
    plusLeaves->setPos(leafGroupOffset_);
    plusLeaves->setZValue(leavesZ);

    const QMap<int, LatticeBall*>& children = ball->children();
    for (auto it = children.constBegin(); it != children.constEnd(); ++it) {
        const int step = it.key();
        if (isLatticeStep(step)) {
            LatticeBallWidget* child = addBallTree(it.value(), position + latticeOffset(step));
            auto* strut =
                new LatticeStrutWidget(widget, child, STRUT_WIDTH, child->ball()->color(), this);
            strut->setZValue(lineZ);
        } else {
            // A leaf's own children are not drawn.
            LatticeLeavesWidget* group = step < 0 ? minusLeaves : plusLeaves;
            auto* leaf = new LatticeBallWidget(it.value(), this, LEAF_DIAMETER, group);
            group->addLeaf(step, leaf);
            balls_.insert(leaf->ball()->path(), leaf);
        }
    }
    latticeBalls_.insert(ball->path(), widget);
    balls_.insert(ball->path(), widget);
    return widget;
}

void LatticeWidget::addLinks(LatticeBallWidget* from)
{
    const QMap<int, LatticeLink>& links = from->ball()->links();
    for (auto it = links.constBegin(); it != links.constEnd(); ++it) {
        LatticeBallWidget* to = latticeBalls_.value(it.value().path, nullptr);
        if (!to) {
            qWarning().noquote() << QStringLiteral(
                                        "Drew no link at key %1 of ball %2: %3 is no ball of the "
                                        "drawn lattice.")
                                        .arg(quotedText(QString::number(it.key())),
                                             quotedText(from->ball()->path().toString()),
                                             quotedText(it.value().path.toString()));
            continue;
        }
        auto* link = new LatticeStrutWidget(from, to, LINK_WIDTH, it.value().color, this);
        link->setZValue(lineZ);
    }
}

void LatticeWidget::syncCards()
{
    for (LatticeBallWidget* widget : qAsConst(balls_)) {
        widget->syncCard();
        widget->installSceneEventFilter(this);
    }
    if (cardStack_)
        cardStack_->followLattice(lattice_);
}

bool LatticeWidget::sceneEventFilter(QGraphicsItem* /*watched*/, QEvent* event)
{
    if (event->type() == QEvent::GraphicsSceneHoverLeave && cardStack_)
        cardStack_->updatePositions();
    return false;
}

LatticeBallWidget* LatticeWidget::ballWidget(const LatticePath& path) const
{
    return balls_.value(path, nullptr);
}

// Worked out once the balls stand: the scene asks for it at every paint, and
// walking thousands of children each time would cost more than the paint.
QRectF LatticeWidget::boundingRect() const
{
    return boundingRect_;
}
