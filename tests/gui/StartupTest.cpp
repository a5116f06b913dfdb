// The start-up and shutdown of the real program, run as a process of its own
// on a private JACK server: what the user sees (message boxes, exit status,
// a window or none) and what is left in the data folder.

#include "JackTestServer.h"
#include "ProgramRun.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>
#include <memory>
#include <signal.h>

namespace {

const QString shutdownNotice = QStringLiteral("\n\nThe program will now shut down.");

enum class Failure
{
    ConfigDirectory,
    StyleSheet,
    AudioDevice,
    PatchDirectory,
    Lattice
};

// A copy of the program's folder (program, style sheets, patches) without
// one of its files, so that a test can take away what the program needs.
QString copyProgramFolder(const QString& target, const QString& leftOut)
{
    const QDir source(QCoreApplication::applicationDirPath());
    const QStringList entries{QStringLiteral("tuning-lattice"), QStringLiteral("style.qss"),
                              QStringLiteral("style_win.qss")};
    QDir().mkpath(target);
    for (const QString& entry : entries)
        if (entry != leftOut)
            QFile::copy(source.filePath(entry), target + QLatin1Char('/') + entry);
    QDirIterator patches(source.filePath(QStringLiteral("patches")), QDir::Files,
                         QDirIterator::Subdirectories);
    while (patches.hasNext()) {
        const QString relative = source.relativeFilePath(patches.next());
        if (relative == leftOut)
            continue;
        QDir().mkpath(QFileInfo(target + QLatin1Char('/') + relative).path());
        QFile::copy(patches.filePath(), target + QLatin1Char('/') + relative);
    }
    return target + QStringLiteral("/tuning-lattice");
}

// "[hh:mm:ss.zzz] text" framed as the log frames critical records.
bool hasCriticalRecord(const QByteArray& log, const QString& text)
{
    const QRegularExpression record(
        QStringLiteral("\nCRITICAL:\n\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] ") +
        QRegularExpression::escape(text) + QStringLiteral("\n\n"));
    return record.match(QString::fromUtf8(log)).hasMatch();
}

} // namespace

Q_DECLARE_METATYPE(Failure)

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fatalFailureEndsStartup_data();
    void fatalFailureEndsStartup();
    void runsWithoutLogWhenLogCannotOpen();
    void replacesCorruptOptionsWithDefaults();
    void endsOrderlyOnSignal_data();
    void endsOrderlyOnSignal();

private:
    void requireJack();

    std::unique_ptr<JackTestServer> jack;
};

void StartupTest::initTestCase()
{
    jack = std::make_unique<JackTestServer>();
}

void StartupTest::requireJack()
{
    if (!jack->isRunning())
        QSKIP(qPrintable(jack->error()));
}

void StartupTest::fatalFailureEndsStartup_data()
{
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<QString>("message");

    QTest::newRow("data folder cannot be created")
        << Failure::ConfigDirectory << QStringLiteral("Creation of config directory failed.");
    QTest::newRow("platform style sheet missing")
        << Failure::StyleSheet << QStringLiteral("Initialisation of style sheet failed.");
    QTest::newRow("no audio device")
        << Failure::AudioDevice
        << QStringLiteral("Initialisation of audio device failed. This means no audio playback "
                          "will be possible.");
    QTest::newRow("shell patch missing")
        << Failure::PatchDirectory
        << QStringLiteral("Initialisation of patch directory failed. This means no audio "
                          "playback will be possible.");
    QTest::newRow("lattice.json unreadable")
        << Failure::Lattice << QStringLiteral("Lattice initialisation failed.");
}

// Given a start-up step that cannot succeed, when the program starts, then
// it shows exactly one message, logs it, shows no window and exits with 1.
void StartupTest::fatalFailureEndsStartup()
{
    QFETCH(Failure, failure);
    QFETCH(QString, message);
    if (failure == Failure::PatchDirectory || failure == Failure::Lattice)
        requireJack();

    QTemporaryDir scratch;
    QString program = ProgramRun::defaultProgram();
    if (failure == Failure::StyleSheet)
        program = copyProgramFolder(scratch.filePath("bin"), QStringLiteral("style_win.qss"));
    if (failure == Failure::PatchDirectory)
        program = copyProgramFolder(scratch.filePath("bin"),
                                    QStringLiteral("patches/shell/lattice_vprep.pd"));
    const QString bin = QFileInfo(program).path();

    ProgramRun run(program);
    QString detail; // a record naming the cause, besides the message itself
    switch (failure) {
    case Failure::ConfigDirectory: {
        // Nothing can be created below a regular file, not even by root.
        const QString blocker = run.folder() + QStringLiteral("/blocker");
        QVERIFY(QFile(blocker).open(QIODevice::WriteOnly));
        run.environment().insert(QStringLiteral("XDG_DATA_HOME"), blocker + "/data");
        detail = QStringLiteral("Could not create config directory %1.").arg(run.dataDirectory());
        break;
    }
    case Failure::StyleSheet:
        detail =
            QStringLiteral("Failed to find platform-specific style sheet file %1/style_win.qss.")
                .arg(bin);
        break;
    case Failure::AudioDevice:
        // PortAudio finds no server of this name and no sound card.
        run.environment().insert(
            QStringLiteral("JACK_DEFAULT_SERVER"),
            QStringLiteral("lattice-none-%1").arg(QCoreApplication::applicationPid()));
        run.environment().insert(QStringLiteral("JACK_NO_START_SERVER"), QStringLiteral("1"));
        break;
    case Failure::PatchDirectory:
        jack->addTo(run.environment());
        detail = QStringLiteral("Failed to copy \"%1/patches/shell/lattice_vprep.pd\" to "
                                "\"%2/patch/lattice_vprep.pd\"")
                     .arg(bin, run.dataDirectory());
        break;
    case Failure::Lattice:
        jack->addTo(run.environment());
        QVERIFY(run.writeDataFile(QStringLiteral("lattice.json"), "{ \"balls\": "));
        break;
    }

    run.start();
    QVERIFY(run.waitForExit());
    QCOMPARE(run.exitStatus(), 1);
    QCOMPARE(run.messages(), QStringList{message + shutdownNotice});
    QVERIFY(!run.sawMark("main-window"));
    QVERIFY(!run.sawMark("event-loop"));

    if (failure == Failure::ConfigDirectory) {
        // Before the log exists, records go to the toolkit's default output.
        QVERIFY2(run.standardError().contains(detail.toUtf8()), run.standardError().constData());
        return;
    }
    const QByteArray log = run.dataFile(QStringLiteral("log.txt"));
    QVERIFY2(hasCriticalRecord(log, message + shutdownNotice), log.constData());
    if (!detail.isEmpty())
        QVERIFY2(log.contains(detail.toUtf8()), log.constData());
}

// Given log.txt that cannot be opened (a folder in its place), the program
// still runs, says why on standard error, and leaves the folder empty.
void StartupTest::runsWithoutLogWhenLogCannotOpen()
{
    requireJack();
    ProgramRun run;
    jack->addTo(run.environment());
    QVERIFY(QDir().mkpath(run.dataDirectory() + QStringLiteral("/log.txt")));

    run.start();
    QVERIFY2(run.waitForEventLoop(), run.standardError().constData());
    QVERIFY(run.sendSignal(SIGTERM));
    QVERIFY(run.waitForExit());
    QCOMPARE(run.exitStatus(), 0);

    const QString logPath = run.dataDirectory() + QStringLiteral("/log.txt");
    QVERIFY(run.standardError().contains(
        QStringLiteral("Couldn't open log file %1 for writing.").arg(logPath).toUtf8()));
    QVERIFY(QDir(logPath).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    QVERIFY(run.messages().isEmpty());
}

// Given a corrupt options.json, the program says so once, runs with the
// defaults and leaves valid JSON holding them at exit.
void StartupTest::replacesCorruptOptionsWithDefaults()
{
    requireJack();
    ProgramRun run;
    jack->addTo(run.environment());
    QVERIFY(run.writeDataFile(QStringLiteral("options.json"),
                              "{ \"baseFrequency\": 432, \"masterVolume\": "));

    run.start();
    QVERIFY2(run.waitForEventLoop(), run.standardError().constData());
    QVERIFY(run.sendSignal(SIGTERM));
    QVERIFY(run.waitForExit());
    QCOMPARE(run.exitStatus(), 0);

    QCOMPARE(run.messages(),
             QStringList{QStringLiteral(
                 "Failed to read saved options. All options will be reset to defaults.")});
    const QJsonObject options = run.options();
    QCOMPARE(options.value("baseFrequency").toDouble(), 440.0);
    QCOMPARE(options.value("udpPort").toInt(), 8888);
}

void StartupTest::endsOrderlyOnSignal_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

// Given a running program without options.json, when a termination signal
// arrives, the whole shutdown runs: exit status 0, the audio closed after
// the patch, and options.json holding what the run changed (the device in
// use, the window's size).
void StartupTest::endsOrderlyOnSignal()
{
    QFETCH(int, signalNumber);
    requireJack();
    ProgramRun run;
    jack->addTo(run.environment());

    run.start();
    QVERIFY2(run.waitForEventLoop(), run.standardError().constData());
    QCOMPARE(run.options().value("windowSize").toString(), QStringLiteral("-1,-1"));
    QVERIFY(run.sendSignal(signalNumber));
    QVERIFY(run.waitForExit());
    QCOMPARE(run.exitStatus(), 0);

    QVERIFY(run.messages().isEmpty());
    const QJsonObject options = run.options();
    QCOMPARE(options.value("audioDevice").toInt(-1), 0);
    QVERIFY2(options.value("windowSize").toString() != QLatin1String("-1,-1"),
             qPrintable(options.value("windowSize").toString()));
    const QByteArray log = run.dataFile(QStringLiteral("log.txt"));
    const int playerEnds = log.indexOf("PdPlayer::term...");
    const int audioEnds = log.indexOf("PaAudioOutput::term...");
    QVERIFY2(playerEnds > 0 && audioEnds > playerEnds, log.constData());
}

QTEST_GUILESS_MAIN(StartupTest)
#include "StartupTest.moc"
