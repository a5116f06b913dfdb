#include "LatticeBallWidget.h"

#include "CardStackWidget.h"
#include "LatticeBall.h"
#include "LatticeStrutWidget.h"
#include "LatticeWidget.h"
#include "LayoutConstants.h"
#include "TuningLatticeApplication.h"

#include <QBrush>
#include <QGraphicsEllipseItem>
#include <QGraphicsSceneMouseEvent>
#include <QPen>
#include <QRadialGradient>
#include <algorithm>

namespace {

constexpr qreal ballZ = 20.0;
constexpr qreal glowZ = 10.0;
// The root, the "black ball", needs much more light than the others to show
// that it sounds; these do not follow the tweakable factors.
constexpr int rootFillLightening = 200;
// The root is near-black on a near-black ground: a light ring keeps it in
// sight (at least 3:1 against the ground) whether it sounds or not.
const QColor rootRingSilent(0x9a, 0x9a, 0x92);
const QColor rootRingSounding(0xe4, 0xe4, 0xda);

} // namespace

LatticeBallWidget::LatticeBallWidget(LatticeBall* ball, LatticeWidget* latticeWidget, int diameter,
                                     QGraphicsItem* parent)
    : QGraphicsItemGroup(parent), ball_(ball), latticeWidget_(latticeWidget),
      noteEvent_(ball->path())
{
    setHandlesChildEvents(false);
    setAcceptHoverEvents(true);

    const qreal d = diameter;
    ellipse_ = new QGraphicsEllipseItem(-d / 2, -d / 2, d, d, this);
    ellipse_->setZValue(ballZ);
    ellipse_->setCacheMode(QGraphicsItem::DeviceCoordinateCache);

    const qreal g = BALL_GLOW_SIZE_FACTOR / 100.0 * d;
    glow_ = new QGraphicsEllipseItem(-g / 2, -g / 2, g, g, this);
    glow_->setPen(Qt::NoPen);
    QRadialGradient gradient(QPointF(0.0, 0.0), g / 2);
    QColor centre(Qt::white);
    centre.setAlpha(GLOW_ALPHA_START);
    QColor edge(Qt::white);
    edge.setAlpha(0);
    gradient.setColorAt(0.0, centre);
    gradient.setColorAt(1.0, edge);
    glow_->setBrush(gradient);
    glow_->setZValue(glowZ);
    glow_->hide();

    updateLook();
    // A scene built while a prime is off starts with its balls hidden.
    setVisible(ball->isEnabled());
    connect(ball, &LatticeBall::playingChanged, this, &LatticeBallWidget::onPlayingChanged,
            Qt::DirectConnection);
    connect(ball, &LatticeBall::enabledChanged, this, &LatticeBallWidget::onEnabledChanged,
            Qt::DirectConnection);
}

LatticeBallWidget::~LatticeBallWidget()
{
    if (hasCard_) {
        if (CardStackWidget* stack = latticeWidget_->cardStack())
            stack->removeCard(this);
    }
}

void LatticeBallWidget::updateLook()
{
    const QColor color = ball_->color();
    const bool isRoot = ball_->path().isValid() && ball_->path().length() == 0;
    const int ringWidth = std::max(1, int(ellipse_->rect().width() / 12));
    if (ball_->isPlaying()) {
        const int fillFactor = isRoot ? rootFillLightening : BALL_BRIGHTEN_FACTOR;
        const int width = int(ellipse_->rect().width() / 10);
        const QColor outline = isRoot ? rootRingSounding : color.lighter(OUTLINE_BRIGHTEN_FACTOR);
        ellipse_->setPen(QPen(QBrush(outline), width, Qt::SolidLine));
        ellipse_->setBrush(QBrush(color.lighter(fillFactor), Qt::SolidPattern));
        glow_->show();
    } else {
        ellipse_->setPen(isRoot ? QPen(QBrush(rootRingSilent), ringWidth, Qt::SolidLine)
                                : QPen(QBrush(QColor(0, 0, 0, 128)), 0, Qt::SolidLine));
        ellipse_->setBrush(QBrush(color.darker(BALL_DIM_FACTOR), Qt::SolidPattern));
        glow_->hide();
    }
}

double LatticeBallWidget::outerRadius() const
{
    const double width = ellipse_->rect().width();
    return width / 2 + width / 10;
}

QRectF LatticeBallWidget::paintedRect() const
{
    return ellipse_->boundingRect() | glow_->boundingRect();
}

QRectF LatticeBallWidget::boundingRect() const
{
    return ellipse_->rect();
}

void LatticeBallWidget::syncCard()
{
    const bool wanted = ball_->isPlaying() && ball_->isEnabled();
    if (wanted == hasCard_)
        return;
    CardStackWidget* stack = latticeWidget_->cardStack();
    if (!stack)
        return;
    hasCard_ = wanted;
    if (wanted)
        stack->addCard(this);
    else
        stack->removeCard(this);
}

void LatticeBallWidget::onPlayingChanged()
{
    updateLook();
    syncCard();
}

void LatticeBallWidget::onEnabledChanged(bool enabled)
{
    setVisible(enabled);
    for (LatticeStrutWidget* line : qAsConst(lines_))
        line->updateVisibility();
    syncCard();
}

void LatticeBallWidget::mousePressEvent(QGraphicsSceneMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    // The player copies the event at once, so the member is reused.
    TuningLatticeApplication::instance()->player().queueEventGui(&noteEvent_);
    event->accept();
}

// The first press of a double click has toggled the note already.
void LatticeBallWidget::mouseDoubleClickEvent(QGraphicsSceneMouseEvent* event)
{
    event->accept();
}

void LatticeBallWidget::hoverEnterEvent(QGraphicsSceneHoverEvent* event)
{
    QGraphicsItemGroup::hoverEnterEvent(event);
    if (hasCard_) {
        if (CardStackWidget* stack = latticeWidget_->cardStack())
            stack->raiseCard(this);
    }
}
