#include "LatticeNoteEvent.h"
#include "LogCapture.h"
#include "PdPlayer.h"
#include "PlayerFixture.h"
#include "RenderBlocks.h"
#include "SignalLog.h"

#include <QtTest>

// Executing events: state changes, signals and the messages to the patch.
// The test's thread plays the audio thread.
class PdPlayerEventTest : public QObject, private PlayerFixture
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(start()); }
    void cleanup() { stop(); }

    void eventsChangeStateAndSignal_data();
    void eventsChangeStateAndSignal();
    void overflowingProductsAreRefused();
    void macroAnswersAreParsed_data();
    void macroAnswersAreParsed();

private:
    // Items separated by ';': "kind:value" (queued as serial with a leading
    // 's'), "/path" note toggles, and "+3/4" toggles of unchecked paths.
    void queueScript(const QString& script);
};

void PdPlayerEventTest::queueScript(const QString& script)
{
    for (const QString& item : script.split(';', Qt::SkipEmptyParts)) {
        if (item.startsWith('/') || item.startsWith('+')) {
            LatticePath path = item.startsWith('/') ? LatticePath(item) : LatticePath();
            if (item.startsWith('+')) // as a buggy producer might
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

namespace {
// Emitted signals are separated by spaces, grouped by signal in declaration
// order; expected records by '|'.
void row(const char* name, const char* script, const char* emitted, const QString& records = {})
{
    QTest::newRow(name) << QString(script) << QString(emitted) << records;
}
const QString lattice = QStringLiteral("pd lattice-in message: value %1 param %2 voice %3");
} // namespace

void PdPlayerEventTest::eventsChangeStateAndSignal_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("emitted");
    QTest::addColumn<QString>("records");
    row("voice volume step and set, not clamped", "3:0.25;3:0.25;4:-0.5",
        "voiceVolumeChanged(1.25) voiceVolumeChanged(1.5) voiceVolumeChanged(-0.5)");
    row("master volume step and set, sent", "5:0.3;6:1.5", "volumeChanged(1.1) volumeChanged(1.5)",
        "pd master-vol message: value 1.1|pd master-vol message: value 1.5");
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
        "Transpose refused: 4 is not a prime step");
    row("macros go to all voices", "13:0.25;18:1",
        "macroValueChanged(3,0.25) macroValueChanged(8,1)",
        lattice.arg("0.25").arg(6).arg(0) + '|' + lattice.arg(1).arg(11).arg(0));
    row("unknown kinds are ignored", "21:1;-1:1;100:0", "");
    row("note on with frequency, volume, gate", "4:0.5;/3",
        "noteToggled(3/2,true) voiceVolumeChanged(0.5)",
        lattice.arg(660).arg(2).arg(1) + '|' + lattice.arg("0.5").arg(3).arg(1) + '|' +
            lattice.arg(1).arg(1).arg(1));
    row("note is transposed", "2:3;/3", "noteToggled(9/4,true) transposed(3/2,3)");
    row("only the last step's prime (root: 0) is checked", "10:5;10:0;/3/-5;/;/-5/3",
        "noteToggled(6/5,true) primeEnabledToggled(5,false) primeEnabledToggled(0,false)");
    row("invalid paths are ignored", "/4;/3/x;+3/4;+9", "");
    row("mono releases the previous note", "7:1;/3;/5",
        "noteToggled(3/2,true) noteToggled(3/2,false) noteToggled(5/4,true) "
        "monophonicChanged(true)",
        "turning off previous mono voice 0 ratio \"3/2\"|" + lattice.arg(0).arg(1).arg(1));
    row("poly and back forgets the mono voice", "7:1;/3;7:0;7:1;/5",
        "noteToggled(3/2,true) noteToggled(5/4,true) monophonicChanged(true) "
        "monophonicChanged(false) monophonicChanged(true)");
    row("second toggle is note off", "/3;/3", "noteToggled(3/2,true) noteToggled(3/2,false)",
        lattice.arg(0).arg(1).arg(1));
    row("all notes off releases every note", "/3;/5;1:1",
        "noteToggled(3/2,true) noteToggled(5/4,true) noteToggled(3/2,false) "
        "noteToggled(5/4,false)");
}

void PdPlayerEventTest::eventsChangeStateAndSignal()
{
    QFETCH(QString, script);
    QFETCH(QString, emitted);
    QFETCH(QString, records);
    SignalLog signalLog(player.get());
    LogCapture log;
    queueScript(script);
    renderFrames(*player, 256);

    QStringList actual = signalLog.take();
    if (script.endsWith(QLatin1String("1:1"))) // all notes off goes in hash order
        std::sort(actual.begin() + 2, actual.end());
    QCOMPARE(actual.join(' '), emitted);
    const QStringList written = log.texts(QtDebugMsg) + log.texts(QtWarningMsg);
    for (const QString& record : records.split('|', Qt::SkipEmptyParts))
        QVERIFY2(written.contains(record), qPrintable(record));
}

void PdPlayerEventTest::overflowingProductsAreRefused()
{
    // 23^14/16^14 still fits in 64 bits, 23^15 does not.
    SignalLog signalLog(player.get());
    LogCapture log;
    queueScript(QString("2:23;").repeated(16));
    renderFrames(*player, 64);
    QCOMPARE(signalLog.take().size(), 14);
    const LatticeRatio top(11592836324538749809ull, 1ull << 56);
    QCOMPARE(player->transposition(), top);
    QCOMPARE(log.texts(QtWarningMsg).filter("Transpose refused").size(), 2);

    // A note whose transposed ratio cannot be formed is refused the same way.
    queueScript("/23;/-2");
    renderFrames(*player, 64);
    // "/23" overflows; "/-2" plays half the transposition.
    QCOMPARE(signalLog.take().join(' '),
             "noteToggled(11592836324538749809/144115188075855872,true)");
    QCOMPARE(log.texts(QtWarningMsg).filter("NoteToggle refused").size(), 1);
    QCOMPARE(player->transposition(), top);
}

void PdPlayerEventTest::macroAnswersAreParsed_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("names");
    QTest::addColumn<QString>("defaults");
    QTest::newRow("defaults, empty name, unreadable default") << "cutoff(0.5):resonance::gain(x)"
                                                              << "cutoff|resonance||gain"
                                                              << "0.5 -1 -1 0";
    QTest::newRow("closing bracket first") << "a)b(c"
                                           << "a)b(c"
                                           << "-1";
    QTest::newRow("space before bracket stays") << "bright (0.25):Q(3)"
                                                << "bright |Q"
                                                << "0.25 3";
    QTest::newRow("empty answer") << ""
                                  << ""
                                  << "-1";
}

void PdPlayerEventTest::macroAnswersAreParsed()
{
    QFETCH(QString, answer);
    QFETCH(QString, names);
    QFETCH(QString, defaults);
    SignalLog signalLog(player.get());
    player->onMacroNamesReceived(answer.toUtf8().constData());
    QCOMPARE(signalLog.take(), QStringList({"macroNamesReceived([" + names + "])",
                                            "macroDefaultsReceived([" + defaults + "])"}));
}

QTEST_GUILESS_MAIN(PdPlayerEventTest)
#include "PdPlayerEventTest.moc"
