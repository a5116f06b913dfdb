#include "CardConnectorOverlay.h"

#include "CardWidget.h"
#include "LatticeBallWidget.h"
#include "LatticeView.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>

namespace {

// Pixels before a card where the line to a card away from its ball's height
// bends towards it.
constexpr int bendWidth = 18;
// Pixels kept between where a line meets a card and the card's corners.
constexpr int cornerClearance = 4;

} // namespace

CardConnectorOverlay::CardConnectorOverlay(QWidget* parent) : QWidget(parent)
{
    // Clicks on a ball under a guide line must reach the view.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CardConnectorOverlay::init(LatticeView* view)
{
    view_ = view;
    connect(view, &LatticeView::resized, this, QOverload<>::of(&QWidget::update),
            Qt::DirectConnection);
}

// Only the band of the lines that come or go is repainted: the overlay
// covers the whole layer, and a full repaint redraws the entire scene
// beneath it, many times the cost of the card itself.
void CardConnectorOverlay::addConnection(LatticeBallWidget* ballWidget, CardWidget* card)
{
    removeConnection(ballWidget);
    const QRect band = view_ ? bandOf(linesFor(ballWidget, card)) : QRect();
    connections_.insert(ballWidget, {card, band});
    update(band);
}

// Uses the band last drawn, so that it never touches the ball widget, which
// may be in the middle of its destruction. A band gone stale by a resize
// does no harm: the resize repaints everything.
void CardConnectorOverlay::removeConnection(LatticeBallWidget* ballWidget)
{
    const auto found = connections_.constFind(ballWidget);
    if (found == connections_.constEnd())
        return;
    update(found->band);
    connections_.erase(found);
}

void CardConnectorOverlay::updateConnections()
{
    if (!view_)
        return;
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        const QRect band = bandOf(linesFor(it.key(), it->card));
        if (band == it->band)
            continue;
        update(it->band);
        update(band);
        it->band = band;
    }
}

QRect CardConnectorOverlay::bandOf(const Lines& lines)
{
    QRectF box;
    for (const QLineF& line : lines)
        box |= QRectF(line.p1(), line.p2()).normalized();
    // A pixel of room on each side for the pen.
    return box.toAlignedRect().adjusted(-1, -1, 2, 2);
}

// Scene to view, view to screen, screen to this layer: the view and the
// overlay are siblings in different frames.
QPoint CardConnectorOverlay::fromScene(const QPointF& scenePoint) const
{
    return mapFromGlobal(view_->viewport()->mapToGlobal(view_->mapFromScene(scenePoint)));
}

CardConnectorOverlay::Lines CardConnectorOverlay::linesFor(const LatticeBallWidget* ballWidget,
                                                           const CardWidget* card) const
{
    const QPointF centre = ballWidget->scenePos();
    const double radius = ballWidget->outerRadius();
    const QPoint right = fromScene(centre + QPointF(radius, 0.0));
    const QPoint left = fromScene(centre - QPointF(radius, 0.0));
    const QPoint cardTopLeft = mapFromGlobal(card->parentWidget()->mapToGlobal(card->pos()));
    const int shown = card->shownHeight();
    const int clearance = std::min(cornerClearance, shown / 2);
    const int cardY =
        std::clamp(right.y(), cardTopLeft.y() + clearance, cardTopLeft.y() + shown - 1 - clearance);
    const QPointF bend(cardY == right.y() ? cardTopLeft.x()
                                          : std::max(right.x(), cardTopLeft.x() - bendWidth),
                       right.y());
    return {QLineF(right, bend), QLineF(bend, QPointF(cardTopLeft.x(), cardY)),
            QLineF(QPointF(0, left.y()), left)};
}

QVector<QLineF> CardConnectorOverlay::guideLines() const
{
    QVector<QLineF> lines;
    if (!view_)
        return lines;
    lines.reserve(3 * connections_.size());
    for (auto it = connections_.constBegin(); it != connections_.constEnd(); ++it) {
        for (const QLineF& line : linesFor(it.key(), it->card))
            lines.append(line);
    }
    return lines;
}

void CardConnectorOverlay::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    QStyleOption option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    if (!view_)
        return;
    painter.setPen(QPen(QColor(255, 255, 255, 64), 1, Qt::DotLine));
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        const Lines lines = linesFor(it.key(), it->card);
        it->band = bandOf(lines);
        painter.drawLines(lines.data(), int(lines.size()));
    }
}
