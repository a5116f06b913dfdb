// The lattice view: where balls, leaves and lines stand, how balls look, how
// they follow the model's playing and enabled states with their cards, and a
// click on a ball played through the real player without a sound device.

#include "LatticeView.h"
#include "CardStackWidget.h"
#include "CardWidget.h"
#include "Lattice.h"
#include "LatticeBall.h"
#include "LatticeBallWidget.h"
#include "LatticeLayer.h"
#include "LatticeLeavesWidget.h"
#include "LatticeStrutWidget.h"
#include "LatticeWidget.h"
#include "LayoutConstants.h"
#include "LogCapture.h"
#include "PlayerMetaTypes.h"
#include "RenderBlocks.h"
#include "TestPatch.h"
#include "ToneAnalysis.h"
#include "TuningLatticeApplication.h"

#include <QGraphicsEllipseItem>
#include <QJsonDocument>
#include <QLabel>
#include <QtTest>
#include <memory>

namespace {

// Sets a layout constant for the rest of the scope.
struct ConstantOverride
{
    ConstantOverride(int& constant, int value) : constant(constant), saved(constant)
    {
        constant = value;
    }
    ~ConstantOverride() { constant = saved; }
    int& constant;
    const int saved;
};

LatticeRatio ratioOf(const char* path)
{
    return *LatticePath(QString::fromLatin1(path)).ratio();
}

// Relative to the root, which stands at the scene's origin.
QPointF placeOf(const LatticeView& view, const char* path)
{
    LatticeBallWidget* widget = view.latticeWidget()->ballWidget(LatticePath(QLatin1String(path)));
    return widget ? widget->scenePos() : QPointF(qInf(), qInf());
}

QGraphicsEllipseItem* ballEllipse(LatticeBallWidget* widget)
{
    for (QGraphicsItem* child : widget->childItems()) {
        auto* ellipse = qgraphicsitem_cast<QGraphicsEllipseItem*>(child);
        if (ellipse && ellipse->zValue() == 20.0)
            return ellipse;
    }
    return nullptr;
}

} // namespace

class LatticeViewTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void placesBalls_data();
    void placesBalls();
    void drawsOneLeafPerSideAndNoChildrenOfLeaves();
    void brightensTheSoundingRootWhateverTheFactors_data();
    void brightensTheSoundingRootWhateverTheFactors();
    void disabledPrimeHidesBallsLeavesLinesAndCard();
    void cardFollowsTranspositionAndReload();
    void constantsTakeEffectOnlyOnRebuild();
    void linkWithoutADrawnTargetDrawsNothing_data();
    void linkWithoutADrawnTargetDrawsNothing();
    void clickOnTheRootPlaysA4WithItsCard();

private:
    std::unique_ptr<Lattice> lattice;
};

void LatticeViewTest::init()
{
    LatticeLeavesWidget::clearLeafPositions();
    lattice = std::make_unique<Lattice>();
    lattice->setDefaults();
}

void LatticeViewTest::placesBalls_data()
{
    QTest::addColumn<int>("look");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QPointF>("place");
    const int circles = LatticeWidget::circlesLook;
    const int grapes = LatticeWidget::grapesLook;
    QTest::newRow("+2") << circles << "/2" << QPointF(-79.90, -79.90);
    QTest::newRow("+3") << circles << "/3" << QPointF(46.67, -46.67);
    QTest::newRow("-2 mirrors +2") << circles << "/-2" << QPointF(79.90, 79.90);
    QTest::newRow("-3 mirrors +3") << grapes << "/-3" << QPointF(-46.67, 46.67);
    QTest::newRow("circles, minus ring, 5") << circles << "/-5" << QPointF(-12.557, 31.635);
    QTest::newRow("circles, plus ring, 5") << circles << "/5" << QPointF(12.557, -31.635);
    QTest::newRow("circles, minus centre, 11") << circles << "/-11" << QPointF(0.0, 35.0);
    QTest::newRow("circles, plus centre, 11") << circles << "/11" << QPointF(0.0, -35.0);
    QTest::newRow("grapes, minus 7") << grapes << "/-7" << QPointF(-8.0, 64.6);
    QTest::newRow("grapes, plus 7") << grapes << "/7" << QPointF(8.0, -64.6);
    QTest::newRow("grapes, on a lattice ball") << grapes << "/2/-7" << QPointF(-87.90, -15.30);
}

void LatticeViewTest::placesBalls()
{
    QFETCH(int, look);
    QFETCH(QString, path);
    QFETCH(QPointF, place);
    LatticeView view;
    view.initView(look, lattice.get(), nullptr);
    const QPointF found = placeOf(view, qPrintable(path));
    QVERIFY2(QLineF(found, place).length() < 0.01,
             qPrintable(QStringLiteral("%1, %2").arg(found.x()).arg(found.y())));
}

// Given a root with leaves under 5 and -5, and children beneath the +5 leaf:
// one leaf on each side, nothing beneath the leaf.
void LatticeViewTest::drawsOneLeafPerSideAndNoChildrenOfLeaves()
{
    lattice->read(QJsonDocument::fromJson(R"({"root": {"children": {
        "-5": {}, "5": {"children": {"3": {}, "7": {}}}}}})")
                      .object());
    LatticeView view;
    view.initView(LatticeWidget::circlesLook, lattice.get(), nullptr);
    const LatticeWidget* scene = view.latticeWidget();
    QCOMPARE(scene->ballWidgets().size(), 3);
    QVERIFY(!scene->ballWidget(LatticePath(QStringLiteral("/5/3"))));
    QVERIFY(!scene->ballWidget(LatticePath(QStringLiteral("/5/7"))));
    for (int step : {-5, 5}) {
        const auto* group =
            dynamic_cast<LatticeLeavesWidget*>(scene->ballWidget(LatticePath(step))->parentItem());
        QVERIFY(group);
        QCOMPARE(group->direction(), step < 0 ? -1 : 1);
        QCOMPARE(group->childItems().size(), 1);
    }
}

void LatticeViewTest::brightensTheSoundingRootWhateverTheFactors_data()
{
    QTest::addColumn<int>("ballFactor");
    QTest::addColumn<int>("outlineFactor");
    QTest::newRow("defaults") << BALL_BRIGHTEN_FACTOR << OUTLINE_BRIGHTEN_FACTOR;
    QTest::newRow("plain") << 100 << 100;
    QTest::newRow("glaring") << 250 << 400;
}

// The root uses 200 and 300; the other balls follow the factors.
void LatticeViewTest::brightensTheSoundingRootWhateverTheFactors()
{
    QFETCH(int, ballFactor);
    QFETCH(int, outlineFactor);
    const ConstantOverride ball(BALL_BRIGHTEN_FACTOR, ballFactor);
    const ConstantOverride outline(OUTLINE_BRIGHTEN_FACTOR, outlineFactor);
    LatticeView view;
    view.initView(LatticeWidget::circlesLook, lattice.get(), nullptr);
    lattice->onNoteToggled(ratioOf("/"), true);
    lattice->onNoteToggled(ratioOf("/3"), true);

    const QColor rootColor = lattice->colorForPrime(1);
    const QGraphicsEllipseItem* root = ballEllipse(view.latticeWidget()->ballWidget(LatticePath()));
    QCOMPARE(root->brush().color(), rootColor.lighter(200));
    QCOMPARE(root->pen().color(), rootColor.lighter(300));
    QCOMPARE(root->pen().width(), 2);

    const QColor fifthColor = lattice->colorForPrime(3);
    const QGraphicsEllipseItem* fifth =
        ballEllipse(view.latticeWidget()->ballWidget(LatticePath(3)));
    QCOMPARE(fifth->brush().color(), fifthColor.lighter(ballFactor));
    QCOMPARE(fifth->pen().color(), fifthColor.lighter(outlineFactor));

    lattice->onNoteToggled(ratioOf("/"), false);
    QCOMPARE(root->brush().color(), rootColor.darker(BALL_DIM_FACTOR));
    QCOMPARE(root->pen().width(), 0);
}

// Given /3 sounding with its card: disabling prime 3 hides /3, its leaves,
// its strut, its link and its children, and takes the card; enabling brings
// all of it back. Prime 5 hides only the 5-leaves.
void LatticeViewTest::disabledPrimeHidesBallsLeavesLinesAndCard()
{
    LatticeLayer layer;
    layer.initLayer(LatticeWidget::circlesLook, lattice.get());
    const LatticeView& view = *layer.view();
    LatticeBallWidget* fifth = view.latticeWidget()->ballWidget(LatticePath(3));
    LatticeBallWidget* fifthLeaf =
        view.latticeWidget()->ballWidget(LatticePath(QStringLiteral("/3/7")));
    LatticeBallWidget* ninth =
        view.latticeWidget()->ballWidget(LatticePath(QStringLiteral("/3/3")));
    lattice->onNoteToggled(ratioOf("/3"), true);
    QVERIFY(layer.cardStack()->card(fifth));
    const QList<LatticeStrutWidget*> fifthLines = fifth->lines();
    // From the root, to /3/3, its link to /2/3 and the link from /-2/3.
    QCOMPARE(fifthLines.size(), 4);

    for (bool enabled : {false, true}) {
        lattice->onPrimeEnabledToggled(3, enabled);
        QCOMPARE(fifth->isVisible(), enabled);
        QCOMPARE(fifthLeaf->isVisible(), enabled);
        QCOMPARE(ninth->isVisible(), enabled);
        for (LatticeStrutWidget* line : fifthLines)
            QCOMPARE(line->isVisible(), enabled);
        QCOMPARE(layer.cardStack()->card(fifth) != nullptr, enabled);
        QCOMPARE(layer.cardStack()->cardCount(), enabled ? 1 : 0);
    }

    lattice->onPrimeEnabledToggled(5, false);
    QVERIFY(!view.latticeWidget()->ballWidget(LatticePath(QStringLiteral("/3/-5")))->isVisible());
    QVERIFY(fifth->isVisible() && fifthLeaf->isVisible());
    QCOMPARE(layer.cardStack()->cardCount(), 1);
}

// A transposition moves the card to the ball that now sounds the ratio. A
// reload replaces the model's tree: the rebuilt scene gives the new ball the
// one card, and a layer that was hidden meanwhile rebuilds as it is shown.
void LatticeViewTest::cardFollowsTranspositionAndReload()
{
    LatticeLayer shown;
    shown.initLayer(LatticeWidget::grapesLook, lattice.get());
    LatticeLayer hidden;
    hidden.initLayer(LatticeWidget::circlesLook, lattice.get());
    lattice->onNoteToggled(ratioOf("/3"), true);
    const auto widget = [](const LatticeLayer& layer, const LatticePath& path) {
        return layer.view()->latticeWidget()->ballWidget(path);
    };
    QVERIFY(shown.cardStack()->card(widget(shown, LatticePath(3))));

    lattice->onTransposed(ratioOf("/3"), 3);
    QVERIFY(!shown.cardStack()->card(widget(shown, LatticePath(3))));
    QVERIFY(shown.cardStack()->card(widget(shown, LatticePath())));
    QCOMPARE(shown.cardStack()->cardCount(), 1);

    QJsonObject json;
    lattice->write(json);
    lattice->read(json);
    shown.view()->buildScene(LatticeWidget::grapesLook);
    for (LatticeLayer* layer : {&shown, &hidden}) {
        layer->show();
        LatticeBallWidget* root = widget(*layer, LatticePath());
        QCOMPARE(root->ball(), lattice->root());
        QVERIFY(layer->cardStack()->card(root));
        QCOMPARE(layer->cardStack()->cardCount(), 1);
    }

    lattice->onNoteToggled(ratioOf("/3"), false);
    QCOMPARE(shown.cardStack()->cardCount() + hidden.cardStack()->cardCount(), 0);
}

void LatticeViewTest::constantsTakeEffectOnlyOnRebuild()
{
    LatticeView view;
    view.initView(LatticeWidget::circlesLook, lattice.get(), nullptr);
    const QPointF octave = placeOf(view, "/2");
    const QPointF leaf = placeOf(view, "/-19");
    const ConstantOverride strut(STRUT_2_LENGTH, 2 * STRUT_2_LENGTH);
    const ConstantOverride radius(LEAVES_RADIUS, 2 * LEAVES_RADIUS);
    QCOMPARE(placeOf(view, "/2"), octave);

    view.buildScene(LatticeWidget::circlesLook);
    QVERIFY(QLineF(placeOf(view, "/2"), 2 * octave).length() < 0.01);
    // The leaf positions are kept until the caches are emptied.
    QCOMPARE(placeOf(view, "/-19"), leaf);
    LatticeLeavesWidget::clearLeafPositions();
    view.buildScene(LatticeWidget::circlesLook);
    const QPointF centre(0.0, 35.0);
    QVERIFY(QLineF(placeOf(view, "/-19") - centre, 2 * (leaf - centre)).length() < 0.01);
}

void LatticeViewTest::linkWithoutADrawnTargetDrawsNothing_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("a leaf") << "/5";
    QTest::newRow("a ball beneath a leaf") << "/5/3";
}

// The model keeps links to any ball it has; the view can join only lattice
// balls.
void LatticeViewTest::linkWithoutADrawnTargetDrawsNothing()
{
    QFETCH(QString, target);
    lattice->read(QJsonDocument::fromJson(QStringLiteral(R"({"root": {"children": {
        "5": {"children": {"3": {}}}, "3": {"links": {"2": "%1"}}}}})")
                                              .arg(target)
                                              .toUtf8())
                      .object());
    LogCapture log;
    LatticeView view;
    view.initView(LatticeWidget::circlesLook, lattice.get(), nullptr);
    QCOMPARE(log.texts(QtWarningMsg),
             QStringList{QStringLiteral("Drew no link at key \"2\" of ball \"/3\": \"%1\" is no "
                                        "ball of the drawn lattice.")
                             .arg(target)});
    // Only the strut from the root.
    QCOMPARE(view.latticeWidget()->ballWidget(LatticePath(3))->lines().size(), 1);
}

// The road of a click through the real player, rendered here as the audio
// callback would: the root sounds 440 Hz and its card reads A4; a second
// click stops it and takes the card away.
void LatticeViewTest::clickOnTheRootPlaysA4WithItsCard()
{
    TuningLatticeApplication* app = TuningLatticeApplication::instance();
    PdPlayer& player = app->player();
    TestPatch patch;
    QVERIFY(player.init());
    player.initAudio(2, 44100);
    QVERIFY(patch.useShipped(TestPatch::shippedFolder() + QStringLiteral("/Sine.pd")));
    QVERIFY(player.loadPatch(patch.mainPatch()));
    Lattice& model = app->lattice();
    model.setDefaults();
    connect(&player, &PdPlayer::noteToggled, &model, &Lattice::onNoteToggled, Qt::QueuedConnection);

    LatticeLayer layer;
    layer.initLayer(LatticeWidget::circlesLook, &model);
    layer.resize(900, 500);
    layer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&layer));
    LatticeView* view = layer.view();
    LatticeBallWidget* root = view->latticeWidget()->ballWidget(LatticePath());
    const QPoint rootInView = view->mapFromScene(root->scenePos());

    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rootInView);
    renderFrames(player, 44100 / 10); // the note starts, past its attack
    const std::vector<float> steady = ToneAnalysis::channel(renderFrames(player, 44100 / 2), 0);
    QVERIFY(ToneAnalysis::peakLevel(steady) > 0.05f);
    const double found = ToneAnalysis::dominantFrequency(steady, 44100, 100.0, 2000.0);
    QVERIFY2(std::fabs(found - 440.0) < 0.5, qPrintable(QString::number(found)));
    QTRY_VERIFY(layer.cardStack()->card(root));
    const CardWidget* card = layer.cardStack()->card(root);
    QCOMPARE(card->findChild<QLabel*>(QStringLiteral("noteLabel"))->text(), QStringLiteral("A"));
    QCOMPARE(card->findChild<QLabel*>(QStringLiteral("octaveLabel"))->text(), QStringLiteral("4"));

    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rootInView);
    renderFrames(player, 44100 / 2); // the release
    QVERIFY(ToneAnalysis::peakLevel(renderFrames(player, 4096)) < 1e-3f);
    QTRY_COMPARE(layer.cardStack()->cardCount(), 0);
    player.term();
}

int main(int argc, char** argv)
{
    TuningLatticeApplication app(argc, argv);
    registerPlayerMetaTypes();
    LatticeViewTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "LatticeViewTest.moc"
