#pragma once

#include <QHash>
#include <QLineF>
#include <QVector>
#include <QWidget>
#include <array>

class CardWidget;
class LatticeBallWidget;
class LatticeView;

// A transparent layer over a whole lattice layer that draws the dotted guide
// lines from each sounding ball to its note card: one from the layer's left
// edge up to the ball and one from the ball on towards the card, both at the
// ball's height, leaving the ball itself clear by its outer radius. A card
// pushed away from its ball's height by its neighbours is reached by a last
// slanted line, starting a little before the card, to the nearest height of
// the card's part in sight. Mouse events pass through it to the view beneath.
//
// GUI thread only.
class CardConnectorOverlay : public QWidget
{
    Q_OBJECT

public:
    explicit CardConnectorOverlay(QWidget* parent = nullptr);

    // Repaints whenever view is resized.
    void init(LatticeView* view);
    // Replaces any connection ballWidget already has.
    void addConnection(LatticeBallWidget* ballWidget, CardWidget* card);
    void removeConnection(LatticeBallWidget* ballWidget);

    // Repaints where the lines of cards that moved were and are now.
    void updateConnections();

    // The three guide lines of every connection in this overlay's
    // coordinates, each as: ball's right side to the bend, bend to the
    // card's left edge (level when the card is at its ball's height), left
    // edge to ball's left side. Empty before init().
    QVector<QLineF> guideLines() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Connection
    {
        CardWidget* card;
        QRect band; // where its lines were last drawn
    };

    QPoint fromScene(const QPointF& scenePoint) const;
    using Lines = std::array<QLineF, 3>;
    // The guide lines of one connection, as guideLines() gives them.
    Lines linesFor(const LatticeBallWidget* ballWidget, const CardWidget* card) const;
    static QRect bandOf(const Lines& lines);

    QHash<LatticeBallWidget*, Connection> connections_;
    LatticeView* view_ = nullptr;
};
