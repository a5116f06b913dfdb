#pragma once

#include <QWidget>

class CardConnectorOverlay;
class CardStackWidget;
class Lattice;
class LatticeView;

// One page of the main window's lattice stack: the lattice view in one look,
// the column of note cards to its right, and the transparent overlay that
// draws the guide lines from the balls to their cards over both.
//
// GUI thread only.
class LatticeLayer : public QWidget
{
    Q_OBJECT

public:
    explicit LatticeLayer(QWidget* parent = nullptr);

    // Wires the cards to the view and builds the scene of look (0 circles,
    // 1 grapes) for lattice. Once, from the main window's constructor.
    void initLayer(int look, Lattice* lattice);

    LatticeView* view() const { return view_; }
    CardStackWidget* cardStack() const { return cardStack_; }
    CardConnectorOverlay* overlay() const { return overlay_; }

protected:
    // The overlay covers the whole layer.
    void resizeEvent(QResizeEvent* event) override;

private:
    LatticeView* view_;
    CardStackWidget* cardStack_;
    CardConnectorOverlay* overlay_;
};
