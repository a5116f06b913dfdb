// The lattice view, its note cards and the transpose panel. The test glyphs are
// black rectangles whose viewBox width is their glyph index + 1.

#include "LatticeView.h"
#include "AppTestSupport.h"
#include "CardConnectorOverlay.h"
#include "CardStackWidget.h"
#include "CardWidget.h"
#include "Lattice.h"
#include "LatticeBall.h"
#include "LatticeBallWidget.h"
#include "LatticeLayer.h"
#include "LatticeLeavesWidget.h"
#include "LatticeStrutWidget.h"
#include "LatticeWidget.h"
#include "LogCapture.h"
#include "PrimeToggleButton.h"
#include "TransposeButton.h"
#include "TransposeWidget.h"

#include <QtSvg>
#include <QtTest>
#include <QtWidgets>
#include <memory>

namespace {

LatticeRatio ratioOf(const char* path)
{
    return *LatticePath(QString::fromLatin1(path)).ratio();
}

LatticeBallWidget* ballAt(const LatticeView& view, const char* path)
{
    return view.latticeWidget()->ballWidget(LatticePath(QLatin1String(path)));
}

// The ball's own ellipse, not its glow.
QGraphicsEllipseItem* ballEllipse(LatticeBallWidget* widget)
{
    for (QGraphicsItem* child : widget->childItems())
        if (auto* ellipse = qgraphicsitem_cast<QGraphicsEllipseItem*>(child);
            ellipse && ellipse->zValue() == 20.0)
            return ellipse;
    return nullptr;
}

// The contrast ratio of two colours as the WCAG defines it.
double contrast(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& c) {
        const auto linear = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double x = luminance(a), y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

const QColor staffColor(170, 170, 170);

void writeGlyphs(const QString& folder, int skipped = -1)
{
    const char* const names[] = {"trebleclef", "bassclef",    "doubleflat", "flat",
                                 "sharp",      "doublesharp", "note"};
    for (int i = 0; i < CardStackWidget::GlyphCount; ++i)
        if (i != skipped)
            putFile(
                QStringLiteral("%1/%2.svg").arg(folder, names[i]),
                QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %1 10\">"
                               "<rect width=\"%1\" height=\"10\" style=\"fill:#000000\"/></svg>")
                    .arg(i + 1)
                    .toLatin1());
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

// "G##5 -41 125/64 859.375 Hz", the accidental read from its glyph, " enh" if shown.
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

// Brings the model to the transposition made of steps, from 1/1.
void transposeModel(const QList<int>& steps)
{
    LatticeRatio total(1);
    app().lattice().onTransposed(total, 0);
    for (int step : steps)
        app().lattice().onTransposed(total *= *LatticePath(step).ratio(), step);
}

// The colour the widget alone paints at (x, y), over magenta.
QString paintedAt(QWidget& widget, int x, int y)
{
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::magenta);
    widget.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    return image.pixelColor(x, y).name();
}

} // namespace

class LatticeViewTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        app().lattice().setDefaults();
        writeGlyphs(scratch.filePath("glyphs"));
        QVERIFY(app().player().init());
    }

    void init()
    {
        LatticeLeavesWidget::clearLeafPositions();
        lattice = std::make_unique<Lattice>();
        lattice->setDefaults();
        app().setResourceDirectory(scratch.filePath("glyphs"));
        stack = std::make_unique<CardStackWidget>();
        stack->loadGlyphs();
        stack->show();
    }

    void cleanup()
    {
        stack.reset();
        app().lattice().onTransposed(LatticeRatio(1), 0);
        app().setStyleSheet(QString());
        app().settings().notation = QStringLiteral("letters");
        drain();
    }

    // Relative to the root at the origin: grapes mirror -3, circles put minus
    // steps on a ring, and a ball's children sit around it.
    void placesBalls()
    {
        const std::tuple<int, const char*, QPointF> cases[] = {
            {LatticeWidget::grapesLook, "/-3", {-46.67, 46.67}},
            {LatticeWidget::circlesLook, "/-5", {-12.557, 31.635}},
            {LatticeWidget::grapesLook, "/2/-7", {-87.90, -15.30}}};
        for (const auto& [look, path, place] : cases) {
            LatticeView view;
            view.initView(look, lattice.get(), nullptr);
            const QPointF found = ballAt(view, path)->scenePos();
            QVERIFY2(
                QLineF(found, place).length() < 0.01,
                qPrintable(QStringLiteral("%1: %2, %3").arg(path).arg(found.x()).arg(found.y())));
        }
    }

    // Silent, the root dims; its ring stands out from the ground (3:1) either way.
    void brightensTheSoundingRootMost()
    {
        LatticeView view;
        view.initView(LatticeWidget::circlesLook, lattice.get(), nullptr);
        lattice->onNoteToggled(ratioOf("/"), true);
        const QColor ground(0x1b, 0x1c, 0x1a);
        const QGraphicsEllipseItem* root = ballEllipse(ballAt(view, "/"));
        const QColor sounding = root->brush().color();
        QVERIFY(contrast(root->pen().color(), ground) >= 3.0);

        lattice->onNoteToggled(ratioOf("/"), false);
        QVERIFY(root->brush().color().lightness() < sounding.lightness());
        QVERIFY(contrast(root->pen().color(), ground) >= 3.0 && root->pen().width() > 0);
    }

    // Enabling 3 again brings them back; disabling 5 hides only the 5-leaves.
    void disabledPrimeHidesBallsLeavesLinesAndCard()
    {
        LatticeLayer layer;
        layer.initLayer(LatticeWidget::circlesLook, lattice.get());
        const LatticeView& view = *layer.view();
        LatticeBallWidget* fifth = ballAt(view, "/3");
        const QList<QGraphicsItem*> hidden{fifth, ballAt(view, "/3/7"), ballAt(view, "/3/3")};
        lattice->onNoteToggled(ratioOf("/3"), true);
        const QList<LatticeStrutWidget*> fifthLines = fifth->lines();
        QCOMPARE(fifthLines.size(), 4); // from the root, to /3/3, and links with /2/3 and /-2/3

        for (bool enabled : {false, true}) {
            lattice->onPrimeEnabledToggled(3, enabled);
            for (QGraphicsItem* item : hidden)
                QCOMPARE(item->isVisible(), enabled);
            for (LatticeStrutWidget* line : fifthLines)
                QCOMPARE(line->isVisible(), enabled);
            QCOMPARE(layer.cardStack()->card(fifth) != nullptr, enabled);
        }

        lattice->onPrimeEnabledToggled(5, false);
        QVERIFY(!ballAt(view, "/3/-5")->isVisible());
        QVERIFY(fifth->isVisible() && ballAt(view, "/3/7")->isVisible());
        QCOMPARE(layer.cardStack()->cardCount(), 1);
    }

    // Also in a layer hidden meanwhile.
    void cardFollowsTranspositionAndReload()
    {
        LatticeLayer shown;
        shown.initLayer(LatticeWidget::grapesLook, lattice.get());
        LatticeLayer hidden;
        hidden.initLayer(LatticeWidget::circlesLook, lattice.get());
        lattice->onNoteToggled(ratioOf("/3"), true);
        lattice->onTransposed(ratioOf("/3"), 3);
        QVERIFY(!shown.cardStack()->card(ballAt(*shown.view(), "/3")));
        QVERIFY(shown.cardStack()->card(ballAt(*shown.view(), "/")));
        QCOMPARE(shown.cardStack()->cardCount(), 1);

        QJsonObject json;
        lattice->write(json);
        lattice->read(json);
        shown.view()->buildScene(LatticeWidget::grapesLook);
        for (LatticeLayer* layer : {&shown, &hidden}) {
            layer->show();
            LatticeBallWidget* root = ballAt(*layer->view(), "/");
            QCOMPARE(root->ball(), lattice->root());
            QVERIFY(layer->cardStack()->card(root));
            QCOMPARE(layer->cardStack()->cardCount(), 1);
        }
        lattice->onNoteToggled(ratioOf("/3"), false);
        QCOMPARE(shown.cardStack()->cardCount() + hidden.cardStack()->cardCount(), 0);

        // A held note whose ball a transposition takes away keeps a card off the
        // lattice, without a guide line, whose click releases that very ratio.
        lattice->onTransposed(LatticeRatio(1), 0);
        lattice->onNoteToggled(ratioOf("/5"), true);
        lattice->onTransposed(ratioOf("/7"), 7);
        CardStackWidget* stack = shown.cardStack();
        const CardWidget* off = stack->offLatticeCard(ratioOf("/5"));
        QVERIFY(off && stack->cardCount() == 1 && shown.overlay()->guideLines().isEmpty());
        QCOMPARE(off->findChild<QLabel*>("ratioLabel")->text(), "5/7");
        QCOMPARE(off->findChild<QLabel*>("freqLabel")->text(), "550.000 Hz");
        const LatticePath release = off->releaseEvent().path();
        QCOMPARE(*release.ratio() * lattice->transposition(), ratioOf("/5"));
        QVERIFY(qAbs(release.lastStep()) <= 3); // never a prime the screen switches off
        lattice->onTransposed(LatticeRatio(1), -7);
        QVERIFY(stack->card(ballAt(*shown.view(), "/5")));
        QCOMPARE(stack->cardCount(), 1);
        lattice->onNoteToggled(ratioOf("/5"), false);
        QCOMPARE(stack->cardCount(), 0);
    }

    // The model keeps links to any ball and the +5 leaf's children.
    void drawsNeitherChildrenOfLeavesNorLinksToThem()
    {
        lattice->read(QJsonDocument::fromJson(R"({"root": {"children": {
            "-5": {}, "5": {"children": {"3": {}, "7": {}}},
            "3": {"links": {"2": "/5", "-2": "/5/3"}}}}})")
                          .object());
        LatticeView view;
        view.initView(LatticeWidget::circlesLook, lattice.get(), nullptr);
        QCOMPARE(view.latticeWidget()->ballWidgets().size(), 4);
        QVERIFY(!ballAt(view, "/5/3") && !ballAt(view, "/5/7"));
        QCOMPARE(ballAt(view, "/3")->lines().size(), 1); // only the strut from the root
    }

    // Each case: path, the card's text, clef and staff position, the octave mark
    // over or under the clef, the staff position of the ledger line drawn (0 none).
    void writesTheNoteOnTheStaff()
    {
        const std::tuple<const char*, const char*, QString, QString, int> cases[] = {
            {"/-2", "A3 +0 1/2 220.000 Hz", "bass 0", "", 0},
            {"/2", "A5 +0 2/1 880.000 Hz", "treble -1", "", -1},
            {"/-2/3/-5", "C4 +16 3/5 264.000 Hz", "treble 5", "", 5},
            {"/2/2/3/-5", "C7 +16 24/5 2112.000 Hz", "treble 1.5", "15 over", 0},
            {"/-2/-2/-2/3/-5", "C2 +16 3/20 66.000 Hz", "bass 2.5", "8 under", 0},
            {"/-5/-5/-5", "Bbb3 +41 64/125 225.280 Hz", "bass -0.5", "", 0},
            {"/5/5/5", "G##5 -41 125/64 859.375 Hz", "treble -0.5", "", 0},
            {"/11/11/11", "D6 -46 1331/512 1143.828 Hz enh", "treble 1", "8 over", 0}};
        for (const auto& [path, text, staff, shift, ledger] : cases) {
            CardWidget* card = showCard(path);
            QCOMPARE(cardText(card), QString(text));
            QCOMPARE(shownGlyph(svg(card, 0)), staff.startsWith("treble")
                                                   ? CardStackWidget::TrebleClef
                                                   : CardStackWidget::BassClef);
            const QWidget* head = svg(card, 1);
            const float position = staff.section(QLatin1Char(' '), 1).toFloat();
            QVERIFY(qAbs(head->geometry().center().y() - (position + 2) * 10) <= 1);
            const QLabel* octaveShift = label(card, "octaveShiftLabel");
            QCOMPARE(octaveShift->text(), shift.section(QLatin1Char(' '), 0, 0));
            if (!shift.isEmpty())
                QCOMPARE(octaveShift->geometry().center().y() <
                             svg(card, 0)->geometry().center().y(),
                         shift.endsWith("over"));

            label(card, "centsLabel")->hide(); // its text may cross where a ledger line would be
            const QImage image = card->grab().toImage();
            for (const int line : {-1, 5})
                QCOMPARE(image.pixelColor(head->x() - 2, (line + 2) * 10) == staffColor,
                         line == ledger);

            // The accidental before the head is coloured like it (here by steps of 5).
            const QSvgWidget* accidental = svg(card, 2);
            QCOMPARE(accidental->isVisible(), svg(card, 3)->isVisible());
            if (accidental->isVisible()) {
                QCOMPARE(shownGlyph(accidental), shownGlyph(svg(card, 3)));
                QVERIFY(accidental->geometry().right() < head->x());
                const auto centre = [&image](const QWidget* w) {
                    return image.pixelColor(w->geometry().center());
                };
                QCOMPARE(centre(accidental), app().lattice().colorForPrime(5));
                QCOMPARE(centre(head), app().lattice().colorForPrime(5));
            }
        }
    }

    // Exact black takes the colour of the highest prime of path and transposition.
    void recolorsBlackByTheHighestPrime()
    {
        Lattice& lattice = app().lattice();
        const auto recolored = [&lattice](const char* path, const QByteArray& svg) {
            const LatticeBall ball(lattice, LatticePath(QLatin1String(path)), QColor(), nullptr);
            return CardWidget::recolorSvg(svg, ball, lattice);
        };
        const QByteArray hex17 = lattice.colorForPrime(17).name().toLatin1();
        QCOMPARE(recolored("/3/-17/5", "a;fill:#000000;stroke:#000000;b;fill:#000000;"),
                 "a;fill:" + hex17 + ";stroke:" + hex17 + ";b;fill:" + hex17 + ';');
        lattice.onTransposed(*LatticePath(7).ratio(), 7);
        QCOMPARE(recolored("/3", "fill:#000000"),
                 "fill:" + lattice.colorForPrime(7).name().toLatin1());
    }

    // Each case: a path, its name and cents, and the shipped glyphs drawn
    // before its head in the colour of its highest prime (the last) and,
    // black, beside its letter.
    void writesHelmholtzEllisAccidentals()
    {
        app().settings().notation = QStringLiteral("heji");
        app().setResourceDirectory(QCoreApplication::applicationDirPath());
        const std::tuple<const char*, const char*, QStringList, int> cases[] = {
            {"/5", "C5 +0", {"heji-sharp-down1"}, 5},
            {"/7/-13", "B4 +0", {"heji-13-up", "heji-7-down1", "heji-flat"}, 13},
            {"/3", "E5 +0", {}, 3}};
        for (const auto& [path, text, glyphs, prime] : cases) {
            CardWidget* card = showCard(path);
            QCOMPARE(label(card, "noteLabel")->text() + label(card, "octaveLabel")->text() + ' ' +
                         label(card, "centsLabel")->text(),
                     QString(text));
            const QImage image = card->grab().toImage();
            for (QSvgWidget* accidental : {svg(card, 2), svg(card, 3)}) {
                QCOMPARE(accidental->isVisible(), !glyphs.isEmpty());
                if (glyphs.isEmpty())
                    continue;
                for (const QString& glyph : glyphs)
                    QVERIFY2(accidental->renderer()->elementExists(glyph), qPrintable(glyph));
                int coloured = 0;
                const QRect box = accidental->geometry();
                for (int x = box.left(); x <= box.right(); ++x)
                    for (int y = box.top(); y <= box.bottom(); ++y)
                        coloured += image.pixelColor(x, y) == app().lattice().colorForPrime(prime);
                QCOMPARE(coloured > 0, accidental == svg(card, 2));
            }
        }
    }

    // A record names the missing file, and cards show nothing in its place.
    void reportsAMissingGlyphAndLeavesItEmpty()
    {
        writeGlyphs(scratch.filePath("no-sharp"), CardStackWidget::Sharp);
        app().setResourceDirectory(scratch.filePath("no-sharp"));
        LogCapture log;
        stack->loadGlyphs();
        const CardWidget* card = showCard(QStringLiteral("/5"));

        QCOMPARE(log.texts(QtCriticalMsg), QStringList{"Failed to load sharp.svg."});
        QCOMPARE(shownGlyph(svg(card, 2)), -1);
        QCOMPARE(shownGlyph(svg(card, 1)), CardStackWidget::Note);
    }

    // Apart when there is room, else overlapping with each heading (name, cents, ratio)
    // in sight; also after a resize and a removal. No ball has two cards.
    void stacksCardsInBallOrderShowingEveryHeading()
    {
        const std::pair<QStringList, QSize> cases[] = {
            {{"/2/3/3", "/-2/-2"}, {900, 400}}, // the highest and lowest balls
            {{"/", "/3", "/5", "/7", "/-2", "/3/3", "/-3", "/3/5"}, {700, 330}}};
        for (const auto& [paths, size] : cases) {
            LatticeLayer layer;
            layer.setStyleSheet(QStringLiteral("CardWidget { min-width: 160px; max-width: 160px; "
                                               "min-height: 80px; max-height: 80px; }"));
            layer.initLayer(LatticeWidget::circlesLook, &app().lattice());
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

            // Written anew in a notation chosen since, where these pure ratios are +0.
            app().settings().notation = QStringLiteral("heji");
            app().setResourceDirectory(QCoreApplication::applicationDirPath());
            cards->rebuildCards();
            for (LatticeBallWidget* ball : qAsConst(balls))
                QCOMPARE(label(cards->card(ball), "centsLabel")->text(), QString("+0"));
            app().settings().notation = QStringLiteral("letters");
            cards->rebuildCards();

            layer.resize(size + QSize(0, 200));
            QTRY_COMPARE(view->height(), size.height() + 200 - 12);
            verifyStack(layer, balls);
            cards->removeCard(balls.last());
            cards->removeCard(balls.last());
            cards->raiseCard(balls.takeLast());
            QCOMPARE(cards->cardCount(), balls.size());
            verifyStack(layer, balls);
        }
    }

    // A refused arrow paints nothing; one that missed the change asks the model on
    // click. Each case: steps taken, the arrow's step, its count, allowed.
    void arrowShowsItsCountAndRefusals()
    {
        const std::tuple<QList<int>, int, QString, bool> cases[] = {
            {{3, 2, 3}, 3, "+2", true},
            {{3, 3}, -3, "", true},
            {{-19}, -19, "-1", true},
            {{2, 2, 2, 2, 2}, 2, "+5", false}}; // 14080 Hz: one more octave passes 20 kHz
        shippedLook();
        for (const auto& [steps, step, label, allowed] : cases) {
            QLabel count(QStringLiteral("stale"));
            TransposeButton button(step, &count);
            button.setFixedSize(24, 24);
            button.ensurePolished();
            transposeModel(steps);

            QCOMPARE(count.text(), label);
            QCOMPARE(button.isEnabled(), allowed);
            // Inside the triangle, and beside its point.
            QCOMPARE(paintedAt(button, step > 0 ? 10 : 14, 12) != "#ff00ff", allowed);
            QCOMPARE(paintedAt(button, step > 0 ? 20 : 3, 12), "#ff00ff");
            TransposeButton late(step, &count);
            late.click();
            const QStringList sent = drain();
            QCOMPARE(sent.size(), int(allowed));
            QVERIFY(!allowed || (sent[0].startsWith("transposed(") &&
                                 sent[0].endsWith(QString(",%1)").arg(step))));
        }
    }

    // 3 and lower stay on and send nothing; the others switch and dim.
    void primeButtonsSwitchOnlyAboveThree()
    {
        shippedLook();
        for (const int prime : {3, 19}) {
            PrimeToggleButton button(prime);
            button.ensurePolished();
            button.resize(button.sizeHint());
            // Left of the number, inside the border.
            const auto shown = [&button] { return button.grab().toImage().pixelColor(3, 10); };
            const QColor lit = shown();
            for (const bool on : {false, true}) {
                button.click();
                const QString sent =
                    QStringLiteral("primeEnabledToggled(19,%1)").arg(on ? "true" : "false");
                QCOMPARE(drain(), prime > 3 ? QStringList{sent} : QStringList{});
                QCOMPARE(button.isChecked(), prime > 3 && on);
                QCOMPARE(shown() != lit, prime > 3 && !on);
            }
        }
    }

    void resetIsOfferedOnlyWhileTransposed()
    {
        shippedLook();
        TransposeWidget panel;
        panel.setupButtons(Qt::Vertical);
        auto* reset = panel.findChild<PrimeToggleButton*>(QStringLiteral("resetButton"));
        QVERIFY(reset && !reset->isEnabled());
        transposeModel({5});
        QVERIFY(reset->isEnabled());
        reset->click();
        QCOMPARE(drain(), QStringList{"transposed(1/1,0)"});
        transposeModel({});
        QVERIFY(!reset->isEnabled());
    }

private:
    void shippedLook()
    {
        app().setResourceDirectory(QCoreApplication::applicationDirPath());
        QVERIFY(app().loadStyleSheet());
    }

    void verifyStack(const LatticeLayer& layer, QList<LatticeBallWidget*> balls)
    {
        const LatticeView* view = layer.view();
        const CardStackWidget* cards = layer.cardStack();
        const auto centreOf = [&](const LatticeBallWidget* ball) {
            return view->viewport()->mapTo(&layer, view->mapFromScene(ball->scenePos()));
        };
        std::sort(balls.begin(), balls.end(),
                  [&](auto a, auto b) { return centreOf(a).y() < centreOf(b).y(); });
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

            // The guide leaves the ball at its height, ends on the card's left edge in sight.
            const QPoint centre = centreOf(balls[i]);
            const QLineF* line = std::find_if(lines.begin(), lines.end(), [&](const QLineF& l) {
                return l.p1().y() == centre.y() && l.p1().x() > centre.x();
            });
            QVERIFY(line != lines.end() && line[0].p2() == line[1].p1());
            const QPoint cardTop = card->mapTo(&layer, QPoint());
            QCOMPARE(line[1].p2().x(), double(cardTop.x()));
            QVERIFY(line[1].p2().y() >= cardTop.y() &&
                    line[1].p2().y() < cardTop.y() + below - card->y());
        }
    }

    // A card for a free-standing ball at path, laid out at 160 x 80: one staff
    // space is 10 pixels, the top line at y = 20.
    CardWidget* showCard(const QString& path)
    {
        auto* ball = new LatticeBall(app().lattice(), LatticePath(path), QColor(), stack.get());
        auto* card = new CardWidget(ball, stack.get());
        card->setGeometry(0, 0, 160, 80);
        card->show();
        return card;
    }

    QTemporaryDir scratch;
    std::unique_ptr<CardStackWidget> stack;
    std::unique_ptr<Lattice> lattice;
};

LATTICE_APP_TEST_MAIN(LatticeViewTest)
#include "LatticeViewTest.moc"
