// The lattice view: where balls stand, how they look, and how they and their
// cards follow the model. A click played through the player is in
// EndToEndTest.

#include "LatticeView.h"
#include "CardConnectorOverlay.h"
#include "CardStackWidget.h"
#include "CardWidget.h"
#include "Lattice.h"
#include "LatticeBallWidget.h"
#include "LatticeLayer.h"
#include "LatticeLeavesWidget.h"
#include "LatticeStrutWidget.h"
#include "LatticeWidget.h"
#include "LayoutConstants.h"
#include "LogCapture.h"
#include "TuningLatticeApplication.h"

#include <QGraphicsEllipseItem>
#include <QLabel>
#include <QJsonDocument>
#include <QtTest>
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

// The contrast ratio of two colours as screen-reading guidelines define it:
// (lighter + 0.05) / (darker + 0.05) of their relative luminances.
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

} // namespace

class LatticeViewTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        LatticeLeavesWidget::clearLeafPositions();
        lattice = std::make_unique<Lattice>();
        lattice->setDefaults();
    }

    void placesBalls_data()
    {
        QTest::addColumn<int>("look");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QPointF>("place"); // relative to the root at the origin
        const int circles = LatticeWidget::circlesLook;
        const int grapes = LatticeWidget::grapesLook;
        QTest::newRow("-3, mirrored") << grapes << "/-3" << QPointF(-46.67, 46.67);
        QTest::newRow("circles, minus ring, 5") << circles << "/-5" << QPointF(-12.557, 31.635);
        QTest::newRow("circles, plus centre, 11") << circles << "/11" << QPointF(0.0, -35.0);
        QTest::newRow("grapes, minus 7") << grapes << "/-7" << QPointF(-8.0, 64.6);
        QTest::newRow("grapes, on the +2 ball") << grapes << "/2/-7" << QPointF(-87.90, -15.30);
    }

    void placesBalls()
    {
        QFETCH(int, look);
        QFETCH(QString, path);
        QFETCH(QPointF, place);
        LatticeView view;
        view.initView(look, lattice.get(), nullptr);
        const QPointF found = ballAt(view, qPrintable(path))->scenePos();
        QVERIFY2(QLineF(found, place).length() < 0.01,
                 qPrintable(QStringLiteral("%1, %2").arg(found.x()).arg(found.y())));
    }

    // A sounding root is lit far more than the other balls, which follow the
    // tweakable factors; a silent ball is dimmed, thinly outlined. The
    // near-black root keeps a ring that stands out from the lattice's ground
    // (at least 3:1) whether it sounds or not.
    void brightensTheSoundingRootMost()
    {
        LatticeView view;
        view.initView(LatticeWidget::circlesLook, lattice.get(), nullptr);
        lattice->onNoteToggled(ratioOf("/"), true);
        lattice->onNoteToggled(ratioOf("/3"), true);
        const QColor rootColor = lattice->colorForPrime(1);
        const QColor ground(0x1b, 0x1c, 0x1a);
        const QGraphicsEllipseItem* root = ballEllipse(ballAt(view, "/"));
        QCOMPARE(root->brush().color(), rootColor.lighter(200));
        QVERIFY(contrast(root->pen().color(), ground) >= 3.0);
        const QGraphicsEllipseItem* fifth = ballEllipse(ballAt(view, "/3"));
        QCOMPARE(fifth->brush().color(), lattice->colorForPrime(3).lighter(BALL_BRIGHTEN_FACTOR));
        QCOMPARE(fifth->pen().color(), lattice->colorForPrime(3).lighter(OUTLINE_BRIGHTEN_FACTOR));

        lattice->onNoteToggled(ratioOf("/"), false);
        QCOMPARE(root->brush().color(), rootColor.darker(BALL_DIM_FACTOR));
        QVERIFY(contrast(root->pen().color(), ground) >= 3.0 && root->pen().width() > 0);
        QCOMPARE(ballEllipse(ballAt(view, "/5"))->pen().width(), 0);
    }

    // Disabling 3 hides /3, its leaf, its child, its lines and its card; enabling
    // brings them back. Disabling 5 hides only the 5-leaves.
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

    // The card moves to the ball that sounds the ratio after a transposition, and
    // to the new tree's ball after a reload, also in a layer hidden meanwhile.
    void cardFollowsTranspositionAndReload()
    {
        LatticeLayer shown;
        shown.initLayer(LatticeWidget::grapesLook, lattice.get());
        LatticeLayer hidden;
        hidden.initLayer(LatticeWidget::circlesLook, lattice.get());
        lattice->onNoteToggled(ratioOf("/3"), true);
        QVERIFY(shown.cardStack()->card(ballAt(*shown.view(), "/3")));

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

        // A held note whose ball a transposition takes away keeps a card, off the
        // lattice and with no guide line, whose click releases that very ratio;
        // transposing back gives the card to the ball again.
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

    // The model keeps links to any ball; the view draws neither the +5 leaf's
    // children nor links to a leaf or beneath it, and warns once for each link.
    void drawsNeitherChildrenOfLeavesNorLinksToThem()
    {
        lattice->read(QJsonDocument::fromJson(R"({"root": {"children": {
            "-5": {}, "5": {"children": {"3": {}, "7": {}}},
            "3": {"links": {"2": "/5", "-2": "/5/3"}}}}})")
                          .object());
        LogCapture log;
        LatticeView view;
        view.initView(LatticeWidget::circlesLook, lattice.get(), nullptr);
        QCOMPARE(view.latticeWidget()->ballWidgets().size(), 4);
        QVERIFY(!ballAt(view, "/5/3") && !ballAt(view, "/5/7"));
        QVERIFY(ballAt(view, "/5") && ballAt(view, "/-5"));
        QCOMPARE(ballAt(view, "/3")->lines().size(), 1); // only the strut from the root
        const QStringList warnings = log.texts(QtWarningMsg);
        QCOMPARE(warnings.size(), 2);
        QVERIFY2(warnings.filter("\"/5\"").size() == 1 && warnings.filter("\"/5/3\"").size() == 1,
                 qPrintable(warnings.join('\n')));
    }

private:
    std::unique_ptr<Lattice> lattice;
};

int main(int argc, char** argv)
{
    TuningLatticeApplication app(argc, argv);
    LatticeViewTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "LatticeViewTest.moc"
