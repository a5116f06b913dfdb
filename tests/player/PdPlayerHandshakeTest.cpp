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

// Opening and closing patches between the GUI thread and the audio thread,
// played by TestAudioOutput's thread calling processBlock in a loop.
class PdPlayerHandshakeTest : public QObject, private PlayerFixture
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(start(false));
        output = std::make_unique<TestAudioOutput>(player.get());
        player->setAudioOutput(output.get());
    }
    void cleanup()
    {
        output->stopStream();
        stop();
        output.reset();
    }

    void opensDirectlyWithoutAStream_data();
    void opensDirectlyWithoutAStream();
    void loadsThroughARunningStream();
    void stalledStreamGivesUpAndWithdrawsTheRequest();
    void patchEventsFromElsewhere();

private:
    std::unique_ptr<TestAudioOutput> output;
};

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
    QVERIFY(log.texts(QtDebugMsg).contains("No audio stream running: opening the patch directly"));
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
    QVERIFY(log.texts(QtDebugMsg).contains("GUI woke up after loading patch"));
    QCOMPARE(output->muteCalls(), 0); // nothing was open to close
    // Emitted on the audio thread; GUI objects see it once their loop runs.
    QVERIFY(namesSeen.isEmpty());
    QCoreApplication::processEvents();
    QCOMPARE(namesSeen, QStringList({"cutoff", "resonance"}));

    // Loading again closes and reopens, muted while the sounding patch goes.
    const LatticeNoteEvent root(QStringLiteral("/"));
    player->queueEventGui(&root);
    const long long before = output->blocks();
    QTRY_VERIFY(output->blocks() >= before + 40);
    log.clear();
    QVERIFY(player->loadPatch(patch->mainPatch()));
    QCOMPARE(log.count(QtWarningMsg, "Closing PD patch..."), 1);
    QCOMPARE(log.texts(QtWarningMsg).filter("Opening PD patch: ").size(), 1);
    QCOMPARE(output->muteCalls(), 1);
    QVERIFY(!output->isMuted());
    output->stopStream();
    QCOMPARE(loaded.size(), 2);
    QVERIFY(player->isPatchOpen());
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
    // Two seconds of ignored OpenPatch traces would swamp the capture.
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

    // A direct load replaces the patch; when a stream runs again, the
    // withdrawn close request must not close the new patch.
    output->stopStream();
    QVERIFY(player->loadPatch(patch->mainPatch()));
    log.clear();
    const long long before = output->blocks();
    output->startStream();
    QTRY_VERIFY(output->blocks() >= before + 4);
    output->stopStream();
    QVERIFY(player->isPatchOpen());
    QCOMPARE(log.count(QtWarningMsg, "Closing PD patch..."), 0);
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
