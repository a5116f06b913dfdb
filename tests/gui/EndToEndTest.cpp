// The instrument as a player meets it: the real program on a real X display
// (Xvfb with a window manager, provided by scripts/xvfb-test-display.sh), a
// JACK server as its sound device, and the wand played by `lattice-tool
// wand`. What it plays is recorded from its JACK ports and analysed.

#include "JackTestServer.h"
#include "ProgramRun.h"
#include "ToneAnalysis.h"

#include <QDeadlineTimer>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <QUdpSocket>
#include <QtTest>
#include <cstring>
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

// A port nobody uses right now; the programs of one test share it.
int freeUdpPort()
{
    QUdpSocket socket;
    socket.bind(QHostAddress::LocalHost, 0);
    return socket.localPort();
}

QString tool(const char* name)
{
    return QStandardPaths::findExecutable(QLatin1String(name));
}

// The first channel of a recording, converted by sox to raw floats.
std::vector<float> readWav(const QString& path)
{
    QProcess sox;
    sox.start(QStringLiteral("sox"),
              {path, "-t", "f32", "-e", "floating-point", "-", "remix", "1"});
    sox.waitForFinished(10000);
    const QByteArray bytes = sox.readAllStandardOutput();
    std::vector<float> samples(std::size_t(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    return samples;
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
    void endsOrderlyOnSigterm();
    void secondInstanceKeepsScreenWithoutController();

private:
    // A program with the test's map on port, its own data folder.
    std::unique_ptr<ProgramRun> startProgram(int port);
    void wand(const char* tag, int port);
    // One second of the program's left output; the levels of its last half,
    // when attacks and releases are over.
    Levels record(const QString& port = QStringLiteral("PortAudio:out_0"));
    bool closeWindow(const ProgramRun& run);
    QJsonObject expectedOptions(int port, double masterVolume) const;

    std::unique_ptr<JackTestServer> jack;
    std::unique_ptr<QTemporaryDir> scratch;
};

void EndToEndTest::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs an X display; run through scripts/xvfb-test-display.sh");
    for (const char* name : {"xdotool", "jack_rec", "sox"})
        if (tool(name).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(name))));
    jack = std::make_unique<JackTestServer>();
    if (!jack->isRunning())
        QSKIP(qPrintable(jack->error()));
    scratch = std::make_unique<QTemporaryDir>();
}

std::unique_ptr<ProgramRun> EndToEndTest::startProgram(int port)
{
    auto run = std::make_unique<ProgramRun>();
    jack->addTo(run->environment());
    run->environment().insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    run->writeDataFile(QStringLiteral("rfid_map.json"), rfidMap());
    run->writeDataFile(QStringLiteral("options.json"),
                       QStringLiteral("{ \"udpPort\": %1 }").arg(port).toUtf8());
    run->start();
    return run;
}

void EndToEndTest::wand(const char* tag, int port)
{
    QProcess wandTool;
    wandTool.start(QCoreApplication::applicationDirPath() + QStringLiteral("/lattice-tool"),
                   {QStringLiteral("wand"), QLatin1String(tag), QStringLiteral("--port"),
                    QString::number(port)});
    QVERIFY(wandTool.waitForFinished(10000));
    QVERIFY2(wandTool.exitCode() == 0, wandTool.readAllStandardError().constData());
}

Levels EndToEndTest::record(const QString& port)
{
    const QString take = scratch->filePath("take.wav");
    QProcess recorder;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    jack->addTo(environment);
    recorder.setProcessEnvironment(environment);
    recorder.start(tool("jack_rec"), {"-f", take, "-d", "1", port});
    Levels levels;
    if (!recorder.waitForFinished(10000) || recorder.exitCode() != 0)
        return levels;
    const std::vector<float> samples = readWav(take);
    const std::vector<float> tail(
        samples.end() - std::min<std::size_t>(samples.size(), sampleRate / 2), samples.end());
    levels.at440 = ToneAnalysis::magnitudeAt(tail, 440.0, sampleRate);
    levels.at550 = ToneAnalysis::magnitudeAt(tail, 550.0, sampleRate);
    levels.at660 = ToneAnalysis::magnitudeAt(tail, 660.0, sampleRate);
    return levels;
}

// Alt+F4 through the window manager, which sends WM_DELETE_WINDOW: what a
// user's click on the close button does. True once the window is gone.
bool EndToEndTest::closeWindow(const ProgramRun& run)
{
    const auto visibleWindow = [&run] {
        QProcess search;
        search.start(tool("xdotool"),
                     {"search", "--onlyvisible", "--pid", QString::number(run.processId()),
                      "--name", "^Elsted Tuning Lattice$"});
        search.waitForFinished(10000);
        return search.readAllStandardOutput().split('\n').value(0).trimmed();
    };
    const QByteArray window = visibleWindow();
    if (window.isEmpty())
        return false;
    if (QProcess::execute(tool("xdotool"), {"windowactivate", "--sync", window, "key",
                                            "--clearmodifiers", "alt+F4"}) != 0)
        return false;
    // The window manager and the program answer through the X server: poll,
    // bounded.
    const QDeadlineTimer deadline(10000);
    while (!visibleWindow().isEmpty()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
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
    const int port = freeUdpPort();
    const std::unique_ptr<ProgramRun> run = startProgram(port);
    QVERIFY2(run->waitForEventLoop(), run->standardError().constData());

    wand(rootTag, port);
    Levels levels = record();
    QVERIFY2(levels.at440 > 0.5 * levels.loudest() && levels.at660 < 0.01 * levels.at440,
             qPrintable(levels.text()));
    const double rootLevel = levels.at440;

    wand(fifthTag, port);
    levels = record();
    QVERIFY2(levels.at440 > 0.3 * rootLevel && levels.at660 > 0.3 * rootLevel,
             qPrintable(levels.text()));

    for (const char* tag : {rootTag, fifthTag, transposeTag, volumeTag, rootTag})
        wand(tag, port);
    levels = record();
    QVERIFY2(levels.at550 > 0.2 * rootLevel && levels.at440 < 0.01 * levels.at550 &&
                 levels.at660 < 0.01 * levels.at550,
             qPrintable(levels.text()));

    QVERIFY2(closeWindow(*run), run->dataFile(QStringLiteral("log.txt")).right(1500).constData());
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
// the volume the wand set is kept.
void EndToEndTest::endsOrderlyOnSigterm()
{
    const int port = freeUdpPort();
    const std::unique_ptr<ProgramRun> run = startProgram(port);
    QVERIFY2(run->waitForEventLoop(), run->standardError().constData());

    wand(volumeTag, port);
    wand(rootTag, port);
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
    const int port = freeUdpPort();
    const std::unique_ptr<ProgramRun> first = startProgram(port);
    QVERIFY2(first->waitForEventLoop(), first->standardError().constData());
    QVERIFY(first->waitForLog("UDP socket opened on port " + QByteArray::number(port)));

    const std::unique_ptr<ProgramRun> second = startProgram(port);
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
