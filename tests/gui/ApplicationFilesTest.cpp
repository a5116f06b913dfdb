// The files the application keeps: log.txt and the diagnostics channel, patch
// copies kept current by creation time, and the style sheets. The log handler
// is installed once, as the start-up does; each test reads what it appended.

#include "AppTestSupport.h"
#include "LogCapture.h"

#include <QtTest>
#include <QtWidgets>
#include <memory>

namespace {

const QString stamp = "\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] ";

bool matches(const QString& pattern, const QString& text)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(text).hasMatch();
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
    int logSizeAtStart = 0;

    // What the running test's records appended to log.txt.
    QString appended() const { return QString::fromUtf8(readFile(logPath).mid(logSizeAtStart)); }

private slots:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", dataHome.filePath("data").toUtf8());
        QVERIFY(QDir().mkpath(TuningLatticeApplication::dataDirectory()));
        QVERIFY(app().openLog());
        logPath = TuningLatticeApplication::dataDirectory() + "/log.txt";
    }

    void init()
    {
        scratch = std::make_unique<QTemporaryDir>();
        app().setResourceDirectory(scratch->filePath("bin"));
        app().setDiagnosticFilters({});
        logSizeAtStart = readFile(logPath).size();
    }

    // A full log.txt becomes log.txt.1 before the next record.
    void rotatesAFullLog()
    {
        QFile file(logPath);
        QVERIFY(file.open(QIODevice::Append));
        QVERIFY(file.write(QByteArray(int(TuningLatticeApplication::logRotateBytes), 'x')) > 0);
        file.close();
        qWarning("after the rotation");
        QVERIFY(QFileInfo(logPath + ".1").size() > TuningLatticeApplication::logRotateBytes);
        QVERIFY(readFile(logPath).contains("after the rotation"));
        QVERIFY(readFile(logPath).size() < 1000);
    }

    void channelCarriesSelectedRecords_data()
    {
        QTest::addColumn<QStringList>("arguments"); // on the command line
        QTest::addColumn<bool>("shown");
        QTest::newRow("none") << QStringList() << false;
        QTest::newRow("this source file in any spelling")
            << QStringList{"-ApplicationFilesTest"} << true;
        QTest::newRow("ALL") << QStringList{"ALL"} << true;
        QTest::newRow("--all drops one hyphen only and matches nothing")
            << QStringList{"--all"} << false;
    }

    // A selected source's records reach the channel without a line end (the
    // window would show blank lines). The file gets time-stamped lines, criticals
    // framed by blank lines, no debug; with words set, records naming no file
    // or no folder are dropped.
    void channelCarriesSelectedRecords()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, shown);
        app().setDiagnosticFilters(TuningLatticeApplication::diagnosticFilterWords(arguments));
        QSignalSpy channel(&app(), &TuningLatticeApplication::diagnosticMessage);
        qDebug("debug B");
        qWarning("warning B");
        qCritical("critical B");
        QMessageLogger(nullptr, 0, nullptr).info("no source B");
        QMessageLogger("plainname", 1, nullptr).warning("no folder B");

        QCOMPARE(channel.size(), shown ? 3 : 0);
        for (int i = 0; i < channel.size(); ++i) {
            const QString line = channel.at(i).at(0).toString();
            const QString level = QStringList{"debug", "warning", "critical"}.at(i);
            QVERIFY2(matches(stamp + ' ' + level + " B", line), qPrintable(line));
        }
        const QString unnamed =
            arguments.isEmpty() ? stamp + "no source B\n" + stamp + "no folder B\n" : QString();
        QVERIFY2(matches(stamp + "warning B\n\nCRITICAL:\n" + stamp + "critical B\n\n" + unnamed,
                         appended()),
                 qPrintable(appended()));
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
        QTest::addColumn<QByteArray>("target");   // before; "(dir)": not deletable
        QTest::addColumn<QByteArray>("expected"); // afterwards; empty: the copy fails
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
        else
            QVERIFY(putFile(target == "(dir)" ? to + "/inside" : to, target) &&
                    putFileNewerThan(from, "source", to));

        LogCapture log;
        QCOMPARE(TuningLatticeApplication::copyFile(from, to), !expected.isEmpty());
        const QStringList critical = log.texts(QtCriticalMsg);
        if (expected.isEmpty())
            QVERIFY2(critical.size() == 1 && critical.at(0).contains(to),
                     qPrintable(critical.join('\n')));
        else
            QCOMPARE(readFile(to), expected);
    }

    // Both sheets join as Latin-1, cut at a zero byte; an unreadable one leaves
    // the look. The shipped ones parse (Qt only warns, at polish).
    void loadsStyleSheets()
    {
        const QString folder = scratch->filePath("bin/");
        QVERIFY(putFile(folder + "style.qss", QByteArray("QLabel { }/* caf\xe9 */\0junk", 25)) &&
                putFile(folder + "style_win.qss", "QFrame { }"));
        const QString sheet = QString::fromLatin1("QLabel { }/* caf\xe9 */QFrame { }");
        LogCapture log;
        QVERIFY(app().loadStyleSheet());
        QCOMPARE(app().styleSheet(), sheet);
        QVERIFY(QFile::remove(folder + "style.qss") && QDir().mkpath(folder + "style.qss"));
        QVERIFY(!app().loadStyleSheet());
        QCOMPARE(app().styleSheet(), sheet);

        app().setResourceDirectory(QCoreApplication::applicationDirPath());
        QVERIFY(app().loadStyleSheet() && !app().styleSheet().isEmpty());
        QLabel note("E");
        note.setObjectName("noteLabel");
        note.ensurePolished();
        QVERIFY2(log.texts(QtWarningMsg).isEmpty(), qPrintable(log.texts(QtWarningMsg).join('\n')));
    }
};

LATTICE_APP_TEST_MAIN(ApplicationFilesTest)
#include "ApplicationFilesTest.moc"
