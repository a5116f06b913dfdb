#include "TransposeButton.h"

#include "Lattice.h"
#include "LatticePath.h"
#include "PdPlayer.h"
#include "PrimeToggleButton.h"
#include "TuningLatticeApplication.h"

#include <QLabel>
#include <QPainter>
#include <QPolygonF>
#include <cstdlib>
#include <optional>
#include <utility>

namespace {

constexpr int hoverLightenFactor = 116;      // percent, QColor::lighter
const QColor pressedArrow(0x23, 0x24, 0x21); // the window's background
constexpr qreal plateCornerRadius = 3.0;     // pixels

} // namespace

TransposeButton::TransposeButton(int step, QLabel* label, QWidget* parent)
    : QToolButton(parent), step_(step), label_(label),
      transposeEvent_(LatticeEvent::Transpose, float(step)),
      lattice_(&TuningLatticeApplication::instance()->lattice()),
      player_(&TuningLatticeApplication::instance()->player())
{
    connect(this, &QToolButton::clicked, this, &TransposeButton::onTransposeClicked,
            Qt::DirectConnection);
    connect(lattice_, &Lattice::transposeOrBaseFrequencyChanged, this,
            &TransposeButton::onTransposeChanged, Qt::DirectConnection);
}

void TransposeButton::onTransposeClicked()
{
    // The button may still be enabled from before the model's last change.
    if (modelAllowsStep())
        player_->queueEventGui(&transposeEvent_);
}

void TransposeButton::onTransposeChanged()
{
    setEnabled(modelAllowsStep());
    count_ = netSteps();
    if (label_) {
        if (count_ > 0 && step_ > 0)
            label_->setText(QStringLiteral("%1%2").arg(QLatin1Char('+')).arg(count_));
        else if (count_ < 0 && step_ < 0)
            label_->setText(QString::number(count_));
        else
            label_->clear();
    }
    update();
}

bool TransposeButton::modelAllowsStep() const
{
    const std::optional<LatticeRatio> ratio = LatticePath(step_).ratio();
    return ratio && lattice_->canTransposeTo(*ratio);
}

int TransposeButton::netSteps() const
{
    int sum = 0;
    for (int taken : lattice_->transposeSteps())
        if (taken == step_ || taken == -step_)
            sum += taken;
    return step_ == 0 ? 0 : sum / std::abs(step_);
}

bool TransposeButton::movedThisWay() const
{
    return (count_ > 0 && step_ > 0) || (count_ < 0 && step_ < 0);
}

void TransposeButton::paintEvent(QPaintEvent* /*event*/)
{
    if (!isEnabled())
        return;

    QColor background = palette().color(QPalette::Window);
    QColor fill = palette().color(QPalette::WindowText);
    QColor outline(Qt::black);
    bool plate = false;
    if (isDown()) {
        // A light plate with a dark arrow. The style sheet keeps the
        // button's own background transparent, so the window colour is no
        // arrow colour here.
        background = fill;
        fill = pressedArrow;
        outline = Qt::transparent;
        plate = true;
    } else {
        if (movedThisWay())
            fill = PrimeToggleButton::colorForStep(*lattice_, step_);
        if (underMouse()) {
            fill = fill.lighter(hoverLightenFactor);
            outline = Qt::transparent;
            plate = true;
        }
    }

    const QRectF area = contentsRect();
    const qreal side = area.width() / 2.0;
    const qreal left = area.x() + (area.width() - side) / 2.0;
    const qreal top = area.y() + (area.height() - side) / 2.0;
    QPolygonF triangle;
    if (step_ < 0)
        triangle << QPointF(left + side, top) << QPointF(left + side, top + side)
                 << QPointF(left, top + side / 2.0);
    else
        triangle << QPointF(left, top) << QPointF(left + side, top + side / 2.0)
                 << QPointF(left, top + side);

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (plate) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(background);
        painter.drawRoundedRect(area, plateCornerRadius, plateCornerRadius);
    }
    painter.setPen(QPen(outline, 0.0)); // cosmetic: one device pixel wide
    painter.setBrush(fill);
    painter.drawPolygon(triangle);
}
