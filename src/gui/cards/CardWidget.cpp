#include "CardWidget.h"

#include "CardStackWidget.h"
#include "HejiGlyphs.h"
#include "HejiSpelling.h"
#include "Lattice.h"
#include "LatticeBall.h"
#include "Settings.h"
#include "SpelledNote.h"
#include "TuningLatticeApplication.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>
#include <QSvgWidget>
#include <initializer_list>
#include <limits>

namespace {

// The staff is drawn this wide from the contents' left edge, in pixels; the
// clef, accidental and note head share the first 58 of it.
constexpr int staffWidth = 64;
constexpr int staffGroupWidth = 58;
// The note's name starts right of the staff.
constexpr int nameLeft = 70;
const QColor staffColor(170, 170, 170);
// Pixels between the name, the cents and the ratio on a heading row.
constexpr int headingGap = 7;
// Pixels kept between the octave shift mark and the staff or the clef.
constexpr int shiftClearance = 2;
// How far the bass clef's foot reaches below the bottom line, in spaces.
constexpr float bassClefFoot = 0.15f;
// A row of Helmholtz-Ellis accidentals too wide for the room before the note
// head is drawn smaller, down to this share of its size, then passes over
// the clef.
constexpr float hejiLeastScale = 0.6f;

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

// The colour of the highest prime among the steps, the root's colour when
// there are none, as the "#rrggbb" an SVG style takes.
QByteArray colorOfSteps(const QList<int>& steps, const Lattice& lattice)
{
    int prime = 1;
    for (const int step : steps)
        prime = qMax(prime, qAbs(step));
    const QColor color = lattice.colorForPrime(prime);
    return QStringLiteral("#%1%2%3")
        .arg(color.red(), 2, 16, QLatin1Char('0'))
        .arg(color.green(), 2, 16, QLatin1Char('0'))
        .arg(color.blue(), 2, 16, QLatin1Char('0'))
        .toLatin1();
}

QByteArray paintBlack(const QByteArray& data, const QByteArray& hex)
{
    QByteArray result = data;
    for (const QByteArray& property : {QByteArray("fill:"), QByteArray("stroke:")}) {
        const QByteArray black = property + "#000000";
        for (int at = result.indexOf(black); at >= 0; at = result.indexOf(black, at + black.size()))
            result.replace(at + property.size(), hex.size(), hex);
    }
    return result;
}

// The path a card off the lattice toggles to release its note: the steps
// (which end on their octaves, or else their smallest prime), and when they
// end on neither an octave nor a fifth, an octave up and down again, so that
// a prime switched off meanwhile cannot stop the release.
LatticePath releasePath(const QList<int>& steps)
{
    QList<int> path = steps;
    const int last = path.isEmpty() ? 0 : qAbs(path.last());
    if (last > 3)
        path << 2 << -2;
    if (path.size() > LatticePath::maxSteps)
        return LatticePath::invalid();
    LatticePath result;
    for (const int step : qAsConst(path))
        result.append(step);
    return result;
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

// The children, before either kind of card fills them.
CardWidget::CardWidget(CardStackWidget* stack)
    : QFrame(stack), clef_(new QSvgWidget(this)), noteHead_(new QSvgWidget(this)),
      staffAccidental_(new QSvgWidget(this)), noteLabel_(newLabel("noteLabel", this)),
      nameAccidental_(new QSvgWidget(this)), octaveLabel_(newLabel("octaveLabel", this)),
      centsLabel_(newLabel("centsLabel", this)), ratioLabel_(newLabel("ratioLabel", this)),
      freqLabel_(newLabel("freqLabel", this)),
      octaveShiftLabel_(newLabel("octaveShiftLabel", this)),
      enharmonicLabel_(newLabel("enharmonicLabel", this)),
      offLatticeLabel_(newLabel("offLatticeLabel", this)), ball_(nullptr)
{
}

CardWidget::CardWidget(const LatticeBall* ball, CardStackWidget* stack) : CardWidget(stack)
{
    ball_ = ball;
    const Lattice& lattice = TuningLatticeApplication::instance()->lattice();
    const LatticeRatio ratio = ball->ratio().value_or(LatticeRatio());
    // Balls whose transposed ratio would not fit are left out of the index,
    // so a ball that sounds has one that fits.
    soundingRatio_ = ratio * lattice.transposition();
    build(ball->path().toList(), ratio, lattice, *stack);
    offLatticeLabel_->hide();
}

CardWidget::CardWidget(const LatticeRatio& ratio, const Lattice& lattice, CardStackWidget* stack)
    : CardWidget(stack)
{
    soundingRatio_ = ratio;
    setProperty("offLattice", true);
    offLatticeLabel_->setText(QStringLiteral("off the lattice"));
    offLatticeLabel_->adjustSize();
    // The player sounds products of prime steps only, and so is the
    // transposition; the quotient has steps unless it is too large for 64
    // bits, and then the note is written from the 1/1 without the
    // transposition, which no click can reach either.
    const LatticeRatio transposition = lattice.transposition();
    std::optional<QList<int>> steps;
    if (transposition.reciprocal().canMultiplyWith(ratio))
        steps = stepsOf(ratio * transposition.reciprocal());
    if (steps) {
        releaseEvent_ = LatticeNoteEvent(releasePath(*steps));
        build(*steps, ratio * transposition.reciprocal(), lattice, *stack);
        return;
    }
    build(stepsOf(ratio).value_or(QList<int>()), ratio, lattice, *stack);
}

void CardWidget::build(const QList<int>& steps, const LatticeRatio& pathRatio,
                       const Lattice& lattice, const CardStackWidget& stack)
{
    const Settings& settings = TuningLatticeApplication::instance()->settings();
    // In double before the single-precision frequency, so that a transposed
    // ratio too large for 64 bits cannot wrap.
    const float frequency =
        lattice.baseFrequency() *
        static_cast<float>(pathRatio.toDouble() * lattice.transposition().toDouble());
    const QList<int> allSteps = lattice.transposeSteps() + steps;
    const QByteArray color = colorOfSteps(allSteps, lattice);

    if (settings.notation == QLatin1String("heji")) {
        const HejiSpelling heji = spellHejiNote(
            settings.baseFrequency, settings.calibrationFrequency, allSteps,
            lattice.baseFrequency() * pathRatio.toDouble() * lattice.transposition().toDouble());
        fillLabels(heji.note, pathRatio.toString(), frequency);
        showGlyphs(heji.note, color, stack, &heji);
        placeOnStaff(heji.note);
        return;
    }
    const SpelledNote note = spellLatticeNote(settings.baseFrequency, settings.calibrationFrequency,
                                              allSteps, frequency);
    fillLabels(note, pathRatio.toString(), frequency);
    showGlyphs(note, color, stack);
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
    return paintBlack(data, colorOfSteps(lattice.transposeSteps() + ball.path().toList(), lattice));
}

std::optional<QList<int>> CardWidget::stepsOf(const LatticeRatio& ratio)
{
    if (ratio.numerator() == 0)
        return std::nullopt;
    std::uint64_t numerator = ratio.numerator();
    std::uint64_t denominator = ratio.denominator();
    const auto exponentOf = [](std::uint64_t& value, std::uint64_t prime) {
        int exponent = 0;
        for (; value % prime == 0; value /= prime)
            ++exponent;
        return exponent;
    };
    QList<int> steps;
    // A step of prime p multiplies by p over the largest power of two below
    // it; the octaves make up for those powers at the end.
    int octaves = exponentOf(numerator, 2) - exponentOf(denominator, 2);
    for (const int prime : {23, 19, 17, 13, 11, 7, 5, 3}) {
        const int exponent = exponentOf(numerator, prime) - exponentOf(denominator, prime);
        int powerOfTwo = 0;
        while ((2 << powerOfTwo) <= prime)
            ++powerOfTwo;
        octaves += exponent * powerOfTwo;
        for (int i = 0; i < qAbs(exponent); ++i)
            steps.append(exponent > 0 ? prime : -prime);
    }
    if (numerator != 1 || denominator != 1)
        return std::nullopt;
    for (int i = 0; i < qAbs(octaves); ++i)
        steps.append(octaves > 0 ? 2 : -2);
    return steps;
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
    respelled_ = note.respelled;
    for (QLabel* label : {noteLabel_, octaveLabel_, centsLabel_, ratioLabel_, freqLabel_,
                          octaveShiftLabel_, enharmonicLabel_})
        label->adjustSize();
}

void CardWidget::showGlyphs(const SpelledNote& note, const QByteArray& noteColor,
                            const CardStackWidget& stack, const HejiSpelling* heji)
{
    showGlyph(clef_, stack.glyph(note.octave >= 4 ? CardStackWidget::TrebleClef
                                                  : CardStackWidget::BassClef));
    showGlyph(noteHead_, paintBlack(stack.glyph(CardStackWidget::Note), noteColor));

    hejiAccidentals_ = heji != nullptr;
    hasAccidental_ = heji ? !HejiGlyphs::names(*heji).isEmpty() : note.accidental != 0;
    if (!hasAccidental_)
        return;
    const QByteArray accidental =
        heji ? stack.hejiAccidentals(*heji) : stack.glyph(accidentalGlyph(note.accidental));
    showGlyph(nameAccidental_, accidental);
    showGlyph(staffAccidental_, paintBlack(accidental, noteColor));
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

void CardWidget::setShownHeight(int pixels)
{
    if (pixels == shownHeight_)
        return;
    shownHeight_ = pixels;
    relayout();
}

int CardWidget::headingHeight() const
{
    return contentsRect().top() + noteLabel_->sizeHint().height();
}

// Brought in front and shown whole while the pointer is on it; the stack
// puts it back when the pointer leaves.
void CardWidget::enterEvent(QEvent* event)
{
    QFrame::enterEvent(event);
    raise();
    setShownHeight(QWIDGETSIZE_MAX);
}

void CardWidget::leaveEvent(QEvent* event)
{
    QFrame::leaveEvent(event);
    if (auto* stack = qobject_cast<CardStackWidget*>(parentWidget()))
        stack->updatePositions();
}

void CardWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !releaseEvent_.path().isValid()) {
        QFrame::mousePressEvent(event);
        return;
    }
    // The player copies the event at once. The card goes when the player
    // reports the note off.
    TuningLatticeApplication::instance()->player().queueEventGui(&releaseEvent_);
    event->accept();
}

// The first press of a double click has released the note already; a second
// toggle would sound it again.
void CardWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
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
    if (showsHeading_)
        return;
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
    relayout();
}

// The full layout first: whether it shows the name, cents and ratio within
// the shown height decides whether the heading row replaces it.
void CardWidget::relayout()
{
    const QRect contents = contentsRect();
    lineSpacing_ = contents.height() * 0.125f;
    const int noteTop = layoutStaff(contents);
    layoutLabels(contents, noteTop);
    // The cents under the staff may reach into the frame.
    int needed = 0;
    for (const QLabel* label : {noteLabel_, octaveLabel_, centsLabel_, ratioLabel_})
        needed = qMax(needed, qMin(height(), label->geometry().bottom() + 1));
    showsHeading_ = shownHeight() < needed;
    if (showsHeading_)
        layoutHeading(contents);

    const bool staff = !showsHeading_;
    clef_->setVisible(staff);
    noteHead_->setVisible(staff);
    staffAccidental_->setVisible(staff && hasAccidental_);
    nameAccidental_->setVisible(hasAccidental_);
    freqLabel_->setVisible(staff);
    octaveShiftLabel_->setVisible(staff && octaveShift_ != 0);
    enharmonicLabel_->setVisible(staff && respelled_);
    offLatticeLabel_->setVisible(staff && isOffLattice());
    update();
}

void CardWidget::layoutHeading(const QRect& contents)
{
    placeName(contents.left(), contents.top());
    const int baseline = noteLabel_->y() + noteLabel_->fontMetrics().ascent();
    int x = octaveLabel_->x() + octaveLabel_->width() + headingGap;
    for (QLabel* label : {centsLabel_, ratioLabel_}) {
        placeLabel(label, x, baseline - label->fontMetrics().ascent());
        x += label->width() + headingGap;
    }
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
    if (hasAccidental_ && hejiAccidentals_) {
        accidentalWidth = sizeHejiAccidentals(staffGroupWidth - clefWidth - noteWidth - 2);
    } else if (hasAccidental_) {
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
        // Helmholtz-Ellis glyphs are centred on the head, but kept on the
        // card for a head on a ledger line, so that no arrow is cut off; the
        // others' three spaces start a space above the head.
        const int hejiTop = qRound(noteTop + 0.5 * (noteHeight - staffAccidental_->height()));
        const int accidentalTop =
            hejiAccidentals_ ? qBound(0, hejiTop, rect().height() - staffAccidental_->height())
                             : int(noteTop - s);
        staffAccidental_->move(groupLeft, accidentalTop);
        noteLeft = groupLeft + accidentalWidth + 2;
    }
    noteHead_->setGeometry(noteLeft, noteTop, noteWidth, noteHeight);
    return noteTop;
}

int CardWidget::sizeHejiAccidentals(int room)
{
    const float s = lineSpacing_;
    const double proportionOnStaff = proportion(staffAccidental_);
    double height = HejiGlyphs::spaces * s;
    if (proportionOnStaff * height > room)
        height = qMax(double(hejiLeastScale) * height, room / proportionOnStaff);
    const int width = qRound(proportionOnStaff * height);
    staffAccidental_->resize(width, qRound(height));
    // Beside the name as high as the others there, so that the arrows stay
    // clear of the lines below the name.
    const int nameHeight = int(0.9 * qRound(3.0f * s));
    nameAccidental_->resize(qRound(proportion(nameAccidental_) * nameHeight), nameHeight);
    return width;
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

    placeName(contents.left() + nameLeft, top);
    placeLabel(enharmonicLabel_, right - enharmonicLabel_->sizeHint().width(), top);
    const int nameBottom = noteLabel_->y() + noteLabel_->height();
    placeLabel(offLatticeLabel_, noteLabel_->x(), nameBottom);
    placeLabel(ratioLabel_, noteLabel_->x(), nameBottom + 13);
    placeLabel(freqLabel_, noteLabel_->x(), ratioLabel_->y() + ratioLabel_->height());

    if (octaveShift_ == 0)
        return;
    // Over the clef when the note is written lower than it sounds: only the
    // treble clef is, and its top curl leans right, leaving the corner over
    // the staff free. Under it when higher: only the bass clef is, whose
    // foot ends just below the bottom line.
    const QSize shiftSize = octaveShiftLabel_->sizeHint();
    if (octaveShift_ > 0) {
        const int topLine = qRound(top + 2.0f * lineSpacing_);
        placeLabel(octaveShiftLabel_, clef_->x(),
                   qMax(0, topLine - shiftClearance - shiftSize.height()));
    } else {
        const int footY = qRound(top + (6.0f + bassClefFoot) * lineSpacing_);
        placeLabel(octaveShiftLabel_,
                   clef_->x() + qRound((clef_->width() - shiftSize.width()) * 0.5),
                   footY + shiftClearance);
    }
}

void CardWidget::placeName(int left, int top)
{
    placeLabel(noteLabel_, left, top);
    const int nameRight = noteLabel_->x() + noteLabel_->width();
    if (hasAccidental_) {
        nameAccidental_->move(nameRight + 1, top);
        placeLabel(octaveLabel_, nameAccidental_->x() + nameAccidental_->width() + 2, top);
    } else {
        placeLabel(octaveLabel_, nameRight, top);
    }
}
