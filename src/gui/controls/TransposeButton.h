#pragma once

#include "LatticeEvent.h"

#include <QToolButton>

class Lattice;
class PdPlayer;
class QLabel;
class QPaintEvent;

// One arrow of the transpose panel: a click transposes the whole lattice by
// one signed prime step (Transpose with the step). The arrow paints itself,
// pointing left for a downward step and right for an upward one, in the
// prime's colour while the lattice stands transposed its way. Beside it a
// label counts the net steps taken in its prime, shown only beside the arrow
// pointing the way the lattice has moved.
//
// The button follows the model: at every change of transposition or base
// frequency it disables itself (and then draws nothing) when the model would
// refuse the step. Until the first change it is enabled with an empty label.
//
// GUI thread only.
class TransposeButton : public QToolButton
{
    Q_OBJECT

public:
    // label: where the step count is written; not owned, and expected to
    // live as long as the button (a sibling in the panel).
    TransposeButton(int step, QLabel* label, QWidget* parent = nullptr);

    int step() const { return step_; }
    QLabel* label() const { return label_; }

public slots:
    void onTransposeClicked();
    void onTransposeChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool modelAllowsStep() const;
    // Net steps in this prime, positive upwards.
    int netSteps() const;
    bool movedThisWay() const;

    const int step_;
    int count_ = 0;
    QLabel* label_;
    const LatticeEvent transposeEvent_;
    const Lattice* lattice_;
    PdPlayer* player_;
};
