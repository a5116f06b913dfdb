#include "DriftMeter.h"

#include "Lattice.h"
#include "Monzo.h"
#include "TranspositionDrift.h"

#include <QFontMetrics>

DriftMeter::DriftMeter(const Lattice* lattice, QWidget* parent) : QLabel(parent), lattice(lattice)
{
    setObjectName(QStringLiteral("driftMeter"));
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Like the readout above it, it takes the width it is given.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    connect(lattice, &Lattice::transposeOrBaseFrequencyChanged, this,
            &DriftMeter::onTransposeChanged);
    onTransposeChanged();
}

QString DriftMeter::textFor(const LatticeRatio& transposition)
{
    const TranspositionDrift drift(Monzo::ofRatio(transposition));
    QString text = tr("Drift %1 %2\u00a2").arg(drift.monzo().toString(), drift.centsText(2));
    if (drift.isNearHome())
        text += tr(": %1, home %2")
                    .arg(drift.commaName(), TranspositionDrift::stepsText(drift.homeSteps()));
    return text;
}

void DriftMeter::onTransposeChanged()
{
    fullText = textFor(lattice->transposition());
    setToolTip(fullText);
    showElided();
}

void DriftMeter::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    showElided();
}

void DriftMeter::showElided()
{
    setText(fontMetrics().elidedText(fullText, Qt::ElideMiddle, contentsRect().width()));
}
