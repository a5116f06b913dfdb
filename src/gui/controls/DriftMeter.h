#pragma once

#include <QLabel>

class Lattice;
class LatticeRatio;

// The drift meter under the transposition readout: the transposition as a
// monzo and its size in cents, reduced by octaves; and when a run of
// transpositions has come back near the start, the comma it left behind and
// the fewest steps that lead exactly home. A window too narrow for the line
// elides its middle; the tool tip holds all of it.
//
// GUI thread only; follows the model's transposeOrBaseFrequencyChanged().
class DriftMeter : public QLabel
{
    Q_OBJECT

public:
    explicit DriftMeter(const Lattice* lattice, QWidget* parent = nullptr);

    // "Drift [-4 4 -1> +21.51¢: syntonic comma, home /5/-3/2/-3/-3/2/-3";
    // only the monzo and the cents away from home.
    static QString textFor(const LatticeRatio& transposition);

public slots:
    void onTransposeChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void showElided();

    const Lattice* lattice;
    QString fullText;
};
