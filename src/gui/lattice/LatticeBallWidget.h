#pragma once

#include "LatticeNoteEvent.h"

#include <QGraphicsItemGroup>
#include <QList>
#include <QObject>

class LatticeBall;
class LatticeStrutWidget;
class LatticeWidget;
class QGraphicsEllipseItem;

// One ball of the lattice view, a lattice ball or a leaf: an ellipse in the
// ball's colour over a soft white glow. It follows its model ball: it lights
// up while the ball sounds, hides (with its leaves and lines) while the ball
// is disabled, and keeps the ball's note card in the card stack exactly while
// the ball both sounds and is enabled. A left press queues the ball's
// NoteToggle event to the player.
//
// The model ball must outlive the widget; the lattice keeps replaced trees
// until it is destroyed, and the application deletes the window first.
//
// GUI thread only.
class LatticeBallWidget : public QObject, public QGraphicsItemGroup
{
    Q_OBJECT

public:
    // diameter in scene units.
    LatticeBallWidget(LatticeBall* ball, LatticeWidget* latticeWidget, int diameter,
                      QGraphicsItem* parent);
    // Takes the ball's card away, if it has one.
    ~LatticeBallWidget() override;

    // Fill, outline and glow for the ball's playing state, from the layout
    // constants as they are now.
    void updateLook();
    // Where the guide line to the ball's card starts, from the ball's centre.
    double outerRadius() const;
    // Where the ball and its glow paint, shown or not.
    QRectF paintedRect() const;

    LatticeBall* ball() const { return ball_; }
    const LatticeNoteEvent& noteEvent() const { return noteEvent_; }
    // The struts and links that end on this ball; they are shown only while
    // both their ends are.
    void addLine(LatticeStrutWidget* line) { lines_.append(line); }
    const QList<LatticeStrutWidget*>& lines() const { return lines_; }
    bool hasCard() const { return hasCard_; }
    // Adds or removes the card so that there is one exactly while the ball
    // sounds and is enabled; never asks the stack for a second card. The
    // slots call it; the lattice widget calls it once the scene is in its
    // view, for balls that already sound.
    void syncCard();

    QRectF boundingRect() const override;

public slots:
    void onPlayingChanged();
    void onEnabledChanged(bool enabled);

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseDoubleClickEvent(QGraphicsSceneMouseEvent* event) override;
    void hoverEnterEvent(QGraphicsSceneHoverEvent* event) override;

private:
    LatticeBall* const ball_;
    LatticeWidget* const latticeWidget_;
    QList<LatticeStrutWidget*> lines_;
    LatticeNoteEvent noteEvent_;
    QGraphicsEllipseItem* ellipse_;
    QGraphicsEllipseItem* glow_;
    bool hasCard_ = false;
};
