#include "LatticeNoteEvent.h"
#include "LogCapture.h"
#include "PlayerMetaTypes.h"
#include "RenderBlocks.h"
#include "SignalLog.h"
#include "TestAudioOutput.h"
#include "TestPatch.h"
#include "ToneAnalysis.h"

#include <QtTest>
#include <atomic>
#include <cmath>
#include <thread>
#include <z_libpd.h>

namespace {
constexpr int sampleRate = 44100;

// What Pd receives on "lattice-in" and "master-vol", as "lattice-in 660 2 1";
// the player's own hook still answers everything else.
QStringList received;
void recordingListHook(const char* source, int argc, t_atom* argv)
{
    if (qstrcmp(source, "lattice-in") == 0 || qstrcmp(source, "master-vol") == 0) {
        QString message = QLatin1String(source);
        for (t_atom* atom = argv; atom && argc-- > 0; atom = libpd_next_atom(atom))
            message += ' ' + QString::number(double(libpd_get_float(atom)));
        received.append(message);
        return;
    }
    PdPlayer::pdListHook(source, argc, argv);
}

// Signals emitted, grouped in declaration order, separated by spaces; what Pd receives by '|'.
void row(const char* name, const char* script, const char* emitted, const char* pd = "")
{
    QTest::newRow(name) << QString(script) << QString(emitted) << QString(pd);
}

void reportStopped(float voiceNumber)
{
    libpd_start_message(1);
    libpd_add_float(voiceNumber);
    libpd_finish_list("voice-stop");
}

LatticeRatio fillRatio(int i)
{
    return LatticeRatio(std::uint64_t(64 + i), 64);
}
} // namespace

// The sound engine with the tests' own patch open; the test's thread plays
// the audio thread unless TestAudioOutput runs a stream.
class PdPlayerTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        registerPlayerMetaTypes();
        patch = std::make_unique<TestPatch>();
        player = std::make_unique<PdPlayer>();
        QVERIFY(patch->isValid() && player->init());
        player->initAudio(2, sampleRate);
        QVERIFY(player->loadPatch(patch->mainPatch()));
        libpd_set_listhook(&recordingListHook);
        bindings = {libpd_bind("lattice-in"), libpd_bind("master-vol")};
        received.clear();
        output = std::make_unique<TestAudioOutput>(player.get());
        player->setAudioOutput(output.get());
    }
    void cleanup()
    {
        if (output)
            output->stopStream();
        for (void* binding : bindings)
            libpd_unbind(binding);
        bindings.clear();
        if (player)
            player->term();
        output.reset();
        player.reset();
        patch.reset();
    }

    void eventsChangeStateAndSignal_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("emitted");
        QTest::addColumn<QString>("pd");
        row("voice volume step and set, not clamped", "3:0.25;3:0.25;4:-0.5",
            "voiceVolumeChanged(1.25) voiceVolumeChanged(1.5) voiceVolumeChanged(-0.5)");
        row("master volume step and set, sent", "5:0.3;6:1.5",
            "volumeChanged(1.1) volumeChanged(1.5)", "master-vol 1.1|master-vol 1.5");
        row("mono above one half", "7:0.51;7:0.5",
            "monophonicChanged(true) monophonicChanged(false)");
        row("patch step up and down", "8:1;8:0;8:-3",
            "patchDecRequested() patchDecRequested() patchIncRequested()");
        row("serial before gui", "9:101;s9:201;9:102;s9:202",
            "baseFrequencyChanged(201) baseFrequencyChanged(202) baseFrequencyChanged(101) "
            "baseFrequencyChanged(102)");
        row("prime toggle truncates; without a flag ignored",
            "10:5.9;10:5;10:-0.5;10:24;10:-1;10:1e9;10:-7",
            "primeEnabledToggled(5,false) primeEnabledToggled(5,true) "
            "primeEnabledToggled(0,false)");
        row("transpose rounds halves up, 0 resets, non-prime refused",
            "2:2.5;2:-2.5;2:4;2:0.4;2:-5;2:7",
            "transposed(3/2,3) transposed(3/4,-2) transposed(1/1,0) transposed(4/5,-5) "
            "transposed(7/5,7)");
        row("macros go to all voices", "13:0.25;18:1",
            "macroValueChanged(3,0.25) macroValueChanged(8,1)",
            "lattice-in 0.25 6 0|lattice-in 1 11 0");
        row("unknown kinds and invalid paths are ignored", "24:1;-1:1;100:0;/4;/3/x;+3/4;+9", "");
        row("note on with frequency, volume, gate", "4:0.5;/3",
            "noteToggled(3/2,true) voiceVolumeChanged(0.5)",
            "lattice-in 660 2 1|lattice-in 0.5 3 1|lattice-in 1 1 1");
        row("only the last step's prime (root: 0) is checked", "10:5;10:0;/3/-5;/;/-5/3",
            "noteToggled(6/5,true) primeEnabledToggled(5,false) primeEnabledToggled(0,false)",
            "lattice-in 528 2 1|lattice-in 1 3 1|lattice-in 1 1 1");
        row("inaudible notes hold a slot", "/-2/-2/-2/-2/-2;/2/2/2/2/2/2;/-2",
            "noteToggled(1/32,true) noteToggled(64/1,true) noteToggled(1/2,true)",
            "lattice-in 220 2 3|lattice-in 1 3 3|lattice-in 1 1 3");
        row("mono releases the previous note; poly and back forgets it", "7:1;/3;/5;7:0;7:1;/7",
            "noteToggled(3/2,true) noteToggled(3/2,false) noteToggled(5/4,true) "
            "noteToggled(7/4,true) monophonicChanged(true) monophonicChanged(false) "
            "monophonicChanged(true)",
            "lattice-in 660 2 1|lattice-in 1 3 1|lattice-in 1 1 1|lattice-in 0 1 1|"
            "lattice-in 550 2 2|lattice-in 1 3 2|lattice-in 1 1 2|lattice-in 770 2 3|"
            "lattice-in 1 3 3|lattice-in 1 1 3");
        row("close outside the handshake releases the notes; nothing prepared opens nothing",
            "/3;20:0;19:0", "noteToggled(3/2,true) noteToggled(3/2,false) macroNamesReceived([])",
            "lattice-in 660 2 1|lattice-in 1 3 1|lattice-in 1 1 1|lattice-in 0 1 1");
        row("macro answer: defaults, empty name, unreadable default",
            "?cutoff(0.5):resonance::gain(x)",
            "macroNamesReceived([cutoff|resonance||gain]) macroDefaultsReceived([0.5 -1 -1 0])");
        row("macro answer: closing bracket first", "?a)b(c",
            "macroNamesReceived([a)b(c]) macroDefaultsReceived([-1])");
        row("macro answer: empty", "?", "macroNamesReceived([]) macroDefaultsReceived([-1])");
    }
    void eventsChangeStateAndSignal()
    {
        QFETCH(QString, script);
        QFETCH(QString, emitted);
        QFETCH(QString, pd);
        SignalLog signalLog(player.get());
        run(script);
        QCOMPARE(signalLog.take().join(' '), emitted);
        QCOMPARE(received.join('|'), pd);
    }

    // 23^14/16^14 still fits in 64 bits, 23^15 does not. A note whose
    // transposed ratio cannot be formed ("/23") is refused the same way;
    // "/-2" plays half the transposition.
    void overflowingProductsAreRefused()
    {
        SignalLog signalLog(player.get());
        run(QString("2:23;").repeated(16) + "/23;/-2");
        const QStringList emitted = signalLog.take();
        QCOMPARE(emitted.size(), 15);
        QCOMPARE(emitted.first(), "noteToggled(11592836324538749809/144115188075855872,true)");
        QCOMPARE(player->transposition(), LatticeRatio(11592836324538749809ull, 1ull << 56));
    }

    // Toggled while its release still sounds, a note restarts on a free slot.
    // The patch's stop report frees the old slot and leaves the map alone;
    // one for a sounding or free slot, or for no slot at all, changes nothing.
    void stopReportsFreeOnlyReleasedSlots()
    {
        const LatticeRatio fifth(3, 2);
        run("/3");
        renderFrames(*player, 1024); // a sounding voice is never reported silent
        run("/3;/3");
        SignalLog signalLog(player.get());
        for (float voice : {2.0f, 3.0f, 0.0f, 129.0f}) {
            reportStopped(voice);
            QVERIFY(player->voiceSlot(0).released && !player->voiceSlot(0).isFree());
            QVERIFY(!player->voiceSlot(1).released && !player->voiceSlot(1).isFree());
            QCOMPARE(player->noteMapSlot(fifth), 1);
        }
        renderFrames(*player, 8192);
        QVERIFY(player->voiceSlot(0).isFree());
        QCOMPARE(player->noteMapSlot(fifth), 1);
        QCOMPARE(signalLog.take(), QStringList{});
    }

    void stealsTheOldestNote_data()
    {
        QTest::addColumn<quint32>("counterStart");
        QTest::addColumn<int>("releasedSlot");
        QTest::newRow("all sounding") << 0u << -1;
        QTest::newRow("a younger releasing slot is not preferred") << 0u << 5;
        QTest::newRow("the oldest is releasing") << 0u << 0;
        QTest::newRow("no seq below 2^31 - 1") << 2147483646u << -1;
        QTest::newRow("counter wraps while filling") << 4294967200u << -1;
    }
    void stealsTheOldestNote()
    {
        QFETCH(quint32, counterStart);
        QFETCH(int, releasedSlot);
        player->restartSequenceAt(counterStart);
        for (int i = 0; i < PdPlayer::voiceCount; ++i)
            player->noteOn(fillRatio(i));
        if (releasedSlot >= 0)
            player->noteOff(fillRatio(releasedSlot));
        player->deliverNotices();

        SignalLog signalLog(player.get());
        received.clear();
        const LatticeRatio newcomer(7, 4);
        player->noteOn(newcomer);
        player->deliverNotices();
        const QString released = releasedSlot == 0 ? "" : "noteToggled(1/1,false) ";
        QCOMPARE(signalLog.take().join(' '), released + "noteToggled(7/4,true)");
        QCOMPARE(player->noteMapSlot(newcomer), 0);
        // A sounding victim is released first; the newcomer then starts on its slot.
        QCOMPARE(received.join('|'), QString(releasedSlot == 0 ? "" : "lattice-in 0 1 1|") +
                                         "lattice-in 770 2 1|lattice-in 1 3 1|lattice-in 1 1 1");
        // The next steal takes the next oldest.
        player->noteOn(LatticeRatio(11, 8));
        QCOMPARE(player->noteMapSlot(LatticeRatio(11, 8)), 1);
        // A released voice that reported itself silent frees its slot: no steal.
        player->noteOff(fillRatio(9));
        reportStopped(10.0f);
        player->noteOn(LatticeRatio(13, 8));
        QCOMPARE(player->noteMapSlot(LatticeRatio(13, 8)), 9);
        QCOMPARE(player->noteMapSlot(fillRatio(2)), 2);
    }

    // Through a running stream the audio thread opens the patch.
    void loadsThroughARunningStream()
    {
        player->unloadPatch();
        QSignalSpy names(player.get(), &PdPlayer::macroNamesReceived);
        QSignalSpy loaded(player.get(), &PdPlayer::patchLoaded);
        output->startStream();
        LogCapture log;
        QVERIFY(player->loadPatch(patch->mainPatch()));
        QCOMPARE(loaded.size(), 1);
        QCOMPARE(loaded.first().first().toString(), patch->mainPatch().absoluteFilePath());
        QCOMPARE(output->muteCalls(), 0); // nothing was open to close
        QTRY_COMPARE(names.value(0).value(0).toStringList(), QStringList({"cutoff", "resonance"}));

        // Loading again closes and reopens, muted while the sounding patch goes.
        const LatticeNoteEvent root(QStringLiteral("/"));
        player->queueEventGui(&root); // the stream's thread plays it
        const long long before = output->blocks();
        QTRY_VERIFY(output->blocks() >= before + 40);
        log.clear();
        QVERIFY(player->loadPatch(patch->mainPatch()));
        QCOMPARE(log.count(QtWarningMsg, "Closing PD patch..."), 1);
        QCOMPARE(output->muteCalls(), 1);
        QVERIFY(!output->isMuted());
        output->stopStream();
        QCOMPARE(loaded.size(), 2);
    }

    void stalledStreamGivesUpAndWithdrawsTheRequest()
    {
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
        const PdMessageBuffer::Chunk tagOpen{LatticeEvent::OpenPatch, {}, 0, 0.0f};
        while (!done) {
            player->executeChunk(&tagOpen);
            std::this_thread::yield();
        }
        gui.join();
        QVERIFY(!result);
        QCOMPARE(log.texts(QtCriticalMsg),
                 QStringList{"Audio thread did not answer the request to unload the patch "
                             "within 2000 ms"});
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

    // A mute (as a patch change does) fades out over 10 ms, an unmute back in.
    void muteFadesAndPatchlessBlocksAreSilent()
    {
        run("/");
        const std::vector<float> held = renderLeft(*player, sampleRate / 10);
        const float heldStep = ToneAnalysis::largestStep(held);
        std::vector<float> fadeOut{held.back()};
        for (float sample : renderLeft(*player, 1024, true))
            fadeOut.push_back(sample);
        QVERIFY2(ToneAnalysis::largestStep(fadeOut) <= 1.1f * heldStep,
                 qPrintable(QString::number(ToneAnalysis::largestStep(fadeOut))));
        QVERIFY(ToneAnalysis::peakLevel({fadeOut.begin() + 200, fadeOut.begin() + 400}) > 0.1f);
        QCOMPARE(ToneAnalysis::peakLevel({fadeOut.end() - 512, fadeOut.end()}), 0.0f);
        const std::vector<float> fadeIn = renderLeft(*player, 1024);
        QVERIFY(std::fabs(fadeIn.front()) < 0.01f);
        QVERIFY(ToneAnalysis::largestStep(fadeIn) <= 1.1f * heldStep);
        QVERIFY(ToneAnalysis::peakLevel({fadeIn.end() - 256, fadeIn.end()}) > 0.9f);

        player->unloadPatch();
        std::vector<float> block(512, 7.0f);
        player->processBlock(block.data(), 256, false);
        QCOMPARE(ToneAnalysis::peakLevel(block), 0.0f);
    }

    // A count that is not a positive multiple of 64 is rounded up.
    void framesAreAlignedToPdBlocks()
    {
        for (const auto& [requested, used] :
             {std::pair{64, 64}, {100, 128}, {-512, 64}, {2147483647, 2147483584}})
            QCOMPARE(PdPlayer::blockAlignedFrames(requested), used);
    }

    // The controller, the audio thread and the screen delivering, at once:
    // every event arrives once, in order, and comes back (races: TSan).
    void aProducerAndTheAudioThreadRunTogether()
    {
        constexpr int count = 20000, lead = 500; // lead: ahead of the notices, so nothing fills
        std::atomic<int> seen{0};
        bool ordered = true;
        player->setVoiceVolume(0.0f); // where the count starts
        player->deliverNotices();
        QObject context;
        connect(player.get(), &PdPlayer::voiceVolumeChanged, &context, [&](float value) {
            ordered = ordered && int(value) == seen + 1;
            ++seen;
        });
        std::thread audio([&] {
            std::vector<float> block(2 * 64);
            while (player->voiceVolume() < count)
                player->processBlock(block.data(), 64, false);
        });
        std::thread controller([&] {
            for (int i = 1; i <= count; ++i) {
                while (i - seen > lead)
                    std::this_thread::yield();
                const LatticeEvent event(LatticeEvent::VoiceVolumeSet, float(i));
                player->queueEventSerial(&event);
            }
        });
        while (seen < count && player->droppedNotices() == 0)
            player->deliverNotices();
        controller.join();
        audio.join();
        QVERIFY(ordered);
        QCOMPARE(int(seen), count);
    }

    // Once per delivery; other notices keep their place between them.
    void togglesOfOneNoteAreDeliveredAsTheirLastState()
    {
        QStringList emitted;
        QObject context;
        connect(player.get(), &PdPlayer::noteToggled, &context,
                [&](const LatticeRatio& ratio, bool on) {
                    emitted << ratio.toString() + (on ? '+' : '-');
                });
        connect(player.get(), &PdPlayer::voiceVolumeChanged, &context,
                [&](float volume) { emitted << QString::number(double(volume)); });
        queueScript("/3;/5;/3;/3;4:0.5;/5;/3;/7;/7");
        std::thread audio([this] { renderFrames(*player, 64); });
        audio.join();
        player->deliverNotices();
        QCOMPARE(emitted.join(' '), "3/2+ 5/4+ 0.5 5/4- 3/2- 7/4-");
    }

    // It keeps what it holds. (Its wrap-around: the producer test above.)
    void fullCommandBufferDropsWhatComes()
    {
        PdMessageBuffer buffer;
        QVERIFY(buffer.create());
        constexpr int fits = PdMessageBuffer::maxChunks - 1; // libpd keeps a byte free
        for (int i = 0; i < fits + 10; ++i) {
            const LatticeEvent event(LatticeEvent::VoiceVolumeSet, float(i));
            buffer.writeEvent(&event);
        }
        PdMessageBuffer::ChunkList list;
        buffer.readChunks(list);
        QCOMPARE(list.count, fits);
        QCOMPARE(list.chunks[fits - 1]->value, float(fits - 1));
        QCOMPARE(buffer.bytesWaiting(), 0);
    }

    // On "output-voice-info": one unasked, or after the answer, changes nothing.
    void macroAnswersCountOnlyAfterAQuery()
    {
        QSignalSpy names(player.get(), &PdPlayer::macroNamesReceived);
        const auto answer = [](const char* text) {
            libpd_start_message(2);
            libpd_add_float(1.0f);
            libpd_add_symbol(text);
            libpd_finish_list("output-voice-info");
        };
        answer("unasked");
        QCOMPARE(names.size(), 0);
        player->sendPdQueryMacrosMessage(); // the tests' patch answers at once
        answer("late");
        QCOMPARE(names.size(), 1);
        QCOMPARE(names.first().first().toStringList(), QStringList({"cutoff", "resonance"}));
    }

    // Beyond the notice ring the excess is dropped and counted; a delivery is bounded.
    void aFloodOfNoticesLosesNoPatchStep()
    {
        QSignalSpy volumes(player.get(), &PdPlayer::voiceVolumeChanged);
        QSignalSpy steps(player.get(), &PdPlayer::patchIncRequested);
        std::thread audio([this] {
            for (int i = 0; i < int(PdPlayer::noticeCapacity) + 100; ++i)
                player->setVoiceVolume(float(i));
            const PdMessageBuffer::Chunk step{LatticeEvent::PatchStep, {}, 0, 1.0f};
            player->executeChunk(&step);
        });
        audio.join();
        player->deliverNotices();
        QCOMPARE(volumes.size(), PdPlayer::noticesPerDelivery);
        QCOMPARE(steps.size(), 1);
        while (volumes.size() < int(PdPlayer::noticeCapacity) - 1)
            player->deliverNotices();
        QCOMPARE(player->droppedNotices(), quint64(101));
        QCOMPARE(steps.size(), 1);
    }

private:
    // Runs items separated by ';': "kind:value" (queued as serial with a
    // leading 's'), "/path" note toggles, "+3/4" toggles of unchecked paths
    // (as a buggy producer might send) and "?answer" the patch's macro answer.
    void run(const QString& script)
    {
        queueScript(script);
        player->processCommandBuffers();
    }
    void queueScript(const QString& script)
    {
        for (const QString& item : script.split(';', Qt::SkipEmptyParts)) {
            if (item.startsWith('?')) {
                player->onMacroNamesReceived(item.mid(1).toUtf8().constData());
            } else if (item.startsWith('/') || item.startsWith('+')) {
                LatticePath path = item.startsWith('/') ? LatticePath(item) : LatticePath();
                if (item.startsWith('+'))
                    for (const QString& step : item.mid(1).split('/'))
                        path.append(step.toInt());
                const LatticeNoteEvent event(path);
                player->queueEventGui(&event);
            } else {
                const bool serial = item.startsWith('s');
                const LatticeEvent event(item.mid(serial ? 1 : 0).section(':', 0, 0).toInt(),
                                         item.section(':', 1, 1).toFloat());
                serial ? player->queueEventSerial(&event) : player->queueEventGui(&event);
            }
        }
    }

    std::unique_ptr<TestPatch> patch;
    std::unique_ptr<PdPlayer> player;
    std::unique_ptr<TestAudioOutput> output;
    std::vector<void*> bindings;
};

QTEST_GUILESS_MAIN(PdPlayerTest)
#include "PdPlayerTest.moc"
