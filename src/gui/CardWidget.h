#pragma once

#include <QByteArray>
#include <QFrame>
#include <QString>

class CardStackWidget;
class Lattice;
class LatticeBall;
class QLabel;
class QSvgWidget;
class SpelledNote;

// One note card: the note of a sounding ball written on a small staff (clef,
// accidental and note head in the colour of the ball's highest prime), its
// letter, accidental and octave, its deviation in cents, the ratio of its
// path and the frequency it sounds at.
//
// Everything is worked out once, at construction, from the lattice and the
// settings of the application object; a card never refreshes. When the
// transposition changes, the ball widgets replace their cards instead.
//
// The card's size comes from adjustSize() and the style sheet; every resize
// lays the children out again against the contents rectangle, whose height
// sets the staff's line spacing (one eighth of it: the staff's five lines
// take the middle half, leaving two spaces above and below for ledger notes
// and the cents).
//
// GUI thread only.
class CardWidget : public QFrame
{
    Q_OBJECT

public:
    // Shows ball with the glyphs of stack, which becomes its parent.
    CardWidget(const LatticeBall* ball, CardStackWidget* stack);

    const LatticeBall* ball() const { return ball_; }
    // Where the note head sits: 0 is the top line, 4 the bottom one, in
    // steps of 0.5; always within -1 to 5 once the octave shift is applied.
    float staffPosition() const { return staffPosition_; }
    // Octaves the note is written below (positive) or above (negative) its
    // pitch to keep it near the staff.
    int octaveShift() const { return octaveShift_; }

    // The cents as the card writes them: rounded with qRound, so halves go
    // up (-0.5 gives 0), and "+" in front of 0 and above: "+0", "+13", "-31".
    static QString centsText(float cents);

    // Paints the black parts of an SVG glyph in the colour of the highest
    // prime among the lattice's transposition steps and ball's path steps
    // (the root's colour when there are none). Only "fill:#000000" and
    // "stroke:#000000" are recoloured, each occurrence once.
    static QByteArray recolorSvg(const QByteArray& data, const LatticeBall& ball,
                                 const Lattice& lattice);

protected:
    void enterEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void fillLabels(const SpelledNote& note, const QString& ratioText, float frequency);
    void showGlyphs(const SpelledNote& note, const CardStackWidget& stack, const Lattice& lattice);
    void placeOnStaff(const SpelledNote& note);
    // Lays out the staff glyphs; returns the note head's top.
    int layoutStaff(const QRect& contents);
    void layoutLabels(const QRect& contents, int noteTop);
    void paintStaff(QPainter& painter, const QRect& contents) const;

    // Children, in the order in which they are stacked.
    QSvgWidget* clef_;
    QSvgWidget* noteHead_;
    QSvgWidget* staffAccidental_;
    QLabel* noteLabel_;
    QSvgWidget* nameAccidental_;
    QLabel* octaveLabel_;
    QLabel* centsLabel_;
    QLabel* ratioLabel_;
    QLabel* freqLabel_;
    QLabel* octaveShiftLabel_;
    QLabel* enharmonicLabel_;

    float lineSpacing_ = 0.0f; // pixels between two staff lines; 0 before the first layout
    float staffPosition_ = 0.0f;
    int octaveShift_ = 0;
    bool hasAccidental_ = false;
    const LatticeBall* ball_;
};
