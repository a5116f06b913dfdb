#include "LatticeLayer.h"

#include "CardConnectorOverlay.h"
#include "CardStackWidget.h"
#include "LatticeView.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace {

constexpr int cardStackBottomMargin = 12; // pixels kept free below the lowest card

QFrame* addFrame(QHBoxLayout* row, const char* name, const QMargins& margins, QWidget* content)
{
    auto* frame = new QFrame;
    frame->setObjectName(QLatin1String(name));
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(margins);
    layout->addWidget(content);
    row->addWidget(frame);
    return frame;
}

} // namespace

LatticeLayer::LatticeLayer(QWidget* parent)
    : QWidget(parent), view_(new LatticeView), cardStack_(new CardStackWidget)
{
    auto* row = new QHBoxLayout(this);
    row->setSpacing(0);
    row->setContentsMargins(0, 0, 0, 0);
    addFrame(row, "centralFrame", QMargins(0, 6, 0, 6), view_);
    addFrame(row, "rightFrame", QMargins(12, 12, 12, 12), cardStack_);
    // Made last, so that it lies above the frames.
    overlay_ = new CardConnectorOverlay(this);
}

void LatticeLayer::initLayer(int look, Lattice* lattice)
{
    overlay_->init(view_);
    cardStack_->init(overlay_, view_);
    view_->initView(look, lattice, cardStack_);
    cardStack_->setMargin(cardStackBottomMargin);
}

void LatticeLayer::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    overlay_->setGeometry(rect());
    overlay_->raise();
}
