// The files the application keeps: log.txt with its framing and the
// diagnostics channel with its filter words, the runtime patch folder kept
// current by creation time, and the style sheets. The log handler is
// installed once, as the start-up does; each test reads what its own records
// appended.

#include "LogCapture.h"
#include "TuningLatticeApplication.h"

#include <QDeadlineTimer>
#include <QLabel>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>
#include <memory>

namespace {

const QString stamp = "\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] ";

bool putFile(const QString& path, const QByteArray& contents)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

bool matches(const QString& pattern, const QString& text)
{
    return QRegularExpression('^' + pattern + '$').match(text).hasMatch();
}

QDateTime creationTime(const QString& path) // as copyFile compares
{
    const QFileInfo info(path);
    return info.birthTime().isValid() ? info.birthTime() : info.metadataChangeTime();
}

// Writes path anew until it is stamped later than reference: file times
// advance in ticks of a few milliseconds.
bool putFileNewerThan(const QString& path, const QByteArray& text, const QString& reference)
{
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        QFile::remove(path);
        if (!putFile(path, text))
            return false;
        if (creationTime(path) > creationTime(reference))
            return true;
        QThread::usleep(500);
    }
    return false;
}

} // namespace

class ApplicationFilesTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dataHome;
    std::unique_ptr<QTemporaryDir> scratch;
    QString logPath;
    QByteArray header;
    int logSizeAtStart = 0;

    static TuningLatticeApplication* app() { return TuningLatticeApplication::instance(); }
    // What the running test's records appended to log.txt.
    QString appended() const { return QString::fromUtf8(contents(logPath).mid(logSizeAtStart)); }

private slots:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", dataHome.filePath("data").toUtf8());
        QVERIFY(QDir().mkpath(TuningLatticeApplication::dataDirectory()));
        QVERIFY(app()->openLog());
        logPath = TuningLatticeApplication::dataDirectory() + "/log.txt";
        header = contents(logPath);
    }

    void init()
    {
        scratch = std::make_unique<QTemporaryDir>();
        app()->setResourceDirectory(scratch->filePath("bin"));
        app()->setDiagnosticFilters({});
        logSizeAtStart = contents(logPath).size();
    }

    // A run starts with its header; warnings and infos are single time-stamped
    // lines, criticals blocks framed by blank lines, debug records stay out.
    void framesRunAndRecords()
    {
        QVERIFY2(matches("\n-{78}\nStarting app at \\d\\d/\\d\\d/\\d\\d "
                         "\\d\\d:\\d\\d:\\d\\d\\.\\d{1,3}\n",
                         header),
                 header.constData());
        qDebug("debug A");
        qWarning("warning A");
        qCritical("critical A");
        qInfo("info A");
        QVERIFY2(matches(stamp + "warning A\n\nCRITICAL:\n" + stamp + "critical A\n\n" + stamp +
                             "info A\n",
                         appended()),
                 qPrintable(appended()));
    }

    // A long-running installation must not fill the disk: a full log.txt
    // becomes log.txt.1 before the next record.
    void rotatesAFullLog()
    {
        QFile file(logPath);
        QVERIFY(file.open(QIODevice::Append));
        QVERIFY(file.write(QByteArray(int(TuningLatticeApplication::logRotateBytes), 'x')) > 0);
        file.close();
        qWarning("after the rotation");
        QCOMPARE(QFileInfo(logPath + ".1").size() > TuningLatticeApplication::logRotateBytes, true);
        QVERIFY(contents(logPath).contains("after the rotation"));
        QVERIFY(contents(logPath).size() < 1000);
    }

    void channelCarriesSelectedRecords_data()
    {
        QTest::addColumn<QStringList>("arguments"); // on the command line
        QTest::addColumn<bool>("shown");
        QTest::newRow("none") << QStringList() << false;
        QTest::newRow("this source file in any spelling")
            << QStringList{"-ApplicationFilesTest"} << true;
        QTest::newRow("another source file") << QStringList{"PdPlayer"} << false;
        QTest::newRow("ALL") << QStringList{"ALL"} << true;
        QTest::newRow("--all drops one hyphen only and matches nothing")
            << QStringList{"--all"} << false;
    }

    // Every level of a selected source reaches the channel as one line; the
    // file gets the same records either way. With words set, a record whose
    // context names no source file, or no folder, is dropped from both.
    void channelCarriesSelectedRecords()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, shown);
        app()->setDiagnosticFilters(TuningLatticeApplication::diagnosticFilterWords(arguments));
        QSignalSpy channel(app(), &TuningLatticeApplication::diagnosticMessage);
        qDebug("debug B");
        qWarning("warning B");
        qCritical("critical B");
        QMessageLogger(nullptr, 0, nullptr).warning("no source B");
        QMessageLogger("plainname", 1, nullptr).warning("no folder B");

        QCOMPARE(channel.size(), shown ? 3 : 0);
        for (int i = 0; i < channel.size(); ++i) {
            const QString line = channel.at(i).at(0).toString();
            const QString level = QStringList{"debug", "warning", "critical"}.at(i);
            // No line end of its own: the window would show a blank line.
            QVERIFY2(matches(stamp + ' ' + level + " B", line) && !line.endsWith('\n'),
                     qPrintable(line));
        }
        const QString file = appended();
        QVERIFY2(file.contains("warning B\n") && file.contains("critical B\n") &&
                     !file.contains("debug B"),
                 qPrintable(file));
        QCOMPARE(file.contains("no source B\n"), arguments.isEmpty());
        QCOMPARE(file.contains("no folder B\n"), arguments.isEmpty());
    }

    // Two threads logging at once never mix their lines.
    void keepsLinesOfConcurrentRecordsWhole()
    {
        const int perThread = 2000;
        QSemaphore ready, go;
        auto writer = [&](char name) {
            return std::unique_ptr<QThread>(QThread::create([&, name] {
                ready.release();
                go.acquire();
                for (int i = 0; i < perThread; ++i)
                    qWarning("thread %c record %d %s", name, i, QByteArray(200, 'x').constData());
            }));
        };
        const auto first = writer('a'), second = writer('b');
        first->start();
        second->start();
        ready.acquire(2);
        go.release(2);
        QVERIFY(first->wait(60000) && second->wait(60000));

        const QStringList lines = appended().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2 * perThread);
        for (const QString& line : lines)
            QVERIFY2(matches(stamp + "thread [ab] record \\d+ x{200}", line), qPrintable(line));
    }

    void copyFileKeepsTargetCurrent_data()
    {
        QTest::addColumn<QByteArray>("target");   // before; empty: none; "(dir)": not deletable
        QTest::addColumn<QByteArray>("expected"); // afterwards; empty: the copy fails
        QTest::newRow("missing target is copied") << QByteArray() << QByteArray("source");
        QTest::newRow("target newer than source kept") << QByteArray("edit") << QByteArray("edit");
        QTest::newRow("newer source replaces target") << QByteArray("old") << QByteArray("source");
        QTest::newRow("target cannot be deleted") << QByteArray("(dir)") << QByteArray();
    }

    void copyFileKeepsTargetCurrent()
    {
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, expected);
        const QString from = scratch->filePath("source.pd"), to = scratch->filePath("copy.pd");
        // A folder that is not empty cannot be removed as a file, even by root.
        if (target == "edit")
            QVERIFY(putFile(from, "source") && putFileNewerThan(to, target, from));
        else if (!target.isEmpty())
            QVERIFY(putFile(target == "(dir)" ? to + "/inside" : to, target) &&
                    putFileNewerThan(from, "source", to));
        else
            QVERIFY(putFile(from, "source"));

        LogCapture log;
        QCOMPARE(TuningLatticeApplication::copyFile(from, to), !expected.isEmpty());
        const QStringList critical = log.texts(QtCriticalMsg);
        if (expected.isEmpty())
            QVERIFY2(critical.size() == 1 && critical.at(0).contains(to),
                     qPrintable(critical.join('\n')));
        else
            QCOMPARE(contents(to), expected);
    }

    // A missing shell patch fails its own copy and the step, and only those.
    void patchDirectoryCopiesEveryShellPatchItCan()
    {
        const QStringList names{"lattice_main.pd", "lattice_vprep.pd", "equal-loudness.pd",
                                "tb_compressor~.pd", "tb_compressorUI.pd"};
        const QString shell = scratch->filePath("bin/patches/shell/");
        const QString runtime = TuningLatticeApplication::dataDirectory() + "/patch/";
        for (const QString& name : names.mid(1))
            QVERIFY(putFile(shell + name, "#N canvas 0 0 100 100 12; " + name.toUtf8()));
        LogCapture log;
        QVERIFY(!app()->initPatchDirectory());
        const QStringList critical = log.texts(QtCriticalMsg);
        QVERIFY2(critical.size() == 1 && critical.at(0).contains(shell + names.at(0)),
                 qPrintable(critical.join('\n')));
        QVERIFY(!QFile::exists(runtime + names.at(0)));
        for (const QString& name : names.mid(1))
            QCOMPARE(contents(runtime + name), contents(shell + name));
    }

    void loadStyleSheet_data()
    {
        using B = QByteArray;
        QTest::addColumn<B>("main");          // style.qss; "(dir)": a folder
        QTest::addColumn<B>("platform");      // style_win.qss; "(none)": missing
        QTest::addColumn<QString>("sheet");   // the application's sheet afterwards
        QTest::addColumn<QString>("failing"); // the file named by the one critical record
        QTest::newRow("both, as Latin-1, main cut at a zero byte")
            << B("QLabel { }/* caf\xe9 */\0junk", 25) << B("QFrame { }")
            << QString::fromLatin1("QLabel { }/* caf\xe9 */QFrame { }") << QString();
        QTest::newRow("platform missing")
            << B("QLabel { }") << B("(none)") << QString() << "style_win.qss";
        QTest::newRow("main unreadable")
            << B("(dir)") << B("QFrame { }") << QString() << "style.qss";
    }

    // A sheet that cannot be read leaves the look as it was.
    void loadStyleSheet()
    {
        QFETCH(QByteArray, main);
        QFETCH(QByteArray, platform);
        QFETCH(QString, sheet);
        QFETCH(QString, failing);
        const QString folder = scratch->filePath("bin") + '/';
        const auto put = [&](const QString& name, const QByteArray& text) {
            return text == "(none)" ||
                   (text == "(dir)" ? QDir().mkpath(folder + name) : putFile(folder + name, text));
        };
        QVERIFY(QDir().mkpath(folder) && put("style.qss", main) && put("style_win.qss", platform));
        const QString before = "QLabel { color: gray; }";
        app()->setStyleSheet(before);

        LogCapture log;
        QCOMPARE(app()->loadStyleSheet(), failing.isEmpty());
        QCOMPARE(app()->styleSheet(), failing.isEmpty() ? sheet : before);
        const QStringList critical = log.texts(QtCriticalMsg);
        QCOMPARE(critical.size(), failing.isEmpty() ? 0 : 1);
        if (!failing.isEmpty())
            QVERIFY2(critical.at(0).contains(folder + failing), qPrintable(critical.at(0)));
    }

    // Qt parses the application's sheet when the first widget is polished and
    // reports a rule it cannot parse only as a warning.
    void shippedStyleSheetsParse()
    {
        app()->setResourceDirectory(QCoreApplication::applicationDirPath());
        LogCapture log;
        QVERIFY(app()->loadStyleSheet());
        QVERIFY(!app()->styleSheet().isEmpty());
        QLabel note("E");
        note.setObjectName("noteLabel");
        note.ensurePolished();
        QVERIFY2(log.texts(QtWarningMsg).isEmpty(), qPrintable(log.texts(QtWarningMsg).join('\n')));
    }
};

int main(int argc, char** argv)
{
    TuningLatticeApplication app(argc, argv);
    ApplicationFilesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ApplicationFilesTest.moc"
