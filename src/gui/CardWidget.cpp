#include "CardWidget.h"

#include "CardStackWidget.h"
#include "Lattice.h"
#include "LatticeBall.h"
#include "SpelledNote.h"
#include "TuningLatticeApplication.h"

#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>
#include <QSvgWidget>
#include <initializer_list>

namespace {

// The staff is drawn this wide from the contents' left edge, in pixels; the
// clef, accidental and note head share the first 58 of it.
constexpr int staffWidth = 64;
constexpr int staffGroupWidth = 58;
// The note's name starts right of the staff.
constexpr int nameLeft = 70;
const QColor staffColor(170, 170, 170);

// A glyph's width over its height as drawn; 0 for an empty glyph, which
// then takes no room.
double proportion(const QSvgWidget* glyph)
{
    const QSvgRenderer* renderer = glyph->renderer();
    const QRectF box = renderer->viewBoxF();
    if (!renderer->isValid() || box.height() <= 0.0)
        return 0.0;
    return box.width() / box.height();
}

void showGlyph(QSvgWidget* widget, const QByteArray& data)
{
    // An empty glyph is left unloaded: the renderer would report a parse
    // error for every card.
    if (data.isEmpty()) {
        widget->resize(0, 0);
        return;
    }
    widget->load(data);
    widget->adjustSize();
}

// At its size hint, which follows the style sheet's font.
void placeLabel(QLabel* label, int x, int y)
{
    label->setGeometry(QRect(QPoint(x, y), label->sizeHint()));
}

QLabel* newLabel(const char* objectName, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(objectName));
    return label;
}

CardStackWidget::Glyph accidentalGlyph(int accidental)
{
    switch (accidental) {
    case -2:
        return CardStackWidget::DoubleFlat;
    case -1:
        return CardStackWidget::Flat;
    case 1:
        return CardStackWidget::Sharp;
    default:
        return CardStackWidget::DoubleSharp;
    }
}

} // namespace

CardWidget::CardWidget(const LatticeBall* ball, CardStackWidget* stack)
    : QFrame(stack), clef_(new QSvgWidget(this)), noteHead_(new QSvgWidget(this)),
      staffAccidental_(new QSvgWidget(this)), noteLabel_(newLabel("noteLabel", this)),
      nameAccidental_(new QSvgWidget(this)), octaveLabel_(newLabel("octaveLabel", this)),
      centsLabel_(newLabel("centsLabel", this)), ratioLabel_(newLabel("ratioLabel", this)),
      freqLabel_(newLabel("freqLabel", this)),
      octaveShiftLabel_(newLabel("octaveShiftLabel", this)),
      enharmonicLabel_(newLabel("enharmonicLabel", this)), ball_(ball)
{
    TuningLatticeApplication* app = TuningLatticeApplication::instance();
    const Lattice& lattice = app->lattice();
    const LatticeRatio ratio = ball->ratio().value_or(LatticeRatio());
    // In double before the single-precision frequency, so that a transposed
    // ratio too large for 64 bits cannot wrap.
    const float frequency =
        lattice.baseFrequency() *
        static_cast<float>(ratio.toDouble() * lattice.transposition().toDouble());
    const SpelledNote note = lattice.noteForBall(*ball, frequency, app->settings());

    fillLabels(note, ratio.toString(), frequency);
    showGlyphs(note, *stack, lattice);
    placeOnStaff(note);
}

QString CardWidget::centsText(float cents)
{
    const int rounded = qRound(cents);
    const QString number = QString::number(rounded);
    return rounded >= 0 ? QLatin1Char('+') + number : number;
}

QByteArray CardWidget::recolorSvg(const QByteArray& data, const LatticeBall& ball,
                                  const Lattice& lattice)
{
    int prime = 1;
    for (const int step : lattice.transposeSteps())
        prime = qMax(prime, qAbs(step));
    for (const int step : ball.path().toList())
        prime = qMax(prime, qAbs(step));
    const QColor color = lattice.colorForPrime(prime);
    const QByteArray hex = QStringLiteral("#%1%2%3")
                               .arg(color.red(), 2, 16, QLatin1Char('0'))
                               .arg(color.green(), 2, 16, QLatin1Char('0'))
                               .arg(color.blue(), 2, 16, QLatin1Char('0'))
                               .toLatin1();

    QByteArray result = data;
    for (const QByteArray& property : {QByteArray("fill:"), QByteArray("stroke:")}) {
        const QByteArray black = property + "#000000";
        for (int at = result.indexOf(black); at >= 0; at = result.indexOf(black, at + black.size()))
            result.replace(at + property.size(), hex.size(), hex);
    }
    return result;
}

void CardWidget::fillLabels(const SpelledNote& note, const QString& ratioText, float frequency)
{
    // The accidental is a glyph of its own beside the letter.
    noteLabel_->setText(note.letterName());
    octaveLabel_->setText(QString::number(note.octave));
    centsLabel_->setText(centsText(note.cents));
    ratioLabel_->setText(ratioText);
    freqLabel_->setText(QString::number(frequency, 'f', 3) + QStringLiteral(" Hz"));
    enharmonicLabel_->setText(QStringLiteral("enh"));
    enharmonicLabel_->setVisible(note.respelled);
    for (QLabel* label : {noteLabel_, octaveLabel_, centsLabel_, ratioLabel_, freqLabel_,
                          octaveShiftLabel_, enharmonicLabel_})
        label->adjustSize();
}

void CardWidget::showGlyphs(const SpelledNote& note, const CardStackWidget& stack,
                            const Lattice& lattice)
{
    showGlyph(clef_, stack.glyph(note.octave >= 4 ? CardStackWidget::TrebleClef
                                                  : CardStackWidget::BassClef));
    showGlyph(noteHead_, recolorSvg(stack.glyph(CardStackWidget::Note), *ball_, lattice));

    hasAccidental_ = note.accidental != 0;
    if (!hasAccidental_) {
        staffAccidental_->hide();
        nameAccidental_->hide();
        return;
    }
    const QByteArray& accidental = stack.glyph(accidentalGlyph(note.accidental));
    showGlyph(nameAccidental_, accidental);
    showGlyph(staffAccidental_, recolorSvg(accidental, *ball_, lattice));
}

// Notes from octave 4 up take the treble clef, lower ones the bass clef; E4
// and G2 fall on the bottom line, F5 and A3 on the top one. A note more than
// one ledger line away is written an octave (or more) nearer and marked 8,
// 15, 22 ... over or under the clef.
void CardWidget::placeOnStaff(const SpelledNote& note)
{
    const float letterStep = note.letter / 2.0f;
    staffPosition_ = note.octave >= 4 ? 1.5f - letterStep + (5 - note.octave) * 3.5f
                                      : 2.5f - letterStep + (3 - note.octave) * 3.5f;
    octaveShift_ = 0;
    while (staffPosition_ < -1.0f) {
        staffPosition_ += 3.5f;
        ++octaveShift_;
    }
    while (staffPosition_ > 5.0f) {
        staffPosition_ -= 3.5f;
        --octaveShift_;
    }
    if (octaveShift_ != 0) {
        octaveShiftLabel_->setText(QString::number((qAbs(octaveShift_) - 1) * 7 + 8));
        octaveShiftLabel_->adjustSize();
    }
}

void CardWidget::enterEvent(QEvent* event)
{
    QFrame::enterEvent(event);
    raise();
}

void CardWidget::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    // Lets the style sheet's background and border show on this subclass.
    QStyleOption option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    paintStaff(painter, contentsRect());
}

void CardWidget::paintStaff(QPainter& painter, const QRect& contents) const
{
    painter.setPen(QPen(staffColor, 1, Qt::SolidLine));
    const float s = lineSpacing_;
    for (int k = 2; k <= 6; ++k) {
        const int y = qRound(contents.top() + k * s);
        painter.drawLine(contents.left(), y, contents.left() + staffWidth, y);
    }
    // After the octave shift at most one ledger line is left to draw.
    const int left = noteHead_->x() - 4;
    const int right = noteHead_->x() + noteHead_->width() + 4;
    const auto drawLedger = [&](int k) {
        const int y = qRound(qRound(k + 2.0f) * s + contents.top());
        painter.drawLine(left, y, right, y);
    };
    for (int k = 5; k <= staffPosition_; ++k)
        drawLedger(k);
    for (int k = -1; k >= staffPosition_; --k)
        drawLedger(k);
}

void CardWidget::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    const QRect contents = contentsRect();
    lineSpacing_ = contents.height() * 0.125f;
    const int noteTop = layoutStaff(contents);
    layoutLabels(contents, noteTop);
}

int CardWidget::layoutStaff(const QRect& contents)
{
    const float s = lineSpacing_;
    const int height = contents.height();
    const int clefWidth = qRound(proportion(clef_) * height);
    clef_->setGeometry(contents.left(), contents.top(), clefWidth, height);

    // A head a pixel taller than a space covers the lines it sits between.
    const int noteHeight = int(s + 1.0f);
    const int noteWidth = qRound(proportion(noteHead_) * noteHeight);
    int accidentalWidth = 0;
    if (hasAccidental_) {
        const int accidentalHeight = qRound(3.0f * s);
        accidentalWidth = qRound(proportion(staffAccidental_) * accidentalHeight);
        staffAccidental_->resize(accidentalWidth, accidentalHeight);
        nameAccidental_->resize(int(0.9 * accidentalWidth), int(0.9 * accidentalHeight));
    }

    // Accidental and head centred in the room right of the clef; the head
    // centred on its line or space, the accidental's three spaces on the head.
    const int groupLeft = contents.left() + clefWidth + 3 +
                          qRound(0.5 * (staffGroupWidth - clefWidth - noteWidth - accidentalWidth));
    const int noteTop = qRound(contents.top() + (staffPosition_ + 2.0f) * s - 0.5 * noteHeight);
    int noteLeft = groupLeft;
    if (hasAccidental_) {
        staffAccidental_->move(groupLeft, int(noteTop - s));
        noteLeft = groupLeft + accidentalWidth + 2;
    }
    noteHead_->setGeometry(noteLeft, noteTop, noteWidth, noteHeight);
    return noteTop;
}

void CardWidget::layoutLabels(const QRect& contents, int noteTop)
{
    const int top = contents.top();
    const int right = contents.left() + contents.width();
    const int bottom = contents.top() + contents.height();

    // Cents over the staff when sharp or exact, under it when flat.
    const QSize centsSize = centsLabel_->sizeHint();
    const int centsX = qRound(noteHead_->x() + (noteHead_->width() - centsSize.width()) / 2.0);
    const int centsY =
        centsLabel_->text().startsWith(QLatin1Char('+'))
            ? qMin(noteTop - centsSize.height() - 3, top - 3)
            : qMax(noteHead_->y() + noteHead_->height() + 3, bottom - centsSize.height() + 3);
    placeLabel(centsLabel_, centsX, centsY);

    placeLabel(noteLabel_, contents.left() + nameLeft, top);
    const int nameRight = noteLabel_->x() + noteLabel_->width();
    if (hasAccidental_) {
        nameAccidental_->move(nameRight + 1, top);
        placeLabel(octaveLabel_, nameAccidental_->x() + nameAccidental_->width() + 2, top);
    } else {
        placeLabel(octaveLabel_, nameRight, top);
    }
    placeLabel(enharmonicLabel_, right - enharmonicLabel_->sizeHint().width(), top);
    placeLabel(ratioLabel_, noteLabel_->x(), top + noteLabel_->height() + 13);
    placeLabel(freqLabel_, noteLabel_->x(), ratioLabel_->y() + ratioLabel_->height());

    if (octaveShift_ == 0)
        return;
    // Over the clef when the note is written lower than it sounds, under it
    // (a little to the left) when higher.
    const QSize shiftSize = octaveShiftLabel_->sizeHint();
    const int shiftX = clef_->x() + qRound((clef_->width() - shiftSize.width()) * 0.5);
    if (octaveShift_ > 0)
        placeLabel(octaveShiftLabel_, shiftX, 8);
    else
        placeLabel(octaveShiftLabel_, shiftX - 9, 52);
}
