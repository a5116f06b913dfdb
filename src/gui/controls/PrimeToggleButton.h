#pragma once

#include "LatticeEvent.h"

#include <QColor>
#include <QString>
#include <QToolButton>

class Lattice;
class PdPlayer;

// The button of one prime in the transpose panel, showing the prime in its
// colour. Primes above 3 can be switched off and on: the button is checkable,
// starts checked, and each click sends PrimeToggle with the prime; the check
// follows the click, not the player. Primes 1, 2 and 3 stay on for good, so
// their buttons are disabled and only show the colour; the panel's reset
// button is a prime-1 button it enables itself.
//
// GUI thread only.
class PrimeToggleButton : public QToolButton
{
    Q_OBJECT

public:
    explicit PrimeToggleButton(int prime, QWidget* parent = nullptr);

    int prime() const { return prime_; }

    // The colour both button kinds give a signed step's prime: the model's,
    // except that 19's olive is darkened a little so that it reads as
    // clearly as the others on the dark panel.
    static QColor colorForStep(const Lattice& lattice, int step);

public slots:
    void onPrimeToggled();

private:
    // The six rules colouring the button in its states, from its prime's
    // colour.
    static QString styleSheetFor(const QColor& color);

    const int prime_;
    const LatticeEvent toggleEvent_;
    PdPlayer* player_;
};
