#include "PrimeToggleButton.h"

#include "Lattice.h"
#include "LayoutConstants.h"
#include "PdPlayer.h"
#include "TuningLatticeApplication.h"

namespace {

// Percentages for QColor::darker and QColor::lighter. How far a switched-off
// prime is dimmed is the tweakable PRIME_DISABLED_DIM_FACTOR, read when the
// button is built.
constexpr int prime19DarkenFactor = 120;
constexpr int hoverLightenFactor = 116;
// The dimmed colour needs a stronger lift for the hover to show.
constexpr int dimHoverLightenFactor = 140;

// Primes up to this one cannot be switched off.
constexpr int lastFixedPrime = 3;

QString backgroundRule(const char* selector, const QColor& color)
{
    return QStringLiteral("%1 { background-color: rgb(%2, %3, %4); }")
        .arg(QLatin1String(selector))
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue());
}

} // namespace

PrimeToggleButton::PrimeToggleButton(int prime, QWidget* parent)
    : QToolButton(parent), prime_(prime), toggleEvent_(LatticeEvent::PrimeToggle, float(prime)),
      player_(&TuningLatticeApplication::instance()->player())
{
    setText(QString::number(prime));
    if (prime > lastFixedPrime) {
        setCheckable(true);
        setChecked(true);
        // A wand tag or a MIDI controller may switch the prime too: the
        // button shows what the player has, however it was switched.
        connect(player_, &PdPlayer::primeEnabledToggled, this, [this](int toggled, bool enabled) {
            if (toggled == prime_)
                setChecked(enabled);
        });
    } else {
        setEnabled(false);
    }
    setStyleSheet(
        styleSheetFor(colorForStep(TuningLatticeApplication::instance()->lattice(), prime)));
    connect(this, &QToolButton::clicked, this, &PrimeToggleButton::onPrimeToggled,
            Qt::DirectConnection);
}

QColor PrimeToggleButton::colorForStep(const Lattice& lattice, int step)
{
    const QColor color = lattice.colorForPrime(step);
    return (step == 19 || step == -19) ? color.darker(prime19DarkenFactor) : color;
}

void PrimeToggleButton::onPrimeToggled()
{
    if (prime_ > lastFixedPrime)
        player_->queueEventGui(&toggleEvent_);
}

QString PrimeToggleButton::styleSheetFor(const QColor& color)
{
    const QColor dim = color.darker(PRIME_DISABLED_DIM_FACTOR);
    return backgroundRule("PrimeToggleButton:checked", color) +
           backgroundRule("PrimeToggleButton", dim) +
           backgroundRule("PrimeToggleButton:checked:hover:!pressed",
                          color.lighter(hoverLightenFactor)) +
           backgroundRule("PrimeToggleButton:!checked:hover:!pressed",
                          dim.lighter(dimHoverLightenFactor)) +
           QStringLiteral("PrimeToggleButton:pressed, PrimeToggleButton:checked:pressed "
                          "{ background-color: #c4c4bb; }") +
           backgroundRule("PrimeToggleButton:disabled", color);
}
