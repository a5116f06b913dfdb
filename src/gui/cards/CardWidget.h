#pragma once

#include "LatticeNoteEvent.h"
#include "LatticeRatio.h"

#include <QByteArray>
#include <QFrame>
#include <QList>
#include <QString>
#include <optional>

class CardStackWidget;
class HejiSpelling;
class Lattice;
class LatticeBall;
class QLabel;
class QMouseEvent;
class QSvgWidget;
class SpelledNote;

// One note card: the note of a sounding ball written on a small staff (clef,
// accidental and note head in the colour of the ball's highest prime), its
// letter, accidental and octave, its deviation in cents, the ratio of its
// path and the frequency it sounds at.
//
// With the settings' notation "heji" the card writes the note in the
// Helmholtz-Ellis notation (HejiSpelling): the accidental before the head
// and beside the letter is then a row of HejiGlyphs, four staff spaces high
// on the staff, and the cents measure from the notated pitch.
//
// A note can also sound with no ball on the lattice (a transposition took
// its ball away, or a wand tag played a path the tree does not hold). Its
// card is marked "off the lattice" (the offLattice property, for the style
// sheet), writes the note as if a ball stood at the path that leads to it
// from the transposed root, and releases the note when clicked.
//
// Everything is worked out once, at construction, from the lattice and the
// settings of the application object; a card never refreshes. When the
// transposition changes, the ball widgets and the stack replace their cards
// instead; when the notation changes, the stack does (rebuildCards).
//
// In a crowded stack the card below covers the lower part of this one. The
// stack says how much stays in sight (setShownHeight); when that is less
// than the full layout needs to show the name, cents and ratio, the card
// writes those three on one heading row at its top (headingHeight() high)
// and leaves out the staff and the frequency until it is uncovered again.
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
    // Shows the note that sounds at ratio (transposition included) with no
    // ball of lattice, with the glyphs of stack, which becomes its parent.
    CardWidget(const LatticeRatio& ratio, const Lattice& lattice, CardStackWidget* stack);

    // Null on a card off the lattice.
    const LatticeBall* ball() const { return ball_; }
    bool isOffLattice() const { return ball_ == nullptr; }
    // The ratio the note sounds at, transposition included.
    const LatticeRatio& soundingRatio() const { return soundingRatio_; }
    // What a click on a card off the lattice queues: the toggle of a path
    // whose ratio times the transposition is the note's, ending on an octave
    // or a fifth, which the screen never switches off (the player ignores a
    // toggle whose last prime is off). The invalid path when no path of six
    // steps leads there, and on every card of a ball; a click then does
    // nothing.
    const LatticeNoteEvent& releaseEvent() const { return releaseEvent_; }

    // Pixels of the card, from its top, that no other card covers; the whole
    // card until the stack says otherwise.
    void setShownHeight(int pixels);
    int shownHeight() const { return qMin(shownHeight_, height()); }
    // Pixels from the top that the heading row of a mostly covered card
    // needs.
    int headingHeight() const;
    bool showsHeading() const { return showsHeading_; }
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

    // The prime steps whose product is ratio: the odd primes first, largest
    // first, each step as often as its prime divides (negative for the
    // denominator), then the octaves that are left. Nothing when ratio has a
    // prime factor above 23 or is 0/1.
    static std::optional<QList<int>> stepsOf(const LatticeRatio& ratio);

protected:
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    explicit CardWidget(CardStackWidget* stack);
    // Everything a card shows, for the steps from the transposed root.
    void build(const QList<int>& steps, const LatticeRatio& pathRatio, const Lattice& lattice,
               const CardStackWidget& stack);
    void fillLabels(const SpelledNote& note, const QString& ratioText, float frequency);
    // With heji, the Helmholtz-Ellis accidentals instead of note's.
    void showGlyphs(const SpelledNote& note, const QByteArray& noteColor,
                    const CardStackWidget& stack, const HejiSpelling* heji = nullptr);
    void placeOnStaff(const SpelledNote& note);
    void relayout();
    // Lays out the staff glyphs; returns the note head's top.
    int layoutStaff(const QRect& contents);
    // Sizes both Helmholtz-Ellis accidentals, the staff's to fit room pixels
    // if it can; returns the staff one's width.
    int sizeHejiAccidentals(int room);
    void layoutLabels(const QRect& contents, int noteTop);
    // Name, cents and ratio on one row at the top, on their common baseline.
    void layoutHeading(const QRect& contents);
    void placeName(int left, int top);
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
    QLabel* offLatticeLabel_;

    float lineSpacing_ = 0.0f; // pixels between two staff lines; 0 before the first layout
    float staffPosition_ = 0.0f;
    int octaveShift_ = 0;
    bool hasAccidental_ = false;
    bool hejiAccidentals_ = false; // the accidentals are HejiGlyphs
    bool respelled_ = false;
    bool showsHeading_ = false;
    int shownHeight_ = QWIDGETSIZE_MAX;
    const LatticeBall* ball_;
    LatticeRatio soundingRatio_;
    LatticeNoteEvent releaseEvent_{LatticePath::invalid()};
};
