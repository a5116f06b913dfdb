#pragma once

#include "LatticeEvent.h"

#include <QWidget>

class Lattice;
class PdPlayer;
class PrimeToggleButton;
class QBoxLayout;

// The transpose and prime panel at the side of the main window: one line per
// prime 1, 2, 3, 5 ... 23 with a down arrow, the prime's button and an up
// arrow (each arrow with its step count), and a reset button at the end that
// takes the transposition back to 1/1. The window's form places an empty
// panel; setupButtons() fills it.
//
// GUI thread only.
class TransposeWidget : public QWidget
{
    Q_OBJECT

public:
    explicit TransposeWidget(QWidget* parent = nullptr);

    // Builds the lines, stacked vertically for any orientation but
    // Qt::Horizontal (1), which lays them side by side with each line
    // running top to bottom. Call once.
    void setupButtons(int orientation);

public slots:
    void onResetClicked();
    // The reset button is enabled exactly while some transposition is in
    // force.
    void onTransposeChanged();

private:
    QBoxLayout* newLine(int spacing) const;
    QBoxLayout* buildPrimeLine(int prime) const;
    void buildResetLine(QBoxLayout* outer);

    int orientation_ = Qt::Vertical;
    PrimeToggleButton* resetButton_ = nullptr;
    const LatticeEvent resetEvent_;
    const Lattice* lattice_;
    PdPlayer* player_;
};
