// The real program as a player meets it, on an X display with a window manager
// and a private JACK server: start-up, shutdown, wand, mouse, keys and sound.

#include "JackTestServer.h"
#include "ProgramRun.h"
#include "ProgramWindow.h"

#include <QtTest>
#include <memory>
#include <signal.h>

namespace {

const char* const rootTag = "e2e0000001";
const char* const fifthTag = "e2e0000002";
const char* const volumeTag = "e2e0000004"; // master volume 0.5

const std::vector<double> frequencies{440, 550, 660, 880, 1320, 1760};
constexpr std::size_t at440 = 0, at550 = 1, at660 = 2, at880 = 3, at1320 = 4, at1760 = 5;

// One second of what the program plays, at each of frequencies.
struct Heard
{
    explicit Heard(const JackTestServer& jack) : levels(jack.levels(frequencies)) {}
    double operator[](std::size_t at) const { return levels[at]; }
    double loudest() const { return *std::max_element(levels.cbegin(), levels.cend()); }
    double harmonicShare() const // of the root against its fundamental
    {
        return (levels[at880] + levels[at1320] + levels[at1760]) / std::max(levels[at440], 1e-9);
    }
    QByteArray text() const // for a failure message
    {
        QString text;
        QDebug(&text) << levels;
        return text.toUtf8();
    }

    std::vector<double> levels;
};

using Report = const WindowReport&;

} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<JackTestServer> jack;
    int port = 0;

    // On the test's JACK server with its own data folder; not started yet.
    std::unique_ptr<ProgramRun>
    program(const QString& folder = QCoreApplication::applicationDirPath())
    {
        auto run = std::make_unique<ProgramRun>(folder + "/tuning-lattice");
        jack->addTo(run->environment());
        run->environment().insert("QT_QPA_PLATFORM", "xcb");
        return run;
    }

    // With the test's wand map, and options (by default only the port).
    std::unique_ptr<ProgramRun> wandProgram(QByteArray options = {})
    {
        auto run = program();
        run->writeDataFile("rfid_map.json", R"({ "e2e0000001": { "event": 0, "value": "/" },
            "e2e0000002": { "event": 0, "value": "/3" },
            "e2e0000004": { "event": 6, "value": 0.5 } })");
        if (options.isEmpty())
            options = "{ \"udpPort\": " + QByteArray::number(port) + " }";
        run->writeDataFile("options.json", options);
        return run;
    }

private slots:
    void initTestCase()
    {
        const QString reason = ProgramWindow::unavailableReason({"jack_rec", "sox"});
        if (!reason.isEmpty())
            QSKIP(qPrintable(reason));
        jack = std::make_unique<JackTestServer>();
        if (!jack->isRunning())
            QSKIP(qPrintable(jack->error()));
        port = ProgramRun::freeUdpPort();
    }

    void fatalFailureEndsStartup_data()
    {
        QTest::addColumn<QString>("cause"); // a file left out of the program's folder, or a setup
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("detail"); // logged too; %1 the program's folder, %2 the data
        const auto row = [](const char* name, const char* cause, const QString& message,
                            const char* detail) {
            QTest::newRow(name) << QString(cause) << message << QString(detail);
        };
        const QString noAudio = " This means no audio playback will be possible.";
        row("data folder cannot be created", "data folder under a file",
            "Creation of config directory failed.", "%2");
        row("platform style sheet missing", "style_win.qss",
            "Initialisation of style sheet failed.", "%1/style_win.qss");
        row("no audio device", "no sound server",
            "Initialisation of audio device failed." + noAudio, "");
        row("shell patch missing", "patches/shell/lattice_vprep.pd",
            "Initialisation of patch directory failed." + noAudio,
            "%1/patches/shell/lattice_vprep.pd");
        row("lattice.json unreadable", "lattice.json cut short", "Lattice initialisation failed.",
            "lattice.json");
    }

    // Exactly one message, logged too, no window, and exit status 1.
    void fatalFailureEndsStartup()
    {
        QFETCH(QString, cause);
        QFETCH(QString, message);
        QFETCH(QString, detail);
        QTemporaryDir scratch;
        QString bin = QCoreApplication::applicationDirPath();
        if (!cause.contains(' ')) {
            QStringList copy{"-r"};
            for (const char* name : {"tuning-lattice", "style.qss", "style_win.qss", "patches"})
                copy << bin + '/' + name;
            bin = scratch.filePath("bin");
            QVERIFY(QDir().mkpath(bin));
            QCOMPARE(QProcess::execute("cp", copy << bin), 0);
            QVERIFY(QFile::remove(bin + '/' + cause));
        }

        const auto run = program(bin);
        if (cause == "data folder under a file") {
            // Nothing can be created below a regular file, not even by root.
            QVERIFY(QFile(run->folder() + "/file").open(QIODevice::WriteOnly));
            run->environment().insert("XDG_DATA_HOME", run->folder() + "/file/data");
        } else if (cause == "no sound server") {
            run->environment().insert("JACK_DEFAULT_SERVER", "lattice-none-" + jack->name());
        } else if (cause == "lattice.json cut short") {
            QVERIFY(run->writeDataFile("lattice.json", "{ \"balls\": "));
        }

        run->start();
        QVERIFY(run->waitForExit());
        QCOMPARE(run->exitStatus(), 1);
        QCOMPARE(run->messages(), QStringList{message + "\n\nThe program will now shut down."});
        QVERIFY(!run->standardError().contains("startup-trace main-window "));
        // Before the data folder exists, records go to standard error.
        const bool logged = cause != "data folder under a file";
        const QByteArray log = logged ? run->dataFile("log.txt") : run->standardError();
        if (logged)
            QVERIFY2(log.contains("CRITICAL:\n") && log.contains(message.toUtf8()),
                     log.constData());
        detail.replace("%1", bin).replace("%2", run->dataDirectory());
        QVERIFY2(detail.isEmpty() || log.contains(detail.toUtf8()), log.constData());
    }

    void endsOrderlyOnSignal_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("damaged"); // options.json corrupt, a folder in log.txt's place
        QTest::newRow("SIGINT") << int(SIGINT) << false;
        QTest::newRow("SIGHUP") << int(SIGHUP) << false;
        QTest::newRow("SIGTERM, damaged files") << int(SIGTERM) << true;
    }

    // Status 0, the audio closed after the patch, and options.json holding what the run
    // changed. Damaged files do not stop the program: it says why and uses the defaults.
    void endsOrderlyOnSignal()
    {
        QFETCH(int, signalNumber);
        QFETCH(bool, damaged);
        const auto run = program();
        const QString logPath = run->dataDirectory() + "/log.txt";
        if (damaged)
            QVERIFY(run->writeDataFile("options.json", "{ \"baseFrequency\": 432, \"masterVol") &&
                    QDir().mkpath(logPath));
        run->start();
        QVERIFY2(run->waitForEventLoop(), run->standardError().constData());
        // Written at start with the defaults; the window's size only at the end.
        if (!damaged)
            QCOMPARE(run->options().value("windowSize").toString(), "-1,-1");
        QVERIFY(run->sendSignal(signalNumber) && run->waitForExit());
        QCOMPARE(run->exitStatus(), 0);
        QVERIFY(run->options().value("windowSize").toString() != "-1,-1");
        if (damaged) {
            QCOMPARE(run->messages(), QStringList{"Failed to read saved options. All options will "
                                                  "be reset to defaults."});
            QCOMPARE(run->options().value("baseFrequency").toDouble(), 440.0);
            QVERIFY(run->standardError().contains("Couldn't open log file " + logPath.toUtf8()));
            QVERIFY(QDir(logPath).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
            return;
        }
        QVERIFY(run->messages().isEmpty());
        const QByteArray log = run->dataFile("log.txt");
        const int playerEnds = log.indexOf("PdPlayer::term...");
        QVERIFY2(playerEnds > 0 && log.indexOf("PaAudioOutput::term...") > playerEnds,
                 log.constData());
    }

    // / plays 440 Hz. A second instance on the same port says once that the
    // wand is lost; the first still plays it: the volume, then /3 adds 660 Hz.
    void wandPlaysTheFirstInstanceOnly()
    {
        const std::unique_ptr<ProgramRun> first = wandProgram(), second = wandProgram();
        first->start();
        QVERIFY2(first->waitUntil([&] {
            return first->dataFile("log.txt").contains("UDP socket opened on port " +
                                                       QByteArray::number(port));
        }),
                 first->standardError().constData());
        QCOMPARE(ProgramRun::wand(rootTag, port), QByteArray());
        const Heard root(*jack);
        QVERIFY2(root[at440] > 0.5 * root.loudest() && root[at660] < 0.01 * root[at440],
                 root.text().constData());

        second->start();
        QVERIFY2(second->waitUntil([&] { return !second->messages().isEmpty(); }),
                 second->standardError().constData());
        const QString lost = second->messages().join('\n');
        QVERIFY2(lost.startsWith("Failed to connect to the lattice") && lost.contains("UDP socket"),
                 qPrintable(lost));
        QCOMPARE(ProgramRun::wand(volumeTag, port), QByteArray());
        QCOMPARE(ProgramRun::wand(fifthTag, port), QByteArray());
        const Heard fifth(*jack);
        QVERIFY2(fifth[at440] > 0.2 * root[at440] && fifth[at660] > 0.2 * root[at440],
                 fifth.text().constData());

        QVERIFY(first->sendSignal(SIGTERM) && second->sendSignal(SIGTERM));
        QVERIFY(first->waitForExit() && second->waitForExit());
        QCOMPARE(second->exitStatus(), 0);
        QCOMPARE(second->messages().size(), 1);
        QCOMPARE(first->options().value("masterVolume").toDouble(), 0.5);
    }

    // Clicks on the root play and release it; SawFilter from the menu adds
    // harmonics. The look, mono and the window's place survive a restart, and
    // the saved volume and base frequency reach the player at start.
    void playersChangesAreHeardAndKept()
    {
        const auto first = wandProgram();
        ProgramWindow window(*first);
        first->start();
        QVERIFY2(window.waitFor([](Report r) {
            return r.value("patchMenu", "current") == "Sine" && r.balls.contains("/") &&
                   r.widgets.contains("volumeSlider") &&
                   r.value("centralStack", "page") == "circleLayer";
        }),
                 first->standardError().right(2000).constData());
        const QPoint root = window.report().balls.value("/");
        QVERIFY(window.click(root));
        const Heard sine(*jack);
        QVERIFY2(sine[at440] > 0.5 * sine.loudest() && sine.harmonicShare() < 0.01,
                 sine.text().constData());
        QVERIFY(window.click(root));
        const Heard released(*jack);
        QVERIFY2(released.loudest() < 0.01 * sine[at440], released.text().constData());

        // The menu opens on the entry shown; SawFilter is the one above Sine.
        QVERIFY(window.click(window.report().centre("patchMenu")));
        QVERIFY(QTest::qWaitFor([&] { return window.popupShown(); }, 5000));
        QVERIFY(ProgramWindow::xdotool({"key", "Up", "key", "Return"}));
        QVERIFY(window.waitFor(
            [](Report r) { return r.value("patchMenu", "current") == "SawFilter"; }));
        QVERIFY(window.click(root));
        const Heard saw(*jack);
        QVERIFY2(saw[at440] > 0.1 * sine[at440] && saw.harmonicShare() > 0.1,
                 saw.text().constData());

        // "Flowers | Grapes": Grapes fills the right third.
        const QRect label = window.report().widgets.value("linkLabel").rect;
        QVERIFY(window.click(QPoint(label.left() + label.width() * 5 / 6, label.center().y())));
        QVERIFY(window.waitFor(
            [](Report r) { return r.value("centralStack", "page") == "grapeLayer"; }));
        QVERIFY(window.moveAndResize(QPoint(60, 40), QSize(900, 560)));
        QVERIFY(window.waitFor([](Report r) { return r.window.width() == 900; }));
        QVERIFY(window.click(window.report().centre("monoButton")));
        QVERIFY(window.waitFor([](Report r) { return r.value("monoButton", "checked") == "1"; }));
        const WindowReport shown = window.report();

        QVERIFY(window.close() && first->waitForExit());
        QCOMPARE(first->exitStatus(), 0);

        QJsonObject saved = first->options();
        saved.insert("baseFrequency", 550);
        saved.insert("masterVolume", 0.5);
        const auto second = wandProgram(QJsonDocument(saved).toJson());
        ProgramWindow again(*second);
        second->start();
        QVERIFY2(again.waitFor([&](Report r) {
            return r.window == shown.window && r.value("centralStack", "page") == "grapeLayer" &&
                   r.value("monoButton", "checked") == "1" &&
                   r.value("volumeSlider", "value") == "70" && r.balls.contains("/");
        }),
                 second->standardError().right(2000).constData());
        QVERIFY(again.click(again.report().balls.value("/")));
        const Heard based(*jack);
        QVERIFY2(based[at550] > 0.5 * based.loudest() && based[at440] < 0.01 * based[at550],
                 based.text().constData());
        QVERIFY(second->sendSignal(SIGTERM) && second->waitForExit());
    }
};

QTEST_GUILESS_MAIN(EndToEndTest)
#include "EndToEndTest.moc"
