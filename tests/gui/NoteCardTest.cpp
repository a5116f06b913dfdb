// The note cards: what a card writes for a ball and where on the staff, and
// how the stack places cards beside a lattice layer. The test glyphs are
// black rectangles whose viewBox width is their glyph index + 1.

#include "CardConnectorOverlay.h"
#include "CardStackWidget.h"
#include "CardWidget.h"
#include "LatticeBall.h"
#include "LatticeBallWidget.h"
#include "LatticeLayer.h"
#include "LatticeView.h"
#include "LatticeWidget.h"
#include "LogCapture.h"
#include "TuningLatticeApplication.h"

#include <QLabel>
#include <QSvgRenderer>
#include <QSvgWidget>
#include <QtTest>
#include <memory>

namespace {

const QColor staffColor(170, 170, 170);

void writeGlyphs(const QString& folder, int skipped = -1)
{
    const char* const names[] = {"trebleclef", "bassclef",    "doubleflat", "flat",
                                 "sharp",      "doublesharp", "note"};
    QDir().mkpath(folder);
    for (int i = 0; i < CardStackWidget::GlyphCount; ++i) {
        QFile file(QStringLiteral("%1/%2.svg").arg(folder, names[i]));
        if (i == skipped)
            continue;
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %1 10\">"
                                  "<rect width=\"%1\" height=\"10\" style=\"fill:#000000\"/></svg>")
                       .arg(i + 1)
                       .toLatin1());
    }
}

// The glyph a widget shows, or -1 for none.
int shownGlyph(const QSvgWidget* widget)
{
    return widget->renderer()->isValid() ? qRound(widget->renderer()->viewBoxF().width()) - 1 : -1;
}

// 0 clef, 1 note head, 2 staff accidental, 3 name accidental.
QSvgWidget* svg(const CardWidget* card, int index)
{
    return card->findChildren<QSvgWidget*>().at(index);
}

QLabel* label(const CardWidget* card, const char* name)
{
    return card->findChild<QLabel*>(QLatin1String(name));
}

// "G##5 -41 125/64 859.375 Hz", the accidental read from the glyph beside
// the letter, and " enh" when that label shows.
QString cardText(const CardWidget* card)
{
    const char* const accidentals[] = {"", "", "bb", "b", "#", "##", ""};
    const QSvgWidget* accidental = svg(card, 3);
    QStringList texts{
        label(card, "noteLabel")->text() +
        (accidental->isVisible() ? accidentals[qMax(0, shownGlyph(accidental))] : "") +
        label(card, "octaveLabel")->text()};
    for (const char* name : {"centsLabel", "ratioLabel", "freqLabel"})
        texts.append(label(card, name)->text());
    if (label(card, "enharmonicLabel")->isVisible())
        texts.append(QStringLiteral("enh"));
    return texts.join(QLatin1Char(' '));
}

} // namespace

class NoteCardTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        app->lattice().setDefaults();
        writeGlyphs(scratch.filePath("glyphs"));
    }

    void init()
    {
        app->setResourceDirectory(scratch.filePath("glyphs"));
        stack = std::make_unique<CardStackWidget>();
        // The octave mark's size as the program's style sheet gives it.
        stack->setStyleSheet(QStringLiteral("QLabel#octaveShiftLabel { font-size: 7pt; }"));
        stack->loadGlyphs();
        stack->show();
    }

    void cleanup()
    {
        stack.reset();
        app->lattice().onTransposed(LatticeRatio(1), 0);
    }

    void writesTheNoteOnTheStaff_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("staff"); // clef and staff position
        QTest::addColumn<QString>("shift"); // octave shift label, over or under the clef
        QTest::addColumn<int>("ledger");    // staff position of the ledger line drawn, 0 for none
        const auto row = [](const char* name, const char* path, const char* text, const char* staff,
                            const char* shift, int ledger) {
            QTest::newRow(name) << path << text << staff << shift << ledger;
        };
        row("A3 on the top line", "/-2", "A3 +0 1/2 220.000 Hz", "bass 0", "", 0);
        row("A5 over a ledger line", "/2", "A5 +0 2/1 880.000 Hz", "treble -1", "", -1);
        row("C4 on a ledger line", "/-2/3/-5", "C4 +16 3/5 264.000 Hz", "treble 5", "", 5);
        row("C7", "/2/2/3/-5", "C7 +16 24/5 2112.000 Hz", "treble 1.5", "15 over", 0);
        row("C2", "/-2/-2/-2/3/-5", "C2 +16 3/20 66.000 Hz", "bass 2.5", "8 under", 0);
        row("double flat", "/-5/-5/-5", "Bbb3 +41 64/125 225.280 Hz", "bass -0.5", "", 0);
        row("sharp", "/5", "C#5 -14 5/4 550.000 Hz", "treble 1.5", "", 0);
        row("double sharp", "/5/5/5", "G##5 -41 125/64 859.375 Hz", "treble -0.5", "", 0);
        row("respelled", "/11/11/11", "D6 -46 1331/512 1143.828 Hz enh", "treble 1", "8 over", 0);
    }

    void writesTheNoteOnTheStaff()
    {
        QFETCH(QString, path);
        QFETCH(QString, text);
        QFETCH(QString, staff);
        QFETCH(QString, shift);
        QFETCH(int, ledger);
        CardWidget* card = showCard(path);
        QCOMPARE(cardText(card), text);
        QCOMPARE(shownGlyph(svg(card, 0)), staff.startsWith("treble") ? CardStackWidget::TrebleClef
                                                                      : CardStackWidget::BassClef);
        const QWidget* head = svg(card, 1);
        const float position = staff.section(QLatin1Char(' '), 1).toFloat();
        QVERIFY(qAbs(head->geometry().center().y() - (position + 2) * 10) <= 1);
        // Sharp and exact cents over the staff, flat ones under it.
        const QLabel* cents = label(card, "centsLabel");
        QVERIFY(cents->text().startsWith('+') ? cents->geometry().bottom() < 20 : cents->y() > 60);
        // The octave mark clear of the staff's outer lines and of the bass clef's foot.
        const QLabel* octaveShift = label(card, "octaveShiftLabel");
        QCOMPARE(octaveShift->text(), shift.section(QLatin1Char(' '), 0, 0));
        if (!shift.isEmpty())
            QVERIFY(shift.endsWith("over") ? octaveShift->geometry().bottom() < 20
                                           : octaveShift->y() > 62);

        label(card, "centsLabel")->hide(); // its text may cross where a ledger line would be
        const QImage image = card->grab().toImage();
        for (const int line : {-1, 5})
            QCOMPARE(image.pixelColor(head->x() - 2, (line + 2) * 10) == staffColor,
                     line == ledger);

        // Before the head the letter's accidental, coloured like the head (every
        // accidental here comes from steps of 5).
        const QSvgWidget* accidental = svg(card, 2);
        QCOMPARE(accidental->isVisible(), svg(card, 3)->isVisible());
        if (accidental->isVisible()) {
            QCOMPARE(shownGlyph(accidental), shownGlyph(svg(card, 3)));
            QVERIFY(accidental->geometry().right() < head->x());
            const auto centre = [&image](const QWidget* w) {
                return image.pixelColor(w->geometry().center());
            };
            QCOMPARE(centre(accidental), app->lattice().colorForPrime(5));
            QCOMPARE(centre(head), app->lattice().colorForPrime(5));
            QCOMPARE(centre(svg(card, 3)), QColor(Qt::black));
        }
    }

    void roundsCentsHalvesUp()
    {
        QCOMPARE(CardWidget::centsText(-0.5f), "+0");
        QCOMPARE(CardWidget::centsText(-0.6f), "-1");
        QCOMPARE(CardWidget::centsText(13.5f), "+14");
    }

    // Every exact black fill and stroke takes the colour of the highest prime of
    // the ball's path and the transposition; nothing else changes.
    void recolorsOnlyBlackFillsAndStrokes()
    {
        Lattice& lattice = app->lattice();
        const auto recolored = [&lattice](const char* path, const QByteArray& svg) {
            const LatticeBall ball(lattice, LatticePath(QLatin1String(path)), QColor(), nullptr);
            return CardWidget::recolorSvg(svg, ball, lattice);
        };
        const QByteArray hex17 = lattice.colorForPrime(17).name().toLatin1();
        QCOMPARE(recolored("/3/-17/5", "a;fill:#000000;stroke:#000000;b;fill:#000000;"),
                 "a;fill:" + hex17 + ";stroke:" + hex17 + ";b;fill:" + hex17 + ';');
        const QByteArray other("fill:#000001;fill: #000000;stroke:black");
        QCOMPARE(recolored("/5", other), other);
        lattice.onTransposed(*LatticePath(7).ratio(), 7);
        QCOMPARE(recolored("/3", "fill:#000000"),
                 "fill:" + lattice.colorForPrime(7).name().toLatin1());
    }

    // Both looks load the glyphs: one record names the missing file, and cards
    // show nothing in its place.
    void reportsAMissingGlyphOnceAndLeavesItEmpty()
    {
        writeGlyphs(scratch.filePath("no-sharp"), CardStackWidget::Sharp);
        app->setResourceDirectory(scratch.filePath("no-sharp"));
        LogCapture log;
        CardStackWidget second;
        stack->loadGlyphs();
        second.loadGlyphs();
        const CardWidget* card = showCard(QStringLiteral("/5"));

        QCOMPARE(log.texts(QtCriticalMsg), QStringList{"Failed to load sharp.svg."});
        QCOMPARE(log.records().size(), 1);
        QCOMPARE(shownGlyph(svg(card, 2)), -1);
        QCOMPARE(shownGlyph(svg(card, 1)), CardStackWidget::Note);
    }

    // Cards stand in the order of their balls' heights inside the column (from
    // the top of the view to 12 pixels above its bottom), apart when there is
    // room, else each covering the one above it no further than its heading,
    // whose name, cents and ratio stay in sight; so after a resize and a
    // removal too. No ball has two cards. Each guide line leaves its ball at
    // its height, the outer radius from its centre, and ends on the card's
    // left edge within the card's part in sight.
    void stacksCardsInBallOrderShowingEveryHeading_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QSize>("size");
        QTest::newRow("highest and lowest balls") << QStringList{"/2/3/3", "/-2/-2"} << QSize(900, 400);
        QTest::newRow("triad") << QStringList{"/", "/3", "/5"} << QSize(900, 400);
        QTest::newRow("eight notes")
            << QStringList{"/", "/3", "/5", "/7", "/-2", "/3/3", "/-3", "/3/5"} << QSize(700, 330);
    }

    void stacksCardsInBallOrderShowingEveryHeading()
    {
        QFETCH(QStringList, paths);
        QFETCH(QSize, size);
        LatticeLayer layer;
        layer.setStyleSheet(QStringLiteral("CardWidget { min-width: 160px; max-width: 160px; "
                                           "min-height: 80px; max-height: 80px; }"));
        layer.initLayer(LatticeWidget::circlesLook, &app->lattice());
        layer.resize(size);
        layer.show();
        const LatticeView* view = layer.view();
        QTRY_VERIFY(!view->transform().isIdentity());
        CardStackWidget* cards = layer.cardStack();
        QList<LatticeBallWidget*> balls;
        for (const QString& path : paths) {
            balls.append(view->latticeWidget()->ballWidget(LatticePath(path)));
            cards->addCard(balls.last());
        }
        cards->addCard(balls.first());
        QCOMPARE(layer.findChildren<CardWidget*>().size(), paths.size());
        verifyStack(layer, balls);

        layer.resize(size + QSize(0, 200));
        QTRY_COMPARE(view->height(), size.height() + 200 - 12);
        verifyStack(layer, balls);
        cards->removeCard(balls.last());
        cards->removeCard(balls.last());
        cards->raiseCard(balls.takeLast());
        QCOMPARE(cards->cardCount(), balls.size());
        verifyStack(layer, balls);
    }

private:
    void verifyStack(const LatticeLayer& layer, QList<LatticeBallWidget*> balls)
    {
        const LatticeView* view = layer.view();
        const CardStackWidget* cards = layer.cardStack();
        const auto ballY = [&](const LatticeBallWidget* ball) {
            return view->viewport()->mapTo(&layer, view->mapFromScene(ball->scenePos())).y();
        };
        std::sort(balls.begin(), balls.end(), [&](auto a, auto b) { return ballY(a) < ballY(b); });
        const int bottom = view->height() - 12;
        const int height = cards->card(balls.first())->height();
        const bool room = balls.size() * (height + 4) - 4 <= bottom;
        const QVector<QLineF> lines = layer.overlay()->guideLines();
        QCOMPARE(lines.size(), 3 * balls.size());
        for (int i = 0; i < balls.size(); ++i) {
            const CardWidget* card = cards->card(balls[i]);
            QVERIFY(card->y() >= 0 && card->geometry().bottom() < bottom);
            const int below = i + 1 < balls.size() ? cards->card(balls[i + 1])->y() : bottom;
            QVERIFY2(room ? below >= card->geometry().bottom() + 1 : below > card->y(),
                     qPrintable(QString::number(i)));
            for (const char* name : {"noteLabel", "centsLabel", "ratioLabel"}) {
                const QLabel* text = label(card, name);
                QVERIFY(text->isVisible());
                QVERIFY2(card->y() + text->geometry().bottom() < below + 1, name);
            }

            const QPoint centre = view->viewport()->mapTo(&layer, view->mapFromScene(balls[i]->scenePos()));
            const QLineF* line = std::find_if(lines.begin(), lines.end(), [&](const QLineF& l) {
                return l.p1().y() == centre.y() && l.p1().x() > centre.x();
            });
            QVERIFY(line != lines.end());
            const double gap = balls[i]->outerRadius() * view->transform().m11();
            QVERIFY(qAbs(line[0].p1().x() - (centre.x() + gap)) <= 1);
            QCOMPARE(line[0].p2(), line[1].p1());
            const QPoint cardTop = card->mapTo(&layer, QPoint());
            QCOMPARE(line[1].p2().x(), double(cardTop.x()));
            QVERIFY(line[1].p2().y() >= cardTop.y() && line[1].p2().y() < cardTop.y() + below - card->y());
            QCOMPARE(line[2].p1(), QPointF(0, centre.y()));
            QVERIFY(qAbs(line[2].p2().x() - (centre.x() - gap)) <= 1 && line[2].dy() == 0);
        }
    }

    // A card for a free-standing ball at path, laid out at 160 x 80: one staff
    // space is 10 pixels, the top line at y = 20.
    CardWidget* showCard(const QString& path)
    {
        auto* ball = new LatticeBall(app->lattice(), LatticePath(path), QColor(), stack.get());
        auto* card = new CardWidget(ball, stack.get());
        card->setGeometry(0, 0, 160, 80);
        card->show();
        return card;
    }

    TuningLatticeApplication* app = TuningLatticeApplication::instance();
    QTemporaryDir scratch;
    std::unique_ptr<CardStackWidget> stack;
};

int main(int argc, char** argv)
{
    TuningLatticeApplication app(argc, argv);
    NoteCardTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "NoteCardTest.moc"
