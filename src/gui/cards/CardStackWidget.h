#pragma once

#include "LatticeRatio.h"

#include <QByteArray>
#include <QHash>
#include <QPointer>
#include <QString>
#include <QVector>
#include <QWidget>
#include <array>

class CardConnectorOverlay;
class CardWidget;
class HejiSpelling;
class Lattice;
class LatticeBallWidget;
class LatticeView;

// The column of note cards to the right of a lattice view: one card for each
// sounding, enabled ball, and one for each sounding ratio that no ball of
// the view sounds (off the lattice). It creates, places, raises and deletes
// the cards for the ball widgets that drive it and for the lattice it
// follows, and holds the SVG glyphs the cards draw.
//
// Cards stand in the order of their balls' heights, each as near to the
// height of its ball as the others allow; cards off the lattice, which have
// no ball, sink to the bottom, higher notes above lower ones. When the
// column has room, cards do not overlap. When it has not, each card covers
// the lower part of the one above it, all by the same amount, leaving at
// least each card's heading (name, cents and ratio) in sight; only when
// even the headings do not fit do the cards share the column equally. The
// layout is redone on every card added or removed and on every resize of
// the view.
//
// Adding is idempotent in effect: a second addCard for the same ball widget
// replaces its card with a fresh one, so no ball ever shows two cards. Removing
// a card that is not there does nothing, and a ball widget that is destroyed
// takes its card with it.
//
// The glyphs are read once per folder and then shared by every stack, so a
// missing file is reported once even though each lattice look has a stack.
//
// GUI thread only.
class CardStackWidget : public QWidget
{
    Q_OBJECT

public:
    // The glyphs in the order in which they are loaded.
    enum Glyph
    {
        TrebleClef,
        BassClef,
        DoubleFlat,
        Flat,
        Sharp,
        DoubleSharp,
        Note,
        GlyphCount
    };

    explicit CardStackWidget(QWidget* parent = nullptr);

    // Follows view's resizes, draws the guide lines through overlay, and
    // loads the glyphs.
    void init(CardConnectorOverlay* overlay, LatticeView* view);
    // Reads the seven glyph files from the program's folder (the application
    // object's resource directory); a missing file leaves its glyph empty.
    void loadGlyphs();
    // Reads fileName from the program's folder into data. When the file
    // cannot be read, data is left empty, "Failed to load <fileName>." is
    // logged as critical and the result is false.
    static bool loadSvgFile(const QString& fileName, QByteArray& data);

    // The SVG text of a glyph, empty when its file was missing.
    const QByteArray& glyph(Glyph which) const { return glyphs_[which]; }
    // The Helmholtz-Ellis accidentals of a note as one SVG (HejiGlyphs),
    // from the "heji" folder beside the other glyphs. Each file is read when
    // a card first needs it and then shared; a missing one is reported once,
    // as the others are, and left out. Empty for a note with none.
    QByteArray hejiAccidentals(const HejiSpelling& spelling) const;
    // Pixels kept free below the lowest card.
    void setMargin(int pixels) { margin_ = pixels; }
    // The card shown for ballWidget, or null.
    CardWidget* card(LatticeBallWidget* ballWidget) const { return cards_.value(ballWidget); }
    // The card shown for ratio off the lattice, or null.
    CardWidget* offLatticeCard(const LatticeRatio& ratio) const
    {
        return offLatticeCards_.value(ratio);
    }
    // Cards of balls and cards off the lattice.
    int cardCount() const { return cards_.size() + offLatticeCards_.size(); }

    // Shows a new card for ballWidget's ball beside it.
    void addCard(LatticeBallWidget* ballWidget);
    void removeCard(LatticeBallWidget* ballWidget);
    // Brings ballWidget's card in front of the others and shows it whole, if
    // it has one, until the next layout.
    void raiseCard(LatticeBallWidget* ballWidget);

    // Keeps a card for every ratio that lattice reports sounding and no
    // drawn ball of the view sounds, from now on; the lattice widget calls
    // it once its balls are in the scene.
    void followLattice(Lattice* lattice);

    // Tops for cards cardHeight high, in order from the top, that want to
    // stand at wanted tops, in a column from 0 to bottom: each card at least
    // cardHeight + gap below the one before it when they all fit so, else
    // the same distance, at least headingHeight, for all; else as much as
    // the column allows. Runs of cards pressed together are placed at the
    // mean of their wanted places, kept in the column.
    static QVector<int> stackTops(const QVector<int>& wanted, int cardHeight, int headingHeight,
                                  int bottom);

public slots:
    // Places, stacks and uncovers the cards anew.
    void updatePositions();
    // Adds and removes cards off the lattice to match the lattice's sounding
    // ratios; with replace, rebuilds all of them (after a transposition,
    // which changes how they are written and reached).
    void syncOffLatticeCards(bool replace = false);
    // Replaces every card with a fresh one, which reads the settings anew
    // (after the notation changed).
    void rebuildCards();

private slots:
    void onBallWidgetDestroyed(QObject* object);

private:
    bool soundsOffTheView(const LatticeRatio& ratio) const;
    void removeOffLatticeCard(const LatticeRatio& ratio);

    QHash<LatticeBallWidget*, CardWidget*> cards_;
    QHash<LatticeRatio, CardWidget*> offLatticeCards_;
    QPointer<Lattice> lattice_;
    std::array<QByteArray, GlyphCount> glyphs_;
    int margin_ = 0;
    CardConnectorOverlay* overlay_ = nullptr;
    LatticeView* view_ = nullptr;
};
