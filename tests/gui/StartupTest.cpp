// The start-up and shutdown of the real program as a process of its own on a
// private JACK server: what the user sees (message boxes, exit status, a
// window or none) and what is left in the data folder.

#include "JackTestServer.h"
#include "ProgramRun.h"

#include <QtTest>
#include <memory>
#include <signal.h>

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fatalFailureEndsStartup_data();
    void fatalFailureEndsStartup();
    void survivesUnopenableLogAndCorruptOptions();
    void endsOrderlyOnSignal_data();
    void endsOrderlyOnSignal();

private:
    std::unique_ptr<JackTestServer> jack;
};

void StartupTest::initTestCase()
{
    jack = std::make_unique<JackTestServer>();
    if (!jack->isRunning())
        QSKIP(qPrintable(jack->error()));
}

void StartupTest::fatalFailureEndsStartup_data()
{
    QTest::addColumn<QString>("cause"); // a file left out of the program's folder, or a setup
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("detail"); // logged too; %1 the program's folder, %2 the data folder

    QTest::newRow("data folder cannot be created") << "data folder under a file"
                                                   << "Creation of config directory failed."
                                                   << "%2";
    QTest::newRow("platform style sheet missing") << "style_win.qss"
                                                  << "Initialisation of style sheet failed."
                                                  << "%1/style_win.qss";
    QTest::newRow("no audio device") << "no sound server"
                                     << "Initialisation of audio device failed. This means no "
                                        "audio playback will be possible."
                                     << QString();
    QTest::newRow("shell patch missing")
        << "patches/shell/lattice_vprep.pd"
        << "Initialisation of patch directory failed. This means no audio playback will be "
           "possible."
        << "%1/patches/shell/lattice_vprep.pd";
    QTest::newRow("lattice.json unreadable") << "lattice.json cut short"
                                             << "Lattice initialisation failed."
                                             << "lattice.json";
}

// Given a start-up step that cannot succeed, the program shows exactly one
// message, logs it, shows no window and exits with 1.
void StartupTest::fatalFailureEndsStartup()
{
    QFETCH(QString, cause);
    QFETCH(QString, message);
    QFETCH(QString, detail);
    QTemporaryDir scratch;
    QString bin = QCoreApplication::applicationDirPath();
    if (!cause.contains(' ')) {
        const QString copy = scratch.filePath("bin");
        QVERIFY(QDir().mkpath(copy));
        QCOMPARE(QProcess::execute("cp", {"-r", bin + "/tuning-lattice", bin + "/style.qss",
                                          bin + "/style_win.qss", bin + "/patches", copy}),
                 0);
        QVERIFY(QFile::remove(copy + '/' + cause));
        bin = copy;
    }

    ProgramRun run(bin + "/tuning-lattice");
    jack->addTo(run.environment());
    if (cause == "data folder under a file") {
        // Nothing can be created below a regular file, not even by root.
        QVERIFY(QFile(run.folder() + "/file").open(QIODevice::WriteOnly));
        run.environment().insert("XDG_DATA_HOME", run.folder() + "/file/data");
    } else if (cause == "no sound server") {
        run.environment().insert("JACK_DEFAULT_SERVER",
                                 "lattice-none-" +
                                     QString::number(QCoreApplication::applicationPid()));
    } else if (cause == "lattice.json cut short") {
        QVERIFY(run.writeDataFile("lattice.json", "{ \"balls\": "));
    }

    run.start();
    QVERIFY(run.waitForExit());
    QCOMPARE(run.exitStatus(), 1);
    QCOMPARE(run.messages(), QStringList{message + "\n\nThe program will now shut down."});
    QVERIFY(!run.standardError().contains("startup-trace main-window "));
    // Before the data folder exists, records go to standard error.
    const bool logged = cause != "data folder under a file";
    const QByteArray log = logged ? run.dataFile("log.txt") : run.standardError();
    if (logged)
        QVERIFY2(log.contains("CRITICAL:\n") && log.contains(message.toUtf8()), log.constData());
    detail.replace("%1", bin).replace("%2", run.dataDirectory());
    QVERIFY2(detail.isEmpty() || log.contains(detail.toUtf8()), log.constData());
}

// Neither a log.txt that cannot be opened (a folder in its place) nor a
// corrupt options.json stops the program: it says why, runs with the
// defaults, keeps the corrupt file and writes valid options at exit.
void StartupTest::survivesUnopenableLogAndCorruptOptions()
{
    ProgramRun run;
    jack->addTo(run.environment());
    const QByteArray corrupt = "{ \"baseFrequency\": 432, \"masterVolume\": ";
    QVERIFY(run.writeDataFile("options.json", corrupt));
    const QString logPath = run.dataDirectory() + "/log.txt";
    QVERIFY(QDir().mkpath(logPath));
    run.start();
    QVERIFY2(run.waitForEventLoop(), run.standardError().constData());
    QVERIFY(run.sendSignal(SIGTERM) && run.waitForExit());
    QCOMPARE(run.exitStatus(), 0);

    QVERIFY(run.standardError().contains("Couldn't open log file " + logPath.toUtf8()));
    QVERIFY(QDir(logPath).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    QCOMPARE(run.messages(),
             QStringList{"Failed to read saved options. All options will be reset to defaults."});
    QCOMPARE(run.dataFile("options.json.bad"), corrupt);
    QCOMPARE(run.options().value("baseFrequency").toDouble(), 440.0);
}

void StartupTest::endsOrderlyOnSignal_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

// A termination signal runs the whole shutdown: status 0, the audio closed
// after the patch, and options.json holding what the run changed.
void StartupTest::endsOrderlyOnSignal()
{
    QFETCH(int, signalNumber);
    ProgramRun run;
    jack->addTo(run.environment());
    run.start();
    QVERIFY2(run.waitForEventLoop(), run.standardError().constData());
    // Written at start with the defaults; the window's size only at the end.
    QCOMPARE(run.options().value("windowSize").toString(), QStringLiteral("-1,-1"));
    QVERIFY(run.sendSignal(signalNumber) && run.waitForExit());
    QCOMPARE(run.exitStatus(), 0);

    QVERIFY(run.messages().isEmpty());
    QCOMPARE(run.options().value("audioDevice").toInt(-1), 0);
    QVERIFY(run.options().value("windowSize").toString() != QLatin1String("-1,-1"));
    const QByteArray log = run.dataFile("log.txt");
    const int playerEnds = log.indexOf("PdPlayer::term...");
    QVERIFY2(playerEnds > 0 && log.indexOf("PaAudioOutput::term...") > playerEnds, log.constData());
}

QTEST_GUILESS_MAIN(StartupTest)
#include "StartupTest.moc"
