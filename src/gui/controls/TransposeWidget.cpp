#include "TransposeWidget.h"

#include "Lattice.h"
#include "PdPlayer.h"
#include "PrimeToggleButton.h"
#include "TransposeButton.h"
#include "TuningLatticeApplication.h"

#include <QBoxLayout>
#include <QLabel>

namespace {

constexpr int primes[] = {1, 2, 3, 5, 7, 11, 13, 17, 19, 23};

// Pixels.
constexpr int lineGap = 6;
constexpr int buttonGap = 1;
constexpr int resetGap = 2;

} // namespace

TransposeWidget::TransposeWidget(QWidget* parent)
    : QWidget(parent), resetEvent_(LatticeEvent::Transpose, 0.0f),
      lattice_(&TuningLatticeApplication::instance()->lattice()),
      player_(&TuningLatticeApplication::instance()->player())
{
}

void TransposeWidget::setupButtons(int orientation)
{
    orientation_ = orientation;
    auto* outer = new QBoxLayout(
        orientation_ == Qt::Horizontal ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom, this);
    outer->setSpacing(lineGap);
    outer->setContentsMargins(0, 0, 0, 0);
    for (int prime : primes)
        outer->addLayout(buildPrimeLine(prime));
    buildResetLine(outer);
}

QBoxLayout* TransposeWidget::newLine(int spacing) const
{
    // A line runs across the way the lines are stacked.
    auto* line = new QBoxLayout(orientation_ == Qt::Horizontal ? QBoxLayout::TopToBottom
                                                               : QBoxLayout::LeftToRight);
    line->setSpacing(spacing);
    line->setContentsMargins(0, 0, 0, 0);
    return line;
}

QBoxLayout* TransposeWidget::buildPrimeLine(int prime) const
{
    QBoxLayout* line = newLine(buttonGap);
    auto* primeButton = new PrimeToggleButton(prime);
    if (prime == 1) {
        line->addWidget(primeButton, 0, Qt::AlignCenter);
        return line;
    }
    auto* downLabel = new QLabel;
    downLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* upLabel = new QLabel;
    upLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    auto* down = new TransposeButton(-prime, downLabel);
    auto* up = new TransposeButton(prime, upLabel);
    // Side by side the line reads low to high; standing up, high is on top.
    const bool standing = orientation_ == Qt::Horizontal;
    line->addWidget(downLabel);
    line->addWidget(standing ? up : down);
    line->addWidget(primeButton);
    line->addWidget(standing ? down : up);
    line->addWidget(upLabel);
    return line;
}

void TransposeWidget::buildResetLine(QBoxLayout* outer)
{
    QBoxLayout* line = newLine(resetGap);
    resetButton_ = new PrimeToggleButton(1);
    resetButton_->setObjectName(QStringLiteral("resetButton"));
    resetButton_->setText(QStringLiteral("="));
    resetButton_->setToolTip(QStringLiteral("Reset transpose"));
    resetButton_->setEnabled(!lattice_->transposeSteps().isEmpty());
    line->addWidget(resetButton_, 0, Qt::AlignCenter);
    outer->addLayout(line);
    connect(resetButton_, &QToolButton::clicked, this, &TransposeWidget::onResetClicked,
            Qt::DirectConnection);
    connect(lattice_, &Lattice::transposeOrBaseFrequencyChanged, this,
            &TransposeWidget::onTransposeChanged, Qt::DirectConnection);
}

void TransposeWidget::onResetClicked()
{
    player_->queueEventGui(&resetEvent_);
}

void TransposeWidget::onTransposeChanged()
{
    resetButton_->setEnabled(!lattice_->transposeSteps().isEmpty());
}
