#include "LatticeNoteEvent.h"
#include "LogCapture.h"
#include "PdPlayer.h"
#include "PlayerFixture.h"
#include "RenderBlocks.h"
#include "TestAudioOutput.h"

#include <QtTest>
#include <atomic>
#include <memory>
#include <thread>

// Opening and closing patches between the GUI thread and the audio thread.
// The "stream" is TestAudioOutput's thread calling processBlock in a loop.
class PdPlayerHandshakeTest : public QObject, private PlayerFixture
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensDirectlyWithoutAStream_data();
    void opensDirectlyWithoutAStream();
    void loadsThroughARunningStream();
    void failedOpenLeavesNoPatch();
    void unloadWithoutAPatchStillHandshakes();
    void stalledStreamGivesUpAndWithdrawsTheRequest();
    void patchEventsFromElsewhere();

private:
    // True when `expected` occurs in `texts` in this order.
    static bool inOrder(const QStringList& texts, const QStringList& expected);

    std::unique_ptr<TestAudioOutput> output;
};

void PdPlayerHandshakeTest::init()
{
    QVERIFY(start(false));
    output = std::make_unique<TestAudioOutput>(player.get());
    player->setAudioOutput(output.get());
}

void PdPlayerHandshakeTest::cleanup()
{
    output->stopStream();
    stop();
    output.reset();
}

bool PdPlayerHandshakeTest::inOrder(const QStringList& texts, const QStringList& expected)
{
    int at = 0;
    for (const QString& text : texts)
        if (at < expected.size() && text == expected[at])
            ++at;
    return at == expected.size();
}

void PdPlayerHandshakeTest::opensDirectlyWithoutAStream_data()
{
    QTest::addColumn<bool>("withOutput");
    QTest::newRow("no audio output") << false;
    QTest::newRow("output without a stream") << true;
}

void PdPlayerHandshakeTest::opensDirectlyWithoutAStream()
{
    QFETCH(bool, withOutput);
    if (!withOutput)
        player->setAudioOutput(nullptr);
    QSignalSpy loaded(player.get(), &PdPlayer::patchLoaded);
    LogCapture log;
    QVERIFY(player->loadPatch(patch->mainPatch()));
    QCOMPARE(loaded.size(), 1);
    QVERIFY(player->isPatchOpen());
    const QStringList debug = log.texts(QtDebugMsg);
    QVERIFY(debug.contains("No audio stream running: opening the patch directly"));
    QVERIFY(!debug.contains("GUI waiting for audio thread to load patch"));
    QCOMPARE(output->muteCalls(), 0);
}

void PdPlayerHandshakeTest::loadsThroughARunningStream()
{
    QStringList namesSeen;
    QObject receiver;
    connect(
        player.get(), &PdPlayer::macroNamesReceived, &receiver,
        [&namesSeen](const QStringList& names) { namesSeen = names; }, Qt::QueuedConnection);
    QSignalSpy loaded(player.get(), &PdPlayer::patchLoaded);
    output->startStream();
    LogCapture log;
    QVERIFY(player->loadPatch(patch->mainPatch()));
    QCOMPARE(loaded.size(), 1);
    QCOMPARE(loaded.first().first().toString(), patch->mainPatch().absoluteFilePath());
    // Nothing was open, so nothing is closed first and nothing is muted.
    QVERIFY(inOrder(log.texts(QtDebugMsg),
                    {"PdPlayer::loadPatch A", "GUI waiting for audio thread to load patch",
                     "PdPlayer::openPatch()", "Received macro names: cutoff(0.5):resonance",
                     "GUI woke up after loading patch"}));
    QVERIFY(!log.texts(QtDebugMsg).contains("GUI waiting for audio thread to unload patch"));
    QCOMPARE(output->muteCalls(), 0);
    // Emitted on the audio thread; GUI objects see it once their loop runs.
    QVERIFY(namesSeen.isEmpty());
    QCoreApplication::processEvents();
    QCOMPARE(namesSeen, QStringList({"cutoff", "resonance"}));

    // Loading again closes and reopens, muted while the sounding patch goes.
    const LatticeNoteEvent root(QStringLiteral("/"));
    player->queueEventGui(&root);
    QVERIFY(output->waitForBlocks(40));
    log.clear();
    QVERIFY(player->loadPatch(patch->mainPatch()));
    QVERIFY(
        inOrder(log.texts(QtDebugMsg),
                {"PdPlayer::loadPatch A", "GUI sleep before unload patch",
                 "GUI waiting for audio thread to unload patch", "GUI sleep after unload patch",
                 "GUI woke up after unloading patch", "GUI waiting for audio thread to load patch",
                 "GUI woke up after loading patch"}));
    QCOMPARE(log.count(QtWarningMsg, "Closing PD patch..."), 1);
    QCOMPARE(log.texts(QtWarningMsg).filter("Opening PD patch: ").size(), 1);
    QCOMPARE(output->muteCalls(), 1);
    QVERIFY(!output->isMuted());
    QCOMPARE(output->loudestMutedSample(), 0.0f);
    QCoreApplication::processEvents();
    QCOMPARE(namesSeen, QStringList({"cutoff", "resonance"}));
    output->stopStream();
    QVERIFY(player->isPatchOpen());
}

void PdPlayerHandshakeTest::failedOpenLeavesNoPatch()
{
    output->startStream();
    QVERIFY(player->loadPatch(patch->mainPatch()));
    QSignalSpy loaded(player.get(), &PdPlayer::patchLoaded);
    LogCapture log;
    const QFileInfo missing(patch->folder() + "/missing.pd");
    QVERIFY(!player->loadPatch(missing));
    QCOMPARE(loaded.size(), 0);
    QCOMPARE(log.count(QtWarningMsg, "Closing PD patch..."), 1);
    QCOMPARE(log.texts(QtCriticalMsg),
             QStringList{"Opening PD patch failed: \"" + patch->folder() + "\" \"missing.pd\""});
    output->stopStream();
    QVERIFY(!player->isPatchOpen());
}

void PdPlayerHandshakeTest::unloadWithoutAPatchStillHandshakes()
{
    output->startStream();
    LogCapture log;
    player->unloadPatch();
    QVERIFY(
        inOrder(log.texts(QtDebugMsg),
                {"GUI sleep before unload patch", "GUI waiting for audio thread to unload patch",
                 "GUI sleep after unload patch", "GUI woke up after unloading patch"}));
    QCOMPARE(log.texts(QtWarningMsg), QStringList{});
    QCOMPARE(output->muteCalls(), 1);
    QVERIFY(!output->isMuted());
}

void PdPlayerHandshakeTest::stalledStreamGivesUpAndWithdrawsTheRequest()
{
    QVERIFY(player->loadPatch(patch->mainPatch())); // directly
    output->stallStream();

    // While the GUI waits in vain, OpenPatch events from elsewhere run on
    // this thread; they must not pass for the answer it waits for.
    LogCapture log;
    std::atomic<bool> done{false};
    bool result = true;
    std::thread gui([&] {
        result = player->loadPatch(patch->mainPatch());
        done = true;
    });
    PdMessageBuffer::Chunk tagOpen{};
    tagOpen.type = LatticeEvent::OpenPatch;
    // Each ignored OpenPatch leaves a debug trace; two seconds of them would
    // swamp the capture.
    QLoggingCategory::setFilterRules("lattice.player.audio.debug=false");
    while (!done) {
        player->executeChunk(&tagOpen);
        std::this_thread::yield();
    }
    gui.join();
    QLoggingCategory::setFilterRules(QString());
    QVERIFY(!result);
    QCOMPARE(log.texts(QtCriticalMsg),
             QStringList{"Audio thread did not answer the request to unload the patch within 2000 "
                         "ms"});
    QVERIFY(!output->isMuted());
    QVERIFY(player->isPatchOpen());

    // The stream goes; a direct load replaces the patch. When a stream runs
    // again, the withdrawn close request must not close the new patch.
    output->stopStream();
    QVERIFY(player->loadPatch(patch->mainPatch()));
    log.clear();
    output->startStream();
    QVERIFY(output->waitForBlocks(4));
    output->stopStream();
    QVERIFY(player->isPatchOpen());
    QCOMPARE(log.count(QtWarningMsg, "Closing PD patch..."), 0);
    QCOMPARE(log.texts(QtDebugMsg).filter("Skipping a withdrawn patch request").size(), 1);
}

void PdPlayerHandshakeTest::patchEventsFromElsewhere()
{
    QSignalSpy names(player.get(), &PdPlayer::macroNamesReceived);
    const LatticeEvent open(LatticeEvent::OpenPatch, 0.0f);
    const LatticeEvent close(LatticeEvent::ClosePatch, 0.0f);
    // Nothing prepared: nothing opens.
    player->queueEventSerial(&open);
    renderFrames(*player, 64);
    QVERIFY(!player->isPatchOpen());
    QCOMPARE(names.size(), 0);

    // A close from a controller tag closes what is open.
    QVERIFY(player->loadPatch(patch->mainPatch()));
    player->queueEventSerial(&close);
    renderFrames(*player, 64);
    QVERIFY(!player->isPatchOpen());
    QCOMPARE(names.last().first().toStringList(), QStringList{});
}

QTEST_GUILESS_MAIN(PdPlayerHandshakeTest)
#include "PdPlayerHandshakeTest.moc"
