#pragma once

#include "CardStackWidget.h"
#include "LatticePath.h"

#include <QGraphicsItemGroup>
#include <QHash>
#include <QPointF>
#include <QPointer>

class Lattice;
class LatticeBall;
class LatticeBallWidget;
class LatticeView;

// The root item of a lattice scene: every ball of the model's 2/3 lattice
// (the balls reached by steps of 2 and 3) at its place in the plane, the
// struts from parents to children and the links the model lists, and on each
// such ball its leaves, the balls one step of a higher prime away. Balls
// beneath a leaf are not drawn. Sizes and angles come from the layout
// constants as they are when the widget is built.
//
// Clicks and hovers go to the balls. GUI thread only.
class LatticeWidget : public QGraphicsItemGroup
{
public:
    static constexpr int circlesLook = 0; // shown as "Flowers"
    static constexpr int grapesLook = 1;

    // Takes the model from view and builds the balls.
    LatticeWidget(int look, LatticeView* view, CardStackWidget* cardStack);
    // Deletes the balls while this widget can still answer them.
    ~LatticeWidget() override;

    // Builds the whole tree from the model's root at (0, 0), then the links.
    // A link whose target is not a drawn lattice ball (a leaf, or a ball
    // beneath one) has no second end: it logs a warning and draws nothing.
    void buildBalls();
    // Draws ball at position with its leaves and, recursively, its 2- and
    // 3-step children and their struts; returns the ball's widget.
    LatticeBallWidget* addBallTree(LatticeBall* ball, const QPointF& position);

    // Gives a card to every ball that already sounds and has the card stack
    // follow the model's notes that no drawn ball sounds; run once, when the
    // scene is in its view, where cards can be placed. From then on the
    // pointer leaving a ball puts the stack back in order after the ball's
    // hover brought its card forward.
    void syncCards();

    // The widget of the drawn ball (lattice ball or leaf) at path, or null.
    LatticeBallWidget* ballWidget(const LatticePath& path) const;
    // Every drawn ball, lattice balls and leaves.
    const QHash<LatticePath, LatticeBallWidget*>& ballWidgets() const { return balls_; }

    int look() const { return look_; }
    // The model's root when the balls were built; reading lattice.json again
    // replaces the model's tree, and this widget then shows the old one.
    LatticeBall* rootBall() const { return rootBall_; }
    Lattice* lattice() const { return lattice_; }
    LatticeView* view() const { return view_; }
    // Null once the stack is gone (the layer is being destroyed).
    CardStackWidget* cardStack() const { return cardStack_; }

    QRectF boundingRect() const override;

protected:
    bool sceneEventFilter(QGraphicsItem* watched, QEvent* event) override;

private:
    void addLinks(LatticeBallWidget* from);

    const int look_;
    LatticeView* const view_;
    Lattice* const lattice_;
    const QPointer<CardStackWidget> cardStack_;
    LatticeBall* rootBall_ = nullptr;
    // Lattice balls only: the ends that struts and links may join.
    QHash<LatticePath, LatticeBallWidget*> latticeBalls_;
    QHash<LatticePath, LatticeBallWidget*> balls_;
    // Of the plus leaves group from its ball; the minus group sits opposite.
    QPointF leafGroupOffset_;
    QRectF boundingRect_;
};
