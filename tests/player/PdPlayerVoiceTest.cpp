#include "LatticeNoteEvent.h"
#include "LogCapture.h"
#include "PdPlayer.h"
#include "PlayerFixture.h"
#include "RenderBlocks.h"
#include "SignalLog.h"

#include <QtTest>
#include <z_libpd.h>

// Voice allocation: slots, the note map, stealing, stop reports. The
// test patch releases a voice in 50 ms and then reports it on "voice-stop".
class PdPlayerVoiceTest : public QObject, private PlayerFixture
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(start()); }
    void cleanup() { stop(); }

    void releasedNoteRestartsOnANewSlot();
    void stealsTheOldestNote_data();
    void stealsTheOldestNote();
    void stopReportsOnlyFreeReleasedSlots_data();
    void stopReportsOnlyFreeReleasedSlots();
    void inaudibleNotesHoldASlot();

private:
    void queue(const LatticeEvent& event)
    {
        player->queueEventGui(&event);
        player->processCommandBuffers();
    }
    void toggle(const QString& path) { queue(LatticeNoteEvent(path)); }
    void fillAllSlots()
    {
        for (int i = 0; i < PdPlayer::voiceCount; ++i)
            player->noteOn(fillRatio(i));
    }
    static void reportStopped(float voiceNumber)
    {
        libpd_start_message(1);
        libpd_add_float(voiceNumber);
        libpd_finish_list("voice-stop");
    }
    static LatticeRatio fillRatio(int i) { return LatticeRatio(std::uint64_t(64 + i), 64); }
};

void PdPlayerVoiceTest::releasedNoteRestartsOnANewSlot()
{
    const LatticeRatio fifth(3, 2);
    toggle("/3");
    renderFrames(*player, 1024); // a sounding voice is never reported silent
    toggle("/3");
    QVERIFY(player->voiceSlot(0).released);
    // Released but still sounding: the toggle starts it again on a free slot,
    // not on the releasing slot 0.
    toggle("/3");
    QCOMPARE(player->noteMapSlot(fifth), 1);
    QVERIFY(!player->voiceSlot(1).released && player->voiceSlot(0).released);

    // The old voice's stop report frees it and leaves the map alone.
    renderFrames(*player, 8192);
    QVERIFY(player->voiceSlot(0).isFree());
    QCOMPARE(player->noteMapSlot(fifth), 1);

    // All notes off keeps the entry until the patch reports the voice.
    queue(LatticeEvent(LatticeEvent::AllNotesOff, 1.0f));
    QCOMPARE(player->noteMapSlot(fifth), 1);
    QVERIFY(player->voiceSlot(1).released);
    renderFrames(*player, 8192);
    QVERIFY(player->voiceSlot(1).isFree());
    QCOMPARE(player->noteMapSlot(fifth), -1);
}

void PdPlayerVoiceTest::stealsTheOldestNote_data()
{
    QTest::addColumn<quint32>("counterStart");
    QTest::addColumn<int>("releasedSlot");
    QTest::newRow("all sounding") << 0u << -1;
    QTest::newRow("a younger releasing slot is not preferred") << 0u << 5;
    QTest::newRow("the oldest is releasing") << 0u << 0;
    QTest::newRow("no seq below 2^31 - 1") << 2147483646u << -1;
    QTest::newRow("counter wraps while filling") << 4294967200u << -1;
}

void PdPlayerVoiceTest::stealsTheOldestNote()
{
    QFETCH(quint32, counterStart);
    QFETCH(int, releasedSlot);
    player->restartSequenceAt(counterStart);
    fillAllSlots();
    if (releasedSlot >= 0)
        player->noteOff(fillRatio(releasedSlot));

    SignalLog signalLog(player.get());
    LogCapture log;
    const LatticeRatio newcomer(7, 4);
    player->noteOn(newcomer);
    QCOMPARE(signalLog.take().join(' '),
             QString(releasedSlot == 0 ? "" : "noteToggled(1/1,false) ") + "noteToggled(7/4,true)");
    QCOMPARE(player->voiceSlot(0).ratio, newcomer);
    QCOMPARE(player->noteMapSlot(newcomer), 0);
    QCOMPARE(player->noteMapSlot(fillRatio(0)), -1);
    const QStringList debug = log.texts(QtDebugMsg);
    const QRegularExpression stolen(
        "^noteOn for ratio \"7/4\" freq 770 voice 0 seqId \\d+ stolen true$");
    QCOMPARE(debug.filter(stolen).size(), 1);
    QCOMPARE(debug.contains("pd lattice-in message: value 0 param 1 voice 1"), releasedSlot != 0);

    // The next steal takes the next oldest.
    player->noteOn(LatticeRatio(11, 8));
    QCOMPARE(player->noteMapSlot(LatticeRatio(11, 8)), 1);

    // Once a released voice reports itself silent, its slot is free again
    // and the next note takes it without stealing.
    player->noteOff(fillRatio(9));
    reportStopped(10.0f);
    player->noteOn(LatticeRatio(13, 8));
    QCOMPARE(player->noteMapSlot(LatticeRatio(13, 8)), 9);
    QCOMPARE(player->noteMapSlot(fillRatio(2)), 2);
}

void PdPlayerVoiceTest::stopReportsOnlyFreeReleasedSlots_data()
{
    QTest::addColumn<float>("voiceNumber");
    QTest::addColumn<bool>("frees");
    QTest::newRow("released slot") << 2.0f << true;
    QTest::newRow("fraction truncates") << 2.7f << true;
    QTest::newRow("sounding slot: stale") << 1.0f << false;
    QTest::newRow("free slot") << 3.0f << false;
    QTest::newRow("voice 0") << 0.0f << false;
    QTest::newRow("beyond 128") << 129.0f << false;
    QTest::newRow("negative") << -3.0f << false;
}

void PdPlayerVoiceTest::stopReportsOnlyFreeReleasedSlots()
{
    QFETCH(float, voiceNumber);
    QFETCH(bool, frees);
    toggle("/3");
    toggle("/5");
    toggle("/5"); // slot 1 releasing
    SignalLog signalLog(player.get());
    reportStopped(voiceNumber);
    QCOMPARE(signalLog.take(), QStringList{});
    QVERIFY(!player->voiceSlot(0).isFree() && !player->voiceSlot(0).released);
    QCOMPARE(player->voiceSlot(1).isFree(), frees);
    QCOMPARE(player->voiceSlot(1).released, !frees);
    QCOMPARE(player->noteMapSlot(LatticeRatio(5, 4)), frees ? -1 : 1);
    QCOMPARE(player->noteMapSlot(LatticeRatio(3, 2)), 0);
}

void PdPlayerVoiceTest::inaudibleNotesHoldASlot()
{
    SignalLog signalLog(player.get());
    LogCapture log;
    player->noteOn(LatticeRatio(1, 32)); // 13.75 Hz
    player->noteOn(LatticeRatio(50));    // 22 kHz
    player->noteOn(LatticeRatio(1, 2));  // 220 Hz
    QCOMPARE(signalLog.take().join(' '),
             "noteToggled(1/32,true) noteToggled(50/1,true) noteToggled(1/2,true)");
    QCOMPARE(log.texts(QtDebugMsg).filter("pd lattice-in message"),
             QStringList({"pd lattice-in message: value 220 param 2 voice 3",
                          "pd lattice-in message: value 1 param 3 voice 3",
                          "pd lattice-in message: value 1 param 1 voice 3"}));
    QVERIFY(!player->voiceSlot(0).isFree() && !player->voiceSlot(1).isFree());
}

QTEST_GUILESS_MAIN(PdPlayerVoiceTest)
#include "PdPlayerVoiceTest.moc"
