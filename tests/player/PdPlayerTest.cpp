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
} // namespace

// The sound engine: events, voice allocation, the patch handshake, and what
// the rendered blocks hold (pitches, silence). Each test starts with libpd at
// 44.1 kHz stereo and the tests' own patch open, whose voices release in 50 ms and then report on
// "voice-stop". The test's thread plays the audio thread unless
// TestAudioOutput runs a stream.
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

    void eventsChangeStateAndSignal_data();
    void eventsChangeStateAndSignal();
    void overflowingProductsAreRefused();
    void releasedNoteRestartsOnANewSlot();
    void stealsTheOldestNote_data();
    void stealsTheOldestNote();
    void stopReportsOnlyFreeReleasedSlots_data();
    void stopReportsOnlyFreeReleasedSlots();
    void inaudibleNotesHoldASlot();
    void loadsDirectlyOrThroughARunningStream();
    void stalledStreamGivesUpAndWithdrawsTheRequest();
    void playsTheRatioAboveTheBase_data();
    void playsTheRatioAboveTheBase();
    void muteFadesAndPatchlessBlocksAreSilent();
    void framesAreAlignedToPdBlocks_data();
    void framesAreAlignedToPdBlocks();
    void producersAndTheAudioThreadRunTogether();
    void macroAnswersCountOnlyAfterAQuery();
    void aFloodOfNoticesLosesNoPatchStep();

private:
    // Runs items separated by ';': "kind:value" (queued as serial with a
    // leading 's'), "/path" note toggles, "+3/4" toggles of unchecked paths
    // (as a buggy producer might send) and "?answer" the patch's macro answer.
    void run(const QString& script)
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
        player->processCommandBuffers();
    }
    static void reportStopped(float voiceNumber)
    {
        libpd_start_message(1);
        libpd_add_float(voiceNumber);
        libpd_finish_list("voice-stop");
    }
    static LatticeRatio fillRatio(int i) { return LatticeRatio(std::uint64_t(64 + i), 64); }
    void queue(int type, float value)
    {
        const LatticeEvent event(type, value);
        player->queueEventGui(&event);
    }
    std::vector<float> leftChannel(int frames)
    {
        return ToneAnalysis::channel(renderFrames(*player, frames), 0);
    }
    std::unique_ptr<TestPatch> patch;
    std::unique_ptr<PdPlayer> player;
    std::unique_ptr<TestAudioOutput> output;
    std::vector<void*> bindings;
};

namespace {
// Emitted signals are separated by spaces, grouped by signal in declaration
// order; what Pd receives and expected warnings by '|'.
void row(const char* name, const char* script, const char* emitted, const char* pd = "",
         const char* warnings = "")
{
    QTest::newRow(name) << QString(script) << QString(emitted) << QString(pd) << QString(warnings);
}
} // namespace

void PdPlayerTest::eventsChangeStateAndSignal_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("emitted");
    QTest::addColumn<QString>("pd");
    QTest::addColumn<QString>("warnings");
    row("voice volume step and set, not clamped", "3:0.25;3:0.25;4:-0.5",
        "voiceVolumeChanged(1.25) voiceVolumeChanged(1.5) voiceVolumeChanged(-0.5)");
    row("master volume step and set, sent", "5:0.3;6:1.5", "volumeChanged(1.1) volumeChanged(1.5)",
        "master-vol 1.1|master-vol 1.5");
    row("mono above one half", "7:0.51;7:0.5", "monophonicChanged(true) monophonicChanged(false)");
    row("patch step up and down", "8:1;8:0;8:-3",
        "patchDecRequested() patchDecRequested() patchIncRequested()");
    row("serial before gui", "9:101;s9:201;9:102;s9:202",
        "baseFrequencyChanged(201) baseFrequencyChanged(202) baseFrequencyChanged(101) "
        "baseFrequencyChanged(102)");
    row("prime toggle truncates; without a flag ignored",
        "10:5.9;10:5;10:-0.5;10:24;10:-1;10:1e9;10:-7",
        "primeEnabledToggled(5,false) primeEnabledToggled(5,true) primeEnabledToggled(0,false)");
    row("transpose rounds halves up, 0 resets, non-prime refused",
        "2:2.5;2:-2.5;2:4;2:0.4;2:-5;2:7",
        "transposed(3/2,3) transposed(3/4,-2) transposed(1/1,0) transposed(4/5,-5) "
        "transposed(7/5,7)",
        "", "Transpose refused: 4 is not a prime step");
    row("macros go to all voices", "13:0.25;18:1",
        "macroValueChanged(3,0.25) macroValueChanged(8,1)",
        "lattice-in 0.25 6 0|lattice-in 1 11 0");
    row("unknown kinds are ignored", "21:1;-1:1;100:0", "");
    row("note on with frequency, volume, gate", "4:0.5;/3",
        "noteToggled(3/2,true) voiceVolumeChanged(0.5)",
        "lattice-in 660 2 1|lattice-in 0.5 3 1|lattice-in 1 1 1");
    row("note is transposed", "2:3;/3", "noteToggled(9/4,true) transposed(3/2,3)",
        "lattice-in 990 2 1|lattice-in 1 3 1|lattice-in 1 1 1");
    row("only the last step's prime (root: 0) is checked", "10:5;10:0;/3/-5;/;/-5/3",
        "noteToggled(6/5,true) primeEnabledToggled(5,false) primeEnabledToggled(0,false)",
        "lattice-in 528 2 1|lattice-in 1 3 1|lattice-in 1 1 1");
    row("invalid paths are ignored", "/4;/3/x;+3/4;+9", "");
    row("mono releases the previous note", "7:1;/3;/5",
        "noteToggled(3/2,true) noteToggled(3/2,false) noteToggled(5/4,true) "
        "monophonicChanged(true)",
        "lattice-in 660 2 1|lattice-in 1 3 1|lattice-in 1 1 1|lattice-in 0 1 1|"
        "lattice-in 550 2 2|lattice-in 1 3 2|lattice-in 1 1 2");
    row("poly and back forgets the mono voice", "7:1;/3;7:0;7:1;/5",
        "noteToggled(3/2,true) noteToggled(5/4,true) monophonicChanged(true) "
        "monophonicChanged(false) monophonicChanged(true)",
        "lattice-in 660 2 1|lattice-in 1 3 1|lattice-in 1 1 1|lattice-in 550 2 2|lattice-in 1 3 "
        "2|lattice-in 1 1 2");
    row("second toggle is note off", "/3;/3", "noteToggled(3/2,true) noteToggled(3/2,false)",
        "lattice-in 660 2 1|lattice-in 1 3 1|lattice-in 1 1 1|lattice-in 0 1 1");
    row("all notes off releases every note", "/3;/5;1:1",
        "noteToggled(3/2,true) noteToggled(5/4,true) noteToggled(3/2,false) "
        "noteToggled(5/4,false)");
    row("close outside the handshake releases the notes; nothing prepared opens nothing",
        "/3;20:0;19:0", "noteToggled(3/2,true) noteToggled(3/2,false) macroNamesReceived([])",
        "lattice-in 660 2 1|lattice-in 1 3 1|lattice-in 1 1 1|lattice-in 0 1 1",
        "Closing PD patch...");
    row("macro answer: defaults, empty name, unreadable default", "?cutoff(0.5):resonance::gain(x)",
        "macroNamesReceived([cutoff|resonance||gain]) macroDefaultsReceived([0.5 -1 -1 0])");
    row("macro answer: closing bracket first", "?a)b(c",
        "macroNamesReceived([a)b(c]) macroDefaultsReceived([-1])");
    row("macro answer: space before bracket stays", "?bright (0.25):Q(3)",
        "macroNamesReceived([bright |Q]) macroDefaultsReceived([0.25 3])");
    row("macro answer: empty", "?", "macroNamesReceived([]) macroDefaultsReceived([-1])");
}

void PdPlayerTest::eventsChangeStateAndSignal()
{
    QFETCH(QString, script);
    QFETCH(QString, emitted);
    QFETCH(QString, pd);
    QFETCH(QString, warnings);
    SignalLog signalLog(player.get());
    LogCapture log;
    run(script);
    QStringList actual = signalLog.take();
    if (script.endsWith(QLatin1String("1:1"))) // all notes off goes in slot order
        std::sort(actual.begin() + 2, actual.end());
    QCOMPARE(actual.join(' '), emitted);
    if (!script.endsWith(QLatin1String("1:1")))
        QCOMPARE(received.join('|'), pd);
    for (const QString& warning : warnings.split('|', Qt::SkipEmptyParts))
        QVERIFY2(log.texts(QtWarningMsg).contains(warning), qPrintable(warning));
}

void PdPlayerTest::overflowingProductsAreRefused()
{
    // 23^14/16^14 still fits in 64 bits, 23^15 does not. A note whose
    // transposed ratio cannot be formed ("/23") is refused the same way;
    // "/-2" plays half the transposition.
    SignalLog signalLog(player.get());
    LogCapture log;
    run(QString("2:23;").repeated(16) + "/23;/-2");
    const QStringList emitted = signalLog.take();
    QCOMPARE(emitted.size(), 15);
    QCOMPARE(emitted.first(), "noteToggled(11592836324538749809/144115188075855872,true)");
    QCOMPARE(player->transposition(), LatticeRatio(11592836324538749809ull, 1ull << 56));
    QCOMPARE(log.texts(QtWarningMsg).filter("Transpose refused").size(), 2);
    QCOMPARE(log.texts(QtWarningMsg).filter("NoteToggle refused").size(), 1);
}

void PdPlayerTest::releasedNoteRestartsOnANewSlot()
{
    const LatticeRatio fifth(3, 2);
    run("/3");
    renderFrames(*player, 1024); // a sounding voice is never reported silent
    // Released but still sounding: the toggle starts it again on a free slot,
    // not on the releasing slot 0.
    run("/3;/3");
    QCOMPARE(player->noteMapSlot(fifth), 1);
    QVERIFY(!player->voiceSlot(1).released && player->voiceSlot(0).released);

    // The old voice's stop report frees it and leaves the map alone.
    renderFrames(*player, 8192);
    QVERIFY(player->voiceSlot(0).isFree());
    QCOMPARE(player->noteMapSlot(fifth), 1);

    // All notes off keeps the entry until the patch reports the voice.
    run("1:1");
    QCOMPARE(player->noteMapSlot(fifth), 1);
    QVERIFY(player->voiceSlot(1).released);
    renderFrames(*player, 8192);
    QVERIFY(player->voiceSlot(1).isFree());
    QCOMPARE(player->noteMapSlot(fifth), -1);
}

void PdPlayerTest::stealsTheOldestNote_data()
{
    QTest::addColumn<quint32>("counterStart");
    QTest::addColumn<int>("releasedSlot");
    QTest::newRow("all sounding") << 0u << -1;
    QTest::newRow("a younger releasing slot is not preferred") << 0u << 5;
    QTest::newRow("the oldest is releasing") << 0u << 0;
    QTest::newRow("no seq below 2^31 - 1") << 2147483646u << -1;
    QTest::newRow("counter wraps while filling") << 4294967200u << -1;
}

void PdPlayerTest::stealsTheOldestNote()
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
    QCOMPARE(signalLog.take().join(' '),
             QString(releasedSlot == 0 ? "" : "noteToggled(1/1,false) ") + "noteToggled(7/4,true)");
    QCOMPARE(player->voiceSlot(0).ratio, newcomer);
    QCOMPARE(player->noteMapSlot(newcomer), 0);
    QCOMPARE(player->noteMapSlot(fillRatio(0)), -1);
    // A sounding victim is released first; the newcomer then starts on its slot.
    QCOMPARE(received.join('|'), QString(releasedSlot == 0 ? "" : "lattice-in 0 1 1|") +
                                     "lattice-in 770 2 1|lattice-in 1 3 1|lattice-in 1 1 1");

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

void PdPlayerTest::stopReportsOnlyFreeReleasedSlots_data()
{
    QTest::addColumn<float>("voiceNumber");
    QTest::addColumn<bool>("frees");
    QTest::newRow("released slot") << 2.0f << true;
    QTest::newRow("fraction truncates") << 2.7f << true;
    QTest::newRow("sounding slot: stale") << 1.0f << false;
    QTest::newRow("free slot") << 3.0f << false;
    QTest::newRow("voice 0") << 0.0f << false;
    QTest::newRow("beyond 128") << 129.0f << false;
}

void PdPlayerTest::stopReportsOnlyFreeReleasedSlots()
{
    QFETCH(float, voiceNumber);
    QFETCH(bool, frees);
    run("/3;/5;/5"); // slot 1 releasing
    SignalLog signalLog(player.get());
    reportStopped(voiceNumber);
    QCOMPARE(signalLog.take(), QStringList{});
    QVERIFY(!player->voiceSlot(0).isFree() && !player->voiceSlot(0).released);
    QCOMPARE(player->voiceSlot(1).isFree(), frees);
    QCOMPARE(player->voiceSlot(1).released, !frees);
    QCOMPARE(player->noteMapSlot(LatticeRatio(5, 4)), frees ? -1 : 1);
    QCOMPARE(player->noteMapSlot(LatticeRatio(3, 2)), 0);
}

void PdPlayerTest::inaudibleNotesHoldASlot()
{
    SignalLog signalLog(player.get());
    player->noteOn(LatticeRatio(1, 32)); // 13.75 Hz
    player->noteOn(LatticeRatio(50));    // 22 kHz
    player->noteOn(LatticeRatio(1, 2));  // 220 Hz
    player->deliverNotices();
    QCOMPARE(signalLog.take().join(' '),
             "noteToggled(1/32,true) noteToggled(50/1,true) noteToggled(1/2,true)");
    QCOMPARE(received, QStringList({"lattice-in 220 2 3", "lattice-in 1 3 3", "lattice-in 1 1 3"}));
    QVERIFY(!player->voiceSlot(0).isFree() && !player->voiceSlot(1).isFree());
}

void PdPlayerTest::loadsDirectlyOrThroughARunningStream()
{
    // Without an output, then through one whose stream is stopped, the open
    // patch closes and the new one opens right here, unmuted.
    for (AudioOutput* audioOutput : std::initializer_list<AudioOutput*>{nullptr, output.get()}) {
        player->setAudioOutput(audioOutput);
        LogCapture log;
        QVERIFY(player->loadPatch(patch->mainPatch()));
        QVERIFY(
            log.texts(QtDebugMsg).contains("No audio stream running: opening the patch directly"));
    }

    player->unloadPatch();
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

void PdPlayerTest::stalledStreamGivesUpAndWithdrawsTheRequest()
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
    PdMessageBuffer::Chunk tagOpen{};
    tagOpen.type = LatticeEvent::OpenPatch;
    while (!done) {
        player->executeChunk(&tagOpen);
        std::this_thread::yield();
    }
    gui.join();
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

void PdPlayerTest::playsTheRatioAboveTheBase_data()
{
    QTest::addColumn<float>("base");
    QTest::addColumn<int>("transpose");
    QTest::addColumn<QString>("path");
    QTest::addColumn<double>("hertz");
    QTest::newRow("root") << 440.0f << 0 << "/" << 440.0;
    QTest::newRow("fifth") << 440.0f << 0 << "/3" << 660.0;
    QTest::newRow("root transposed by 5") << 440.0f << 5 << "/" << 550.0;
    QTest::newRow("two fifths down over 300 Hz") << 300.0f << 0 << "/-3/-3" << 133.333;
}

void PdPlayerTest::playsTheRatioAboveTheBase()
{
    QFETCH(float, base);
    QFETCH(int, transpose);
    QFETCH(QString, path);
    QFETCH(double, hertz);
    queue(LatticeEvent::BaseFrequencySet, base);
    queue(LatticeEvent::Transpose, float(transpose));
    run(path);
    leftChannel(sampleRate / 10); // past the attack
    const std::vector<float> steady = leftChannel(sampleRate / 2);
    QVERIFY(ToneAnalysis::peakLevel(steady) > 0.5f);
    const double found = ToneAnalysis::dominantFrequency(steady, sampleRate, 50.0, 2000.0);
    QVERIFY2(std::fabs(found - hertz) <= 0.5, qPrintable(QString::number(found)));
}

// Muting, as a patch change does, fades the output out over 10 ms instead
// of cutting it; unmuting fades it back in. The patch runs on meanwhile.
void PdPlayerTest::muteFadesAndPatchlessBlocksAreSilent()
{
    run("/");
    const std::vector<float> held = leftChannel(sampleRate / 10);
    const float heldStep = ToneAnalysis::largestStep(held);
    std::vector<float> fadeOut{held.back()};
    for (float sample : ToneAnalysis::channel(renderFrames(*player, 1024, true), 0))
        fadeOut.push_back(sample);
    QVERIFY2(ToneAnalysis::largestStep(fadeOut) <= 1.1f * heldStep,
             qPrintable(QString::number(ToneAnalysis::largestStep(fadeOut))));
    QVERIFY(ToneAnalysis::peakLevel({fadeOut.begin() + 200, fadeOut.begin() + 400}) > 0.1f);
    QCOMPARE(ToneAnalysis::peakLevel({fadeOut.end() - 512, fadeOut.end()}), 0.0f);
    QCOMPARE(ToneAnalysis::peakLevel(renderFrames(*player, 4096, true)), 0.0f);
    const std::vector<float> fadeIn = leftChannel(1024);
    QVERIFY(std::fabs(fadeIn.front()) < 0.01f);
    QVERIFY(ToneAnalysis::largestStep(fadeIn) <= 1.1f * heldStep);
    QVERIFY(ToneAnalysis::peakLevel({fadeIn.end() - 256, fadeIn.end()}) > 0.9f);

    // Without a patch the output is silent, yet events still run.
    player->unloadPatch();
    QSignalSpy base(player.get(), &PdPlayer::baseFrequencyChanged);
    queue(LatticeEvent::BaseFrequencySet, 200.0f);
    std::vector<float> block(512, 7.0f);
    player->processBlock(block.data(), 256, false);
    QCOMPARE(ToneAnalysis::peakLevel(block), 0.0f);
    QCOMPARE(base.size(), 1);
}

void PdPlayerTest::framesAreAlignedToPdBlocks_data()
{
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("used");
    QTest::newRow("64") << 64 << 64;
    QTest::newRow("100") << 100 << 128;
    QTest::newRow("negative") << -512 << 64;
    QTest::newRow("huge") << 2147483647 << 2147483584;
}

void PdPlayerTest::framesAreAlignedToPdBlocks()
{
    QFETCH(int, requested);
    QFETCH(int, used);
    LogCapture log;
    QCOMPARE(PdPlayer::blockAlignedFrames(requested), used);
    QCOMPARE(log.texts(QtWarningMsg).size(), requested == used ? 0 : 1);
}

// The screen and the controller write events on their own threads while the
// audio thread drains them and this thread turns its notices into signals:
// every event arrives once, in its producer's order, and every notice comes
// back. Run under the thread sanitizer, a race on the way shows here.
void PdPlayerTest::producersAndTheAudioThreadRunTogether()
{
    constexpr int count = 20000;
    // Producers stay at most this many events ahead of the notices this
    // thread has delivered, so that neither a buffer nor the ring fills.
    constexpr int lead = 500;
    std::atomic<int> seenGui{0}, seenSerial{0}, bases{0}, volumes{0};
    std::atomic<bool> ordered{true};
    int lastBase = 0, lastVolume = 0;
    // Both values start at 0, where the producers' counts start.
    player->setBaseFrequency(0.0f);
    player->setVoiceVolume(0.0f);
    player->deliverNotices();
    connect(player.get(), &PdPlayer::baseFrequencyChanged, this, [&](float base) {
        ordered = ordered && int(base) == lastBase + 1;
        lastBase = int(base);
        ++bases;
    });
    connect(player.get(), &PdPlayer::voiceVolumeChanged, this, [&](float volume) {
        ordered = ordered && int(volume) == lastVolume + 1;
        lastVolume = int(volume);
        ++volumes;
    });
    std::atomic<int> ready{0};
    const auto startTogether = [&ready] {
        ++ready;
        while (ready < 3)
            std::this_thread::yield();
    };
    std::thread audio([&] {
        startTogether();
        std::vector<float> block(2 * 64);
        while (seenGui < count || seenSerial < count) {
            player->processBlock(block.data(), 64, false);
            ordered = ordered && int(player->baseFrequency()) >= seenGui &&
                      int(player->voiceVolume()) >= seenSerial;
            seenGui = int(player->baseFrequency());
            seenSerial = int(player->voiceVolume());
        }
    });
    std::thread controller([&] {
        startTogether();
        for (int i = 1; i <= count; ++i) {
            while (i - volumes > lead)
                std::this_thread::yield();
            const LatticeEvent event(LatticeEvent::VoiceVolumeSet, float(i));
            player->queueEventSerial(&event);
        }
    });
    startTogether();
    for (int i = 1; i <= count; ++i) {
        while (i - bases > lead)
            player->deliverNotices();
        queue(LatticeEvent::BaseFrequencySet, float(i));
    }
    while ((bases < count || volumes < count) && player->droppedNotices() == 0)
        player->deliverNotices();
    controller.join();
    audio.join();
    QVERIFY(ordered);
    QCOMPARE(int(bases), count);
    QCOMPARE(int(volumes), count);
    QCOMPARE(player->droppedNotices(), quint64(0));
}

// Only the first answer on "output-voice-info" after a query counts: one
// that comes unasked, or after the query was answered, changes nothing.
void PdPlayerTest::macroAnswersCountOnlyAfterAQuery()
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

// More notices than the ring holds (a controller flooding the player while
// the window lags): the extra ones are dropped and counted, a delivery hands
// on a bounded number so that the window's loop keeps running, and a patch
// step is never among the lost.
void PdPlayerTest::aFloodOfNoticesLosesNoPatchStep()
{
    QSignalSpy volumes(player.get(), &PdPlayer::voiceVolumeChanged);
    QSignalSpy steps(player.get(), &PdPlayer::patchIncRequested);
    std::thread audio([this] {
        for (int i = 0; i < int(PdPlayer::noticeCapacity) + 100; ++i)
            player->setVoiceVolume(float(i));
        PdMessageBuffer::Chunk step{};
        step.type = LatticeEvent::PatchStep;
        step.value = 1.0f;
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

QTEST_GUILESS_MAIN(PdPlayerTest)
#include "PdPlayerTest.moc"
