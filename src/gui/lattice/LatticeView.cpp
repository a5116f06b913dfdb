#include "LatticeView.h"

#include "CardStackWidget.h"
#include "Lattice.h"
#include "LatticeBall.h"
#include "LatticeBallWidget.h"
#include "LatticeWidget.h"

#include <QGraphicsScene>
#include <QTimer>
#include <cstdio>

namespace {

bool dumpsBalls()
{
    static const bool enabled = qEnvironmentVariableIsSet("LATTICE_DUMP_BALLS");
    return enabled;
}

} // namespace

LatticeView::LatticeView(QWidget* parent) : QGraphicsView(parent), scene_(new QGraphicsScene(this))
{
    setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                   QPainter::SmoothPixmapTransform);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setScene(scene_);
}

LatticeView::~LatticeView()
{
    latticeWidget_ = nullptr;
    scene_->clear();
}

void LatticeView::initView(int look, Lattice* lattice, CardStackWidget* cardStack)
{
    lattice_ = lattice;
    cardStack_ = cardStack;
    buildScene(look);
}

void LatticeView::buildScene(int look)
{
    look_ = look;
    // Null first, so that nothing reaches the widget while it goes.
    latticeWidget_ = nullptr;
    scene_->clear();
    latticeWidget_ = new LatticeWidget(look, this, cardStack_);
    scene_->addItem(latticeWidget_);
    latticeWidget_->setPos(0.0, 0.0);
    scene_->setSceneRect(latticeWidget_->sceneBoundingRect());
    // A rebuilt lattice (other ball sizes, another file) may not fit the
    // zoom the old one had.
    fitInView(sceneRect(), Qt::KeepAspectRatio);
    latticeWidget_->syncCards();
    emit resized();
    scheduleBallDump();
}

void LatticeView::resizeEvent(QResizeEvent* event)
{
    QGraphicsView::resizeEvent(event);
    fitInView(sceneRect(), Qt::KeepAspectRatio);
    emit resized();
    scheduleBallDump();
}

void LatticeView::showEvent(QShowEvent* event)
{
    if (latticeWidget_ && lattice_ && latticeWidget_->rootBall() != lattice_->root())
        buildScene(look_);
    QGraphicsView::showEvent(event);
    scheduleBallDump();
}

// Resizes come in bursts while a window is laid out and placed; one dump
// after the burst is enough.
void LatticeView::scheduleBallDump()
{
    if (!dumpsBalls() || ballDumpPending_)
        return;
    ballDumpPending_ = true;
    QTimer::singleShot(0, this, &LatticeView::dumpBalls);
}

void LatticeView::dumpBalls()
{
    ballDumpPending_ = false;
    if (!isVisible() || !latticeWidget_)
        return;
    QWidget* top = window();
    for (LatticeBallWidget* ball : latticeWidget_->ballWidgets()) {
        if (!ball->isVisible())
            continue;
        const QPoint inView = mapFromScene(ball->scenePos());
        const QPoint inWindow = viewport()->mapTo(top, inView);
        std::printf("ball %s %d %d\n", qPrintable(ball->ball()->path().toString()), inWindow.x(),
                    inWindow.y());
    }
    std::fflush(stdout);
}
