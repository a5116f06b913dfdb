// The instrument as an installation lays it out: this build installed under
// /usr in a scratch DESTDIR, then the installed programs run from there.

#include "JackTestServer.h"
#include "ProgramRun.h"

#include <QtTest>
#include <signal.h>

namespace {

// A run of an installed program with no display and its own data home.
struct Answer
{
    Answer(const QString& program, const QStringList& arguments, const QString& dataHome)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY"); // a window would need one, and fail
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("XDG_DATA_HOME", dataHome);
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        finished = process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit;
        status = process.exitCode();
        out = process.readAllStandardOutput();
    }
    bool finished;
    int status;
    QByteArray out;
};

} // namespace

class InstalledProgramTest : public QObject
{
    Q_OBJECT

    QTemporaryDir root{LATTICE_BUILD_DIR "/installed-XXXXXX"};
    QString usr(const QString& path) const { return root.path() + "/usr/" + path; }

private slots:
    void initTestCase()
    {
        // A component install keeps its own manifest, so that the one
        // `make uninstall` reads still names what `make install` put in place.
        QProcess install;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DESTDIR", root.path());
        install.setProcessEnvironment(environment);
        install.start(LATTICE_CMAKE, {"--install", LATTICE_BUILD_DIR, "--prefix", "/usr",
                                      "--component", "instrument"});
        QVERIFY(install.waitForFinished(60000));
        QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());
    }

    // Answered before the application starts: no display needed, no data folder made.
    void versionAndHelp()
    {
        const QString data = root.filePath("data");
        const QByteArray version = "(Elsted Tuning Lattice) " LATTICE_VERSION "\n";
        const Answer program(usr("bin/tuning-lattice"), {"all", "--version"}, data);
        QVERIFY(program.finished && program.status == 0);
        QCOMPARE(program.out, "tuning-lattice " + version);
        const Answer help(usr("bin/tuning-lattice"), {"-h"}, data);
        QVERIFY(help.finished && help.status == 0);
        QVERIFY2(help.out.contains("--version") && help.out.contains("\"all\""), help.out);
        QVERIFY(!QFileInfo::exists(data));
        const Answer tool(usr("bin/lattice-tool"), {"--version"}, data);
        QVERIFY(tool.finished && tool.status == 0);
        QCOMPARE(tool.out, "lattice-tool " + version);
    }

    // Started as the desktop entry says, the program finds its installed
    // patches: a wand tag sent by the installed tool sounds the root.
    void desktopEntryStartsThePlayingProgram()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X display; run through scripts/xvfb-test-display.sh");
        const JackTestServer jack;
        if (!jack.isRunning())
            QSKIP(qPrintable(jack.error()));
        const QDir applications(usr("share/applications"));
        const QStringList entries = applications.entryList({"*.desktop"});
        QCOMPARE(entries.size(), 1);
        const QString entry = readFile(applications.filePath(entries[0]));
        const QString exec =
            QRegularExpression("^Exec=(\\S+)$", QRegularExpression::MultilineOption)
                .match(entry)
                .captured(1);
        QVERIFY2(QFileInfo(usr("bin/" + exec)).isExecutable(), qPrintable(entry));

        ProgramRun run(usr("bin/" + exec));
        jack.addTo(run.environment());
        run.environment().insert("QT_QPA_PLATFORM", "xcb");
        const QByteArray port = QByteArray::number(ProgramRun::freeUdpPort());
        QVERIFY(run.writeDataFile("options.json", "{ \"udpPort\": " + port + " }"));
        QVERIFY(run.writeDataFile("rfid_map.json",
                                  R"({ "inst000001": { "event": 0, "value": "/" } })"));
        run.start();
        QVERIFY2(run.waitUntil([&] {
            return run.dataFile("log.txt").contains("UDP socket opened on port " + port);
        }),
                 run.standardError().constData());
        QCOMPARE(QProcess::execute(usr("bin/lattice-tool"), {"wand", "inst000001", "--port", port}),
                 0);
        const std::vector<double> heard = jack.levels({440, 550, 660});
        QVERIFY2(heard[0] > 0 && heard[1] < 0.01 * heard[0] && heard[2] < 0.01 * heard[0],
                 qPrintable(QString("%1 %2 %3").arg(heard[0]).arg(heard[1]).arg(heard[2])));
        QCOMPARE(run.dataFile("patch/lattice_main.pd"),
                 readFile(usr("share/tuning-lattice/patches/shell/lattice_main.pd")));
        QCOMPARE(run.messages(), QStringList());
        QVERIFY(run.sendSignal(SIGTERM) && run.waitForExit());
        QCOMPARE(run.exitStatus(), 0);
    }
};

QTEST_GUILESS_MAIN(InstalledProgramTest)
#include "InstalledProgramTest.moc"
