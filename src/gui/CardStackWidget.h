#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QWidget>
#include <array>

class CardConnectorOverlay;
class CardWidget;
class LatticeBallWidget;
class LatticeView;

// The column of note cards to the right of a lattice view: one card for each
// sounding, enabled ball, each at the height of its ball and clamped into
// the view's height. It creates, places, raises and deletes the cards for
// the ball widgets that drive it, and holds the SVG glyphs the cards draw.
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
    // Pixels kept free below the lowest card.
    void setMargin(int pixels) { margin_ = pixels; }
    // The card shown for ballWidget, or null.
    CardWidget* card(LatticeBallWidget* ballWidget) const { return cards_.value(ballWidget); }
    int cardCount() const { return cards_.size(); }

    // Shows a new card for ballWidget's ball beside it.
    void addCard(LatticeBallWidget* ballWidget);
    void removeCard(LatticeBallWidget* ballWidget);
    // Brings ballWidget's card in front of the others, if it has one.
    void raiseCard(LatticeBallWidget* ballWidget);
    // Moves card to the height of ballWidget in the view, kept between the
    // top of the view and margin pixels above its bottom.
    void positionCard(LatticeBallWidget* ballWidget, CardWidget* card);

public slots:
    void updatePositions();

private slots:
    void onBallWidgetDestroyed(QObject* object);

private:
    QHash<LatticeBallWidget*, CardWidget*> cards_;
    std::array<QByteArray, GlyphCount> glyphs_;
    int margin_ = 0;
    CardConnectorOverlay* overlay_ = nullptr;
    LatticeView* view_ = nullptr;
};
