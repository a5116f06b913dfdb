// Playing from the screen through the application's player and the shipped
// Sine voice, rendered on the test thread as the audio callback would.

#include "CardStackWidget.h"
#include "CardWidget.h"
#include "Lattice.h"
#include "LatticeBallWidget.h"
#include "LatticeLayer.h"
#include "LatticeView.h"
#include "LatticeWidget.h"
#include "PlayerMetaTypes.h"
#include "RenderBlocks.h"
#include "TestPatch.h"
#include "ToneAnalysis.h"
#include "TransposeButton.h"
#include "TransposeWidget.h"
#include "TuningLatticeApplication.h"

#include <QLabel>
#include <QtTest>
#include <cmath>

namespace {

// The dominant frequency once the note is past its attack, 0 for silence.
double heard(PdPlayer& player)
{
    renderFrames(player, 44100 / 10);
    const std::vector<float> steady = ToneAnalysis::channel(renderFrames(player, 44100 / 2), 0);
    if (ToneAnalysis::peakLevel(steady) < 0.05f)
        return 0.0;
    return ToneAnalysis::dominantFrequency(steady, 44100, 50.0, 2000.0);
}

} // namespace

class TransposePlayingTest : public QObject
{
    Q_OBJECT

private slots:
    // A click on the root sounds 440 Hz with an A4 card, a second click stops it
    // and takes the card; after the +5 arrow the root sounds 550 Hz.
    void clicksPlayTheRootThenAMajorThirdUp()
    {
        TuningLatticeApplication& app = *TuningLatticeApplication::instance();
        PdPlayer& player = app.player();
        TestPatch patch;
        registerPlayerMetaTypes();
        QVERIFY(patch.useShipped(TestPatch::shippedFolder() + "/Sine.pd"));
        QVERIFY(player.init());
        player.initAudio(2, 44100);
        QVERIFY(player.loadPatch(patch.mainPatch()));
        QVERIFY(QDir().mkpath(TuningLatticeApplication::dataDirectory()));
        QVERIFY(app.lattice().init(&player));
        TransposeWidget panel;
        panel.setupButtons(Qt::Vertical);
        QMap<int, TransposeButton*> arrows;
        for (TransposeButton* button : panel.findChildren<TransposeButton*>())
            arrows[button->step()] = button;
        LatticeLayer layer;
        layer.initLayer(LatticeWidget::circlesLook, &app.lattice());
        layer.resize(900, 500);
        layer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&layer));
        LatticeView* view = layer.view();
        LatticeBallWidget* root = view->latticeWidget()->ballWidget(LatticePath());
        const QPoint rootInView = view->mapFromScene(root->scenePos());
        const auto cardText = [&layer, root](const char* label) {
            return layer.cardStack()->card(root)->findChild<QLabel*>(label)->text();
        };

        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rootInView);
        double found = heard(player);
        QVERIFY2(std::fabs(found - 440.0) < 0.5, qPrintable(QString::number(found)));
        QTRY_VERIFY(layer.cardStack()->card(root));
        QCOMPARE(cardText("noteLabel") + cardText("octaveLabel"), QStringLiteral("A4"));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rootInView);
        renderFrames(player, 44100 / 2); // the release
        QVERIFY(ToneAnalysis::peakLevel(renderFrames(player, 4096)) < 1e-3f);
        QTRY_COMPARE(layer.cardStack()->cardCount(), 0);

        arrows[5]->click();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rootInView);
        found = heard(player);
        QVERIFY2(std::fabs(found - 550.0) <= 0.5, qPrintable(QString::number(found)));
        // The player's reports reach the arrows and the card through the model.
        QTRY_COMPARE(arrows[5]->label()->text(), QStringLiteral("+1"));
        QCOMPARE(arrows[-5]->label()->text(), QString());
        QTRY_VERIFY(layer.cardStack()->card(root));
        QCOMPARE(cardText("freqLabel"), QStringLiteral("550.000 Hz"));
        player.term();
    }
};

int main(int argc, char** argv)
{
    TuningLatticeApplication app(argc, argv);
    TransposePlayingTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "TransposePlayingTest.moc"
