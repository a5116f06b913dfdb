// The panel playing the shipped Sine voice through the application's player,
// rendered on the test thread as the audio callback would, without a device.

#include "Lattice.h"
#include "LatticeNoteEvent.h"
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

class TransposePlayingTest : public QObject
{
    Q_OBJECT

private slots:
    void upFiveThenRootSoundsAMajorThirdUp();

private:
    TestPatch patch;
};

void TransposePlayingTest::upFiveThenRootSoundsAMajorThirdUp()
{
    constexpr int rate = 44100;
    TuningLatticeApplication& app = *TuningLatticeApplication::instance();
    PdPlayer& player = app.player();
    registerPlayerMetaTypes();
    QVERIFY(patch.useShipped(TestPatch::shippedFolder() + "/Sine.pd"));
    QVERIFY(player.init());
    player.initAudio(2, rate);
    QVERIFY(player.loadPatch(patch.mainPatch()));
    QVERIFY(QDir().mkpath(TuningLatticeApplication::dataDirectory()));
    QVERIFY(app.lattice().init(&player));
    TransposeWidget panel;
    panel.setupButtons(Qt::Vertical);
    QMap<int, TransposeButton*> arrows;
    for (TransposeButton* button : panel.findChildren<TransposeButton*>())
        arrows[button->step()] = button;

    arrows[5]->click();
    const LatticeNoteEvent root(QStringLiteral("/"));
    player.queueEventGui(&root);
    renderFrames(player, rate / 10); // past the attack
    const std::vector<float> steady = ToneAnalysis::channel(renderFrames(player, rate / 2), 0);

    QVERIFY(ToneAnalysis::peakLevel(steady) > 0.05f);
    const double found = ToneAnalysis::dominantFrequency(steady, rate, 50.0, 2000.0);
    QVERIFY2(std::fabs(found - 550.0) <= 0.5, qPrintable(QString::number(found)));
    // The player's report reaches the panel through the model.
    QTRY_COMPARE(arrows[5]->label()->text(), QStringLiteral("+1"));
    QCOMPARE(arrows[-5]->label()->text(), QString());
    player.term();
}

int main(int argc, char** argv)
{
    TuningLatticeApplication app(argc, argv);
    TransposePlayingTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "TransposePlayingTest.moc"
