#include "LatticeNoteEvent.h"
#include "LogCapture.h"
#include "PdPlayer.h"
#include "PlayerFixture.h"
#include "RenderBlocks.h"
#include "SignalLog.h"

#include <QtTest>
#include <memory>
#include <z_libpd.h>

// Executing events: state changes, signals and the messages to the patch.
// The test's thread plays the audio thread; the patch opens directly since
// no stream runs.
class PdPlayerEventTest : public QObject, private PlayerFixture
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(start()); }
    void cleanup() { stop(); }

    void eventsChangeStateAndSignal_data();
    void eventsChangeStateAndSignal();
    void serialEventsRunBeforeGuiEvents();
    void overflowingProductsAreRefused();
    void macroAnswersAreParsed_data();
    void macroAnswersAreParsed();
    void patchAnswersArriveThroughTheHooks();

private:
    // "kind:value" items, "/path" note toggles and "+3/4" toggles of paths
    // built without checks, separated by ';'.
    void queueScript(const QString& script);
};

void PdPlayerEventTest::queueScript(const QString& script)
{
    for (const QString& item : script.split(';', Qt::SkipEmptyParts)) {
        if (item.startsWith('/')) {
            const LatticeNoteEvent event(item);
            player->queueEventGui(&event);
        } else if (item.startsWith('+')) {
            // Steps appended unchecked, as a buggy producer might.
            LatticePath path;
            for (const QString& step : item.mid(1).split('/'))
                path.append(step.toInt());
            const LatticeNoteEvent event(path);
            player->queueEventGui(&event);
        } else {
            const LatticeEvent event(item.section(':', 0, 0).toInt(),
                                     item.section(':', 1, 1).toFloat());
            player->queueEventGui(&event);
        }
    }
}

void PdPlayerEventTest::eventsChangeStateAndSignal_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("emitted");
    QTest::addColumn<QStringList>("records");

    QTest::newRow("voice volume steps add up")
        << "3:0.25;3:0.25" << QStringList{"voiceVolumeChanged(1.25)", "voiceVolumeChanged(1.5)"}
        << QStringList{};
    QTest::newRow("voice volume set, not clamped")
        << "4:-0.5" << QStringList{"voiceVolumeChanged(-0.5)"} << QStringList{};
    QTest::newRow("master volume step is sent") << "5:0.3" << QStringList{"volumeChanged(1.1)"}
                                                << QStringList{"pd master-vol message: value 1.1"};
    QTest::newRow("master volume set, not clamped")
        << "6:1.5" << QStringList{"volumeChanged(1.5)"}
        << QStringList{"pd master-vol message: value 1.5"};
    QTest::newRow("mono above one half")
        << "7:0.51" << QStringList{"monophonicChanged(true)"} << QStringList{};
    QTest::newRow("exactly one half is poly")
        << "7:0.5" << QStringList{"monophonicChanged(false)"} << QStringList{};
    QTest::newRow("patch step up and down")
        << "8:1;8:0;8:-3"
        << QStringList{"patchDecRequested()", "patchDecRequested()", "patchIncRequested()"}
        << QStringList{};
    QTest::newRow("base frequency")
        << "9:261.5" << QStringList{"baseFrequencyChanged(261.5)"} << QStringList{};
    QTest::newRow("prime toggle truncates")
        << "10:5.9;10:5;10:-0.5"
        << QStringList{"primeEnabledToggled(5,false)", "primeEnabledToggled(5,true)",
                       "primeEnabledToggled(0,false)"}
        << QStringList{};
    QTest::newRow("prime toggle without a flag is ignored")
        << "10:24;10:-1;10:1e9;10:-7" << QStringList{} << QStringList{};
    QTest::newRow("transpose rounds halves upward")
        << "2:2.5;2:-2.5;2:0.4"
        << QStringList{"transposed(3/2,3)", "transposed(3/4,-2)", "transposed(1/1,0)"}
        << QStringList{};
    QTest::newRow("transpose accumulates")
        << "2:-5;2:7" << QStringList{"transposed(4/5,-5)", "transposed(7/5,7)"} << QStringList{};
    QTest::newRow("transpose by a non-prime is refused")
        << "2:4;2:3" << QStringList{"transposed(3/2,3)"}
        << QStringList{"Transpose refused: 4 is not a prime step"};
    QTest::newRow("macro 3 goes to all voices")
        << "13:0.25" << QStringList{"macroValueChanged(3,0.25)"}
        << QStringList{"pd lattice-in message: value 0.25 param 6 voice 0"};
    QTest::newRow("macro 8") << "18:1" << QStringList{"macroValueChanged(8,1)"}
                             << QStringList{"pd lattice-in message: value 1 param 11 voice 0"};
    QTest::newRow("unknown kinds are ignored")
        << "21:1;-1:1;100:0" << QStringList{} << QStringList{};
    QTest::newRow("note on with frequency, volume, gate")
        << "4:0.5;/3" << QStringList{"noteToggled(3/2,true)", "voiceVolumeChanged(0.5)"}
        << QStringList{"pd lattice-in message: value 660 param 2 voice 1",
                       "pd lattice-in message: value 0.5 param 3 voice 1",
                       "pd lattice-in message: value 1 param 1 voice 1"};
    QTest::newRow("note is transposed")
        << "2:3;/3" << QStringList{"noteToggled(9/4,true)", "transposed(3/2,3)"} << QStringList{};
    QTest::newRow("last step -5 is checked against flag 5")
        << "10:5;/3/-5" << QStringList{"primeEnabledToggled(5,false)"} << QStringList{};
    QTest::newRow("earlier steps are not checked")
        << "10:5;/-5/3" << QStringList{"noteToggled(6/5,true)", "primeEnabledToggled(5,false)"}
        << QStringList{};
    QTest::newRow("root is checked against flag 0")
        << "10:0;/" << QStringList{"primeEnabledToggled(0,false)"} << QStringList{};
    QTest::newRow("invalid path is ignored") << "/4;/3/x" << QStringList{} << QStringList{};
    QTest::newRow("path without a ratio is ignored") << "+3/4;+9" << QStringList{} << QStringList{};
    QTest::newRow("second toggle is note off")
        << "/3;/3" << QStringList{"noteToggled(3/2,true)", "noteToggled(3/2,false)"}
        << QStringList{"pd lattice-in message: value 0 param 1 voice 1"};
    QTest::newRow("all notes off releases every note")
        << "/3;/5;1:1"
        << QStringList{"noteToggled(3/2,true)", "noteToggled(5/4,true)", "noteToggled(3/2,false)",
                       "noteToggled(5/4,false)"}
        << QStringList{};
}

void PdPlayerEventTest::eventsChangeStateAndSignal()
{
    QFETCH(QString, script);
    QFETCH(QStringList, emitted);
    QFETCH(QStringList, records);
    SignalLog signalLog(player.get());
    LogCapture log;
    queueScript(script);
    renderFrames(*player, 256);

    QStringList actual = signalLog.take();
    // All notes off goes in hash order.
    if (script.endsWith(QLatin1String("1:1")))
        std::sort(actual.begin() + 2, actual.end());
    QCOMPARE(actual, emitted);
    const QStringList written = log.texts(QtDebugMsg) + log.texts(QtWarningMsg);
    for (const QString& record : records)
        QVERIFY2(written.contains(record), qPrintable(record));
}

void PdPlayerEventTest::serialEventsRunBeforeGuiEvents()
{
    SignalLog signalLog(player.get());
    QStringList order;
    connect(player.get(), &PdPlayer::baseFrequencyChanged,
            [&order](float frequency) { order.append(QString::number(double(frequency))); });
    for (int i = 1; i <= 3; ++i) {
        const LatticeEvent gui(LatticeEvent::BaseFrequencySet, float(100 + i));
        const LatticeEvent serial(LatticeEvent::BaseFrequencySet, float(200 + i));
        player->queueEventGui(&gui);
        player->queueEventSerial(&serial);
    }
    renderFrames(*player, 64);
    QCOMPARE(order, QStringList({"201", "202", "203", "101", "102", "103"}));
    QCOMPARE(player->baseFrequency(), 103.0f);
}

void PdPlayerEventTest::overflowingProductsAreRefused()
{
    // 23^14/16^14 still fits in 64 bits, 23^15 does not.
    SignalLog signalLog(player.get());
    LogCapture log;
    queueScript(QString("2:23;").repeated(16));
    renderFrames(*player, 64);
    QCOMPARE(signalLog.take().size(), 14);
    const LatticeRatio top = player->transposition();
    QCOMPARE(top, LatticeRatio(11592836324538749809ull, 1ull << 56));
    QCOMPARE(log.texts(QtWarningMsg).filter("Transpose refused").size(), 2);

    // A note whose transposed ratio cannot be formed is refused the same way.
    queueScript("/23;/-2");
    renderFrames(*player, 64);
    QCOMPARE(signalLog.take(), QStringList{"noteToggled(11592836324538749809/144115188075855872,"
                                           "true)"});
    QCOMPARE(log.texts(QtWarningMsg).filter("NoteToggle refused").size(), 1);
    QCOMPARE(player->transposition(), top);
}

void PdPlayerEventTest::macroAnswersAreParsed_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("emitted");
    QTest::newRow("defaults, empty name, unreadable default")
        << "cutoff(0.5):resonance::gain(x)"
        << QStringList{"macroNamesReceived([cutoff|resonance||gain])",
                       "macroDefaultsReceived([0.5 -1 -1 0])"};
    QTest::newRow("closing bracket first")
        << "a)b(c" << QStringList{"macroNamesReceived([a)b(c])", "macroDefaultsReceived([-1])"};
    QTest::newRow("space before bracket stays")
        << "bright (0.25):Q(3)"
        << QStringList{"macroNamesReceived([bright |Q])", "macroDefaultsReceived([0.25 3])"};
    QTest::newRow("empty answer") << ""
                                  << QStringList{"macroNamesReceived([])",
                                                 "macroDefaultsReceived([-1])"};
}

void PdPlayerEventTest::macroAnswersAreParsed()
{
    QFETCH(QString, answer);
    QFETCH(QStringList, emitted);
    SignalLog signalLog(player.get());
    player->onMacroNamesReceived(answer.toUtf8().constData());
    QCOMPARE(signalLog.take(), emitted);
}

void PdPlayerEventTest::patchAnswersArriveThroughTheHooks()
{
    SignalLog signalLog(player.get());
    LogCapture log;
    player->unloadPatch();
    QCOMPARE(signalLog.take(), QStringList{"macroNamesReceived([])"});

    QVERIFY(player->loadPatch(patch->mainPatch()));
    QCOMPARE(
        signalLog.take(),
        QStringList({"macroNamesReceived([cutoff|resonance])", "macroDefaultsReceived([0.5 -1])",
                     "patchLoaded(" + patch->mainPatch().absoluteFilePath() + ")"}));

    // Answers nobody asked for, and malformed stop reports, change nothing.
    libpd_start_message(2);
    libpd_add_float(0);
    libpd_add_symbol("late:answer");
    libpd_finish_list("output-voice-info");
    libpd_start_message(1);
    libpd_add_symbol("one");
    libpd_finish_list("voice-stop");
    QCOMPARE(signalLog.take(), QStringList{});

    // Whatever Pd prints reaches the log.
    libpd_start_message(1);
    libpd_add_float(1);
    libpd_finish_message("pd", "no-such-method");
    QVERIFY(
        !log.texts(QtDebugMsg).filter(QRegularExpression("^libPD: .*no-such-method")).isEmpty());
}

QTEST_GUILESS_MAIN(PdPlayerEventTest)
#include "PdPlayerEventTest.moc"
