// The instrument as a player meets it: the real program on a real X display
// (Xvfb with a window manager, provided by scripts/xvfb-test-display.sh), a
// JACK server as its sound device, and the wand played by `lattice-tool
// wand`. What it plays is recorded from its JACK ports and analysed.

#include "JackTestServer.h"
#include "ProgramRun.h"
#include "ProgramWindow.h"
#include "ToneAnalysis.h"

#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>
#include <memory>
#include <signal.h>
#include <vector>

namespace {

constexpr int sampleRate = 44100;

// Tags of the test's rfid_map.json: the root, a fifth above it, a
// transposition by a major third and a master volume.
const char* const rootTag = "e2e0000001";
const char* const fifthTag = "e2e0000002";
const char* const transposeTag = "e2e0000003";
const char* const volumeTag = "e2e0000004";

QByteArray rfidMap()
{
    return QByteArrayLiteral(R"({
    "e2e0000001": { "event": 0, "value": "/" },
    "e2e0000002": { "event": 0, "value": "/3" },
    "e2e0000003": { "event": 2, "value": 5 },
    "e2e0000004": { "event": 6, "value": 0.5 }
})");
}

struct Levels
{
    double at440 = 0, at550 = 0, at660 = 0;
    double loudest() const { return std::max({at440, at550, at660}); }
    QString text() const
    {
        return QStringLiteral("440 Hz %1, 550 Hz %2, 660 Hz %3").arg(at440).arg(at550).arg(at660);
    }
};

} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void playsWandTagsAndKeepsChangesWhenClosed();
    void keepsWandChangesOnSigterm();
    void secondInstanceKeepsScreenWithoutController();

private:
    // A program with the test's map on port, its own data folder; not
    // started yet.
    std::unique_ptr<ProgramRun> program(int port);
    // The levels of the program's left output once attacks have settled.
    Levels record();
    QJsonObject expectedOptions(int port, double masterVolume) const;

    std::unique_ptr<JackTestServer> jack;
    std::unique_ptr<QTemporaryDir> scratch;
};

void EndToEndTest::initTestCase()
{
    const QString reason = ProgramWindow::unavailableReason({"jack_rec", "sox"});
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    jack = std::make_unique<JackTestServer>();
    if (!jack->isRunning())
        QSKIP(qPrintable(jack->error()));
    scratch = std::make_unique<QTemporaryDir>();
}

std::unique_ptr<ProgramRun> EndToEndTest::program(int port)
{
    auto run = std::make_unique<ProgramRun>();
    jack->addTo(run->environment());
    run->environment().insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    run->writeDataFile(QStringLiteral("rfid_map.json"), rfidMap());
    run->writeDataFile(QStringLiteral("options.json"),
                       QStringLiteral("{ \"udpPort\": %1 }").arg(port).toUtf8());
    return run;
}

Levels EndToEndTest::record()
{
    const std::vector<float> tail =
        jack->record(QStringLiteral("PortAudio:out_0"), scratch->filePath("take.wav"));
    Levels levels;
    levels.at440 = ToneAnalysis::magnitudeAt(tail, 440.0, sampleRate);
    levels.at550 = ToneAnalysis::magnitudeAt(tail, 550.0, sampleRate);
    levels.at660 = ToneAnalysis::magnitudeAt(tail, 660.0, sampleRate);
    return levels;
}

QJsonObject EndToEndTest::expectedOptions(int port, double masterVolume) const
{
    return QJsonObject{
        {"audioDevice", 0},
        {"baseFrequency", 440},
        {"calibrationFrequency", 440},
        {"circlesView", true},
        {"defaultPatch", QCoreApplication::applicationDirPath() + "/patches/Sine.pd"},
        {"framesPerBuffer", 256},
        {"masterVolume", masterVolume},
        {"monophonic", false},
        {"udpPort", port},
        {"windowMaximized", false},
    };
}

// Given the default patch, tags for /, /3, a transposition by 5 and a
// volume: / plays 440 Hz, /3 adds 660 Hz; with both off and the lattice
// transposed, / plays 550 Hz. Closing the window ends the program with 0
// and options.json holds the defaults plus what the wand changed.
void EndToEndTest::playsWandTagsAndKeepsChangesWhenClosed()
{
    const int port = ProgramRun::freeUdpPort();
    const std::unique_ptr<ProgramRun> run = program(port);
    ProgramWindow window(*run);
    run->start();
    QVERIFY2(run->waitForEventLoop(), run->standardError().constData());

    QCOMPARE(ProgramRun::wand(rootTag, port), QByteArray());
    Levels levels = record();
    QVERIFY2(levels.at440 > 0.5 * levels.loudest() && levels.at660 < 0.01 * levels.at440,
             qPrintable(levels.text()));
    const double rootLevel = levels.at440;

    QCOMPARE(ProgramRun::wand(fifthTag, port), QByteArray());
    levels = record();
    QVERIFY2(levels.at440 > 0.3 * rootLevel && levels.at660 > 0.3 * rootLevel,
             qPrintable(levels.text()));

    for (const char* tag : {rootTag, fifthTag, transposeTag, volumeTag, rootTag})
        QCOMPARE(ProgramRun::wand(tag, port), QByteArray());
    levels = record();
    QVERIFY2(levels.at550 > 0.2 * rootLevel && levels.at440 < 0.01 * levels.at550 &&
                 levels.at660 < 0.01 * levels.at550,
             qPrintable(levels.text()));

    QVERIFY2(window.close(), run->dataFile(QStringLiteral("log.txt")).right(1500).constData());
    QVERIFY2(run->waitForExit(), run->dataFile(QStringLiteral("log.txt")).right(1500).constData());
    QCOMPARE(run->exitStatus(), 0);
    QVERIFY(run->messages().isEmpty());

    QJsonObject options = run->options();
    const QRegularExpression pair(QStringLiteral("^-?\\d+,-?\\d+$"));
    for (const char* key : {"windowSize", "windowPos"}) {
        const QString value = options.take(QLatin1String(key)).toString();
        QVERIFY2(pair.match(value).hasMatch() && value != QLatin1String("-1,-1"),
                 qPrintable(value));
    }
    QCOMPARE(options, expectedOptions(port, 0.5));
}

// SIGTERM ends the program as orderly as closing its window: status 0, and
// options.json holds what the wand changed.
void EndToEndTest::keepsWandChangesOnSigterm()
{
    const int port = ProgramRun::freeUdpPort();
    const std::unique_ptr<ProgramRun> run = program(port);
    run->start();
    QVERIFY2(run->waitForEventLoop(), run->standardError().constData());

    QCOMPARE(ProgramRun::wand(volumeTag, port), QByteArray());
    QCOMPARE(ProgramRun::wand(rootTag, port), QByteArray());
    // Hearing the root proves the volume, sent before it, has been played.
    const Levels levels = record();
    QVERIFY2(levels.at440 > 0.5 * levels.loudest(), qPrintable(levels.text()));

    QVERIFY(run->sendSignal(SIGTERM));
    QVERIFY(run->waitForExit());
    QCOMPARE(run->exitStatus(), 0);
    QJsonObject options = run->options();
    options.remove(QStringLiteral("windowSize"));
    options.remove(QStringLiteral("windowPos"));
    QCOMPARE(options, expectedOptions(port, 0.5));
}

// A second instance on the same port cannot listen to the wand: it says so
// once and keeps its window; both end normally.
void EndToEndTest::secondInstanceKeepsScreenWithoutController()
{
    const int port = ProgramRun::freeUdpPort();
    const std::unique_ptr<ProgramRun> first = program(port);
    first->start();
    QVERIFY2(first->waitForEventLoop(), first->standardError().constData());
    QVERIFY(first->waitForLog("UDP socket opened on port " + QByteArray::number(port)));

    const std::unique_ptr<ProgramRun> second = program(port);
    second->start();
    QVERIFY2(second->waitForEventLoop(), second->standardError().constData());
    QVERIFY(second->waitForMessages(1));
    QCOMPARE(second->messages(),
             QStringList{QStringLiteral("Failed to connect to the lattice, only screen-based "
                                        "interaction will be possible.\n\nError: Can't open UDP "
                                        "socket on port %1. UDP thread shutting down.")
                             .arg(port)});
    QVERIFY(second->isRunning());
    QVERIFY(first->isRunning());

    QVERIFY(second->sendSignal(SIGTERM));
    QVERIFY(first->sendSignal(SIGTERM));
    QVERIFY(second->waitForExit());
    QVERIFY(first->waitForExit());
    QCOMPARE(second->exitStatus(), 0);
    QCOMPARE(first->exitStatus(), 0);
    QCOMPARE(second->messages().size(), 1);
    QVERIFY(first->messages().isEmpty());
}

QTEST_GUILESS_MAIN(EndToEndTest)
#include "EndToEndTest.moc"
