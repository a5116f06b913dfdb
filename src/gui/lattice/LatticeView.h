#pragma once

#include "CardStackWidget.h"

#include <QGraphicsView>
#include <QPointer>

class Lattice;
class LatticeWidget;
class QGraphicsScene;

// Shows one look of the lattice model as a scene of balls and lines, fitted
// into the view keeping its aspect ratio whenever the view is resized. The
// card stack and the guide-line overlay follow resized().
//
// A view that is shown while its scene still holds a tree the model has
// replaced (lattice.json read again while another look was on screen)
// rebuilds its scene first, so that no widget or card of a ball the model
// no longer has is ever seen.
//
// With the environment variable LATTICE_DUMP_BALLS set, every time the
// visible view has been fitted or its scene rebuilt, it writes one line per
// shown ball to standard output: "ball <path> <x> <y>", the ball's centre in
// pixels from the top-left corner of the top-level window's client area,
// rounded. A later block supersedes the ones before it. Scripts click
// balls with that (xdotool mousemove --window).
//
// GUI thread only.
class LatticeView : public QGraphicsView
{
    Q_OBJECT

public:
    explicit LatticeView(QWidget* parent = nullptr);
    // Clears the scene first: its balls take their cards off the stack as
    // they go, and the stack places the rest through this view, which must
    // still be whole then.
    ~LatticeView() override;

    // Stores the model and the card stack and builds the scene for look.
    void initView(int look, Lattice* lattice, CardStackWidget* cardStack);
    // Deletes every item of the scene (taking their cards away) and draws the
    // model afresh with the layout constants as they are now. The view's
    // scale stays until the next resize.
    void buildScene(int look);

    int look() const { return look_; }
    Lattice* lattice() const { return lattice_; }
    CardStackWidget* cardStack() const { return cardStack_; }
    // Null before the first scene.
    LatticeWidget* latticeWidget() const { return latticeWidget_; }

signals:
    void resized();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void scheduleBallDump();
    void dumpBalls();

    QGraphicsScene* scene_;
    Lattice* lattice_ = nullptr;
    LatticeWidget* latticeWidget_ = nullptr;
    QPointer<CardStackWidget> cardStack_;
    int look_ = 0;
    bool ballDumpPending_ = false;
};
