// The instrument as a player meets it: the real program on an X display with
// a window manager (scripts/xvfb-test-display.sh), a JACK server as its sound
// device, the wand played by `lattice-tool wand`, and what it plays recorded
// from its JACK ports.

#include "JackTestServer.h"
#include "ProgramRun.h"
#include "ProgramWindow.h"

#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>
#include <memory>
#include <signal.h>

namespace {

const char* const rootTag = "e2e0000001";
const char* const fifthTag = "e2e0000002";
const char* const transposeTag = "e2e0000003"; // by 5, a major third up
const char* const volumeTag = "e2e0000004";    // master volume 0.5

// Magnitudes of the first program's output at 440, 550 and 660 Hz.
constexpr std::size_t at440 = 0, at550 = 1, at660 = 2;

double loudest(const std::vector<double>& levels)
{
    return *std::max_element(levels.cbegin(), levels.cend());
}

} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void playsWandTagsAndKeepsChangesWhenClosed();
    void secondInstanceLosesOnlyTheController();

private:
    // A program with the test's map on port and its own data folder.
    std::unique_ptr<ProgramRun> program(int port);
    std::vector<double> levels() const { return jack->levels({440, 550, 660}); }
    // options.json after a run: a whole set kept, with the wand's volume.
    void checkOptions(ProgramRun& run, int port);

    std::unique_ptr<JackTestServer> jack;
};

void EndToEndTest::initTestCase()
{
    const QString reason = ProgramWindow::unavailableReason({"jack_rec", "sox"});
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    jack = std::make_unique<JackTestServer>();
    if (!jack->isRunning())
        QSKIP(qPrintable(jack->error()));
}

std::unique_ptr<ProgramRun> EndToEndTest::program(int port)
{
    auto run = std::make_unique<ProgramRun>();
    jack->addTo(run->environment());
    run->environment().insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    run->writeDataFile("rfid_map.json", R"({ "e2e0000001": { "event": 0, "value": "/" },
        "e2e0000002": { "event": 0, "value": "/3" }, "e2e0000003": { "event": 2, "value": 5 },
        "e2e0000004": { "event": 6, "value": 0.5 } })");
    run->writeDataFile("options.json", QStringLiteral("{ \"udpPort\": %1 }").arg(port).toUtf8());
    return run;
}

void EndToEndTest::checkOptions(ProgramRun& run, int port)
{
    const QJsonObject options = run.options();
    for (const char* key : {"windowSize", "windowPos"}) {
        const QString value = options.value(QLatin1String(key)).toString();
        QVERIFY2(QRegularExpression("^-?\\d+,-?\\d+$").match(value).hasMatch() && value != "-1,-1",
                 qPrintable(value));
    }
    QCOMPARE(options.size(), 12);
    QCOMPARE(options.value("masterVolume").toDouble(), 0.5);
    QCOMPARE(options.value("udpPort").toInt(), port);
}

// / plays 440 Hz, /3 adds 660 Hz; with both off and the lattice transposed,
// / plays 550 Hz. Closing the window ends the program with 0.
void EndToEndTest::playsWandTagsAndKeepsChangesWhenClosed()
{
    const int port = ProgramRun::freeUdpPort();
    const std::unique_ptr<ProgramRun> run = program(port);
    ProgramWindow window(*run);
    run->start();
    QVERIFY2(run->waitForEventLoop(), run->standardError().constData());

    QCOMPARE(ProgramRun::wand(rootTag, port), QByteArray());
    std::vector<double> heard = levels();
    QVERIFY2(heard[at440] > 0.5 * loudest(heard) && heard[at660] < 0.01 * heard[at440],
             JackTestServer::describe(heard).constData());
    const double rootLevel = heard[at440];

    QCOMPARE(ProgramRun::wand(fifthTag, port), QByteArray());
    heard = levels();
    QVERIFY2(heard[at440] > 0.3 * rootLevel && heard[at660] > 0.3 * rootLevel,
             JackTestServer::describe(heard).constData());

    for (const char* tag : {rootTag, fifthTag, transposeTag, volumeTag, rootTag})
        QCOMPARE(ProgramRun::wand(tag, port), QByteArray());
    heard = levels();
    QVERIFY2(heard[at550] > 0.2 * rootLevel && heard[at440] < 0.01 * heard[at550] &&
                 heard[at660] < 0.01 * heard[at550],
             JackTestServer::describe(heard).constData());

    QVERIFY(window.close() && run->waitForExit());
    QCOMPARE(run->exitStatus(), 0);
    QVERIFY(run->messages().isEmpty());
    checkOptions(*run, port);
}

// A second instance on the same port says once that the wand is lost and
// keeps running; the first still plays the wand, and a SIGTERM ends it as
// orderly as closing its window.
void EndToEndTest::secondInstanceLosesOnlyTheController()
{
    const int port = ProgramRun::freeUdpPort();
    const std::unique_ptr<ProgramRun> first = program(port), second = program(port);
    first->start();
    QVERIFY2(first->waitForEventLoop(), first->standardError().constData());
    QVERIFY(first->waitUntil([&] {
        return first->dataFile("log.txt").contains("UDP socket opened on port " +
                                                   QByteArray::number(port));
    }));
    second->start();
    QVERIFY2(second->waitForEventLoop(), second->standardError().constData());
    QVERIFY(second->waitUntil([&] { return !second->messages().isEmpty(); }));
    QCOMPARE(second->messages(),
             QStringList{QStringLiteral("Failed to connect to the lattice, only screen-based "
                                        "interaction will be possible.\n\nError: Can't open UDP "
                                        "socket on port %1. UDP thread shutting down.")
                             .arg(port)});

    QCOMPARE(ProgramRun::wand(volumeTag, port), QByteArray());
    QCOMPARE(ProgramRun::wand(rootTag, port), QByteArray());
    // Hearing the root proves the volume, sent before it, has been played.
    const std::vector<double> heard = levels();
    QVERIFY2(heard[at440] > 0.5 * loudest(heard), JackTestServer::describe(heard).constData());

    QVERIFY(second->isRunning());
    QVERIFY(first->sendSignal(SIGTERM) && second->sendSignal(SIGTERM));
    QVERIFY(first->waitForExit() && second->waitForExit());
    QCOMPARE(first->exitStatus(), 0);
    QCOMPARE(second->exitStatus(), 0);
    QVERIFY(first->messages().isEmpty());
    QCOMPARE(second->messages().size(), 1);
    checkOptions(*first, port);
}

QTEST_GUILESS_MAIN(EndToEndTest)
#include "EndToEndTest.moc"
