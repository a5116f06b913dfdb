// The program's logging: log.txt and its framing, and the diagnostics
// channel with its filter words. The handler is installed once, as the
// start-up does; each test reads what its own records appended.

#include "TuningLatticeApplication.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>
#include <memory>

namespace {

const QString timePattern = QStringLiteral("\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] ");

QString logPath()
{
    return TuningLatticeApplication::dataDirectory() + QStringLiteral("/log.txt");
}

QByteArray logText()
{
    QFile file(logPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Each of these records comes from this source file, ApplicationLogTest.
void logOneOfEach(const char* tag)
{
    qDebug("debug %s", tag);
    qWarning("warning %s", tag);
    qCritical("critical %s", tag);
}

} // namespace

class ApplicationLogTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void filterWordsFromCommandLine_data();
    void filterWordsFromCommandLine();
    void startsRunWithHeader();
    void writesWarningsAndFramesCriticals();
    void channelCarriesSelectedRecords_data();
    void channelCarriesSelectedRecords();
    void dropsRecordWithoutSourceWhenFiltering();
    void keepsLinesOfConcurrentRecordsWhole();

private:
    // What the records of the running test appended to log.txt.
    QString appended() const { return QString::fromUtf8(logText().mid(logSizeAtStart)); }

    std::unique_ptr<QTemporaryDir> dataHome;
    QByteArray header;
    int logSizeAtStart = 0;
};

void ApplicationLogTest::initTestCase()
{
    dataHome = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", dataHome->filePath("data").toUtf8());
    TuningLatticeApplication* app = TuningLatticeApplication::instance();

    // A folder where log.txt belongs: no file, so no handler for this run.
    QVERIFY(QDir().mkpath(logPath()));
    QSignalSpy channel(app, &TuningLatticeApplication::diagnosticMessage);
    app->setDiagnosticFilters({QStringLiteral("all")});
    QVERIFY(!app->openLog());
    qWarning("nobody hears this");
    QCOMPARE(channel.count(), 0);
    QVERIFY(QDir(logPath()).removeRecursively());

    QVERIFY(app->openLog());
    header = logText();
}

void ApplicationLogTest::init()
{
    logSizeAtStart = logText().size();
    TuningLatticeApplication::instance()->setDiagnosticFilters({});
}

void ApplicationLogTest::cleanup()
{
    TuningLatticeApplication::instance()->setDiagnosticFilters({});
}

void ApplicationLogTest::filterWordsFromCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("words");

    QTest::newRow("none") << QStringList() << QStringList();
    QTest::newRow("ALL") << QStringList{"ALL"} << QStringList{"all"};
    QTest::newRow("--all drops one hyphen only") << QStringList{"--all"} << QStringList{"-all"};
    QTest::newRow("class names in any spelling")
        << QStringList{"-PdPlayer", "pdplayer", "UdpListener"}
        << QStringList{"pdplayer", "udplistener"};
}

void ApplicationLogTest::filterWordsFromCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, words);
    QStringList result = TuningLatticeApplication::diagnosticFilterWords(arguments).values();
    result.sort();
    QCOMPARE(result, words);
}

void ApplicationLogTest::startsRunWithHeader()
{
    const QRegularExpression expected(QStringLiteral(
        "^\n-{78}\nStarting app at \\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{1,3}\n$"));
    QVERIFY2(expected.match(QString::fromUtf8(header)).hasMatch(), header.constData());
}

// Warnings are single time-stamped lines, criticals blocks framed by blank
// lines, and debug records never reach the file.
void ApplicationLogTest::writesWarningsAndFramesCriticals()
{
    logOneOfEach("A");
    qInfo("info A");
    const QRegularExpression expected(
        QStringLiteral("^") + timePattern + QStringLiteral("warning A\n\nCRITICAL:\n") +
        timePattern + QStringLiteral("critical A\n\n") + timePattern + QStringLiteral("info A\n$"));
    QVERIFY2(expected.match(appended()).hasMatch(), qPrintable(appended()));
}

void ApplicationLogTest::channelCarriesSelectedRecords_data()
{
    QTest::addColumn<QStringList>("filters");
    QTest::addColumn<bool>("shown");

    QTest::newRow("no words") << QStringList() << false;
    QTest::newRow("this source file") << QStringList{"applicationlogtest"} << true;
    QTest::newRow("another source file") << QStringList{"pdplayer"} << false;
    QTest::newRow("all") << QStringList{"all"} << true;
    QTest::newRow("-all matches nothing") << QStringList{"-all"} << false;
}

// Every level reaches the channel when the source is selected, each as one
// line "[time]  text"; the file gets the same records either way.
void ApplicationLogTest::channelCarriesSelectedRecords()
{
    QFETCH(QStringList, filters);
    QFETCH(bool, shown);
    TuningLatticeApplication* app = TuningLatticeApplication::instance();
    app->setDiagnosticFilters(QSet<QString>(filters.cbegin(), filters.cend()));
    QSignalSpy channel(app, &TuningLatticeApplication::diagnosticMessage);

    logOneOfEach("B");

    QStringList lines;
    for (const QList<QVariant>& emission : channel)
        lines.append(emission.at(0).toString());
    if (!shown) {
        QVERIFY2(lines.isEmpty(), qPrintable(lines.join(QString())));
    } else {
        QCOMPARE(lines.size(), 3);
        const char* texts[] = {"debug B", "warning B", "critical B"};
        for (int i = 0; i < 3; ++i) {
            const QRegularExpression line(QStringLiteral("^") + timePattern + QStringLiteral(" ") +
                                          QLatin1String(texts[i]) + QStringLiteral("\n$"));
            QVERIFY2(line.match(lines.at(i)).hasMatch(), qPrintable(lines.at(i)));
        }
    }
    QVERIFY(appended().contains(QLatin1String("warning B\n")));
    QVERIFY(appended().contains(QLatin1String("critical B\n")));
    QVERIFY(!appended().contains(QLatin1String("debug B")));
}

// With filter words set, a record whose context names no source file is
// dropped from the channel and the file alike; without words it is logged.
void ApplicationLogTest::dropsRecordWithoutSourceWhenFiltering()
{
    TuningLatticeApplication* app = TuningLatticeApplication::instance();
    QSignalSpy channel(app, &TuningLatticeApplication::diagnosticMessage);

    app->setDiagnosticFilters({QStringLiteral("all")});
    QMessageLogger(nullptr, 0, nullptr).warning("no source, filtered");
    QMessageLogger("plainname", 1, nullptr).warning("no folder, filtered");
    app->setDiagnosticFilters({});
    QMessageLogger(nullptr, 0, nullptr).warning("no source, unfiltered");

    QCOMPARE(channel.count(), 0);
    QVERIFY(!appended().contains(QLatin1String("no source, filtered")));
    QVERIFY(!appended().contains(QLatin1String("no folder, filtered")));
    QVERIFY(appended().contains(QLatin1String("no source, unfiltered\n")));
}

// Two threads logging at once never mix their lines.
void ApplicationLogTest::keepsLinesOfConcurrentRecordsWhole()
{
    const int perThread = 2000;
    const QString padding(200, QLatin1Char('x'));
    QSemaphore ready, go;
    auto writer = [&](char name) {
        return QThread::create([&, name] {
            ready.release();
            go.acquire();
            for (int i = 0; i < perThread; ++i)
                qWarning("thread %c record %d %s", name, i, qPrintable(padding));
        });
    };
    std::unique_ptr<QThread> first(writer('a')), second(writer('b'));
    first->start();
    second->start();
    ready.acquire(2);
    go.release(2);
    QVERIFY(first->wait(60000));
    QVERIFY(second->wait(60000));

    const QStringList lines = appended().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2 * perThread);
    const QRegularExpression whole(QStringLiteral("^") + timePattern +
                                   QStringLiteral("thread [ab] record \\d+ x{200}$"));
    for (const QString& line : lines)
        QVERIFY2(whole.match(line).hasMatch(), qPrintable(line));
}

int main(int argc, char** argv)
{
    TuningLatticeApplication app(argc, argv);
    ApplicationLogTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ApplicationLogTest.moc"
