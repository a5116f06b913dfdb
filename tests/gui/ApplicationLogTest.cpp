// The program's logging: log.txt and its framing, and the diagnostics
// channel with its filter words. The handler is installed once, as the
// start-up does; each test reads what its own records appended.

#include "TuningLatticeApplication.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>
#include <memory>

namespace {

const QString stamp = QStringLiteral("\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] ");

QByteArray logText()
{
    QFile file(TuningLatticeApplication::dataDirectory() + QStringLiteral("/log.txt"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool matches(const QString& pattern, const QString& text)
{
    return QRegularExpression(QStringLiteral("^") + pattern + QStringLiteral("$"))
        .match(text)
        .hasMatch();
}

} // namespace

class ApplicationLogTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void filterWordsFromCommandLine_data();
    void filterWordsFromCommandLine();
    void framesRunAndRecords();
    void channelCarriesSelectedRecords_data();
    void channelCarriesSelectedRecords();
    void dropsRecordWithoutSourceWhenFiltering();
    void keepsLinesOfConcurrentRecordsWhole();

private:
    TuningLatticeApplication* app() const { return TuningLatticeApplication::instance(); }
    // What the running test's records appended to log.txt.
    QString appended() const { return QString::fromUtf8(logText().mid(logSizeAtStart)); }

    QTemporaryDir dataHome;
    QByteArray header;
    int logSizeAtStart = 0;
};

void ApplicationLogTest::initTestCase()
{
    qputenv("XDG_DATA_HOME", dataHome.filePath("data").toUtf8());
    QVERIFY(QDir().mkpath(TuningLatticeApplication::dataDirectory()));
    QVERIFY(app()->openLog());
    header = logText();
}

void ApplicationLogTest::init()
{
    logSizeAtStart = logText().size();
    app()->setDiagnosticFilters({});
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

// A run starts with its header; warnings and infos are single time-stamped
// lines, criticals blocks framed by blank lines, debug records stay out.
void ApplicationLogTest::framesRunAndRecords()
{
    QVERIFY2(
        matches("\n-{78}\nStarting app at \\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{1,3}\n",
                QString::fromUtf8(header)),
        header.constData());
    qDebug("debug A");
    qWarning("warning A");
    qCritical("critical A");
    qInfo("info A");
    QVERIFY2(
        matches(stamp + "warning A\n\nCRITICAL:\n" + stamp + "critical A\n\n" + stamp + "info A\n",
                appended()),
        qPrintable(appended()));
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

// Every level of a selected source reaches the channel as one line; the file
// gets the same records either way.
void ApplicationLogTest::channelCarriesSelectedRecords()
{
    QFETCH(QStringList, filters);
    QFETCH(bool, shown);
    app()->setDiagnosticFilters(QSet<QString>(filters.cbegin(), filters.cend()));
    QSignalSpy channel(app(), &TuningLatticeApplication::diagnosticMessage);
    qDebug("debug B");
    qWarning("warning B");
    qCritical("critical B");

    QStringList lines;
    for (const QList<QVariant>& emission : channel)
        lines.append(emission.at(0).toString());
    QCOMPARE(lines.size(), shown ? 3 : 0);
    for (int i = 0; i < lines.size(); ++i)
        QVERIFY2(matches(stamp + " " + QStringList{"debug", "warning", "critical"}.at(i) + " B\n",
                         lines.at(i)),
                 qPrintable(lines.at(i)));
    QVERIFY(appended().contains("warning B\n") && appended().contains("critical B\n"));
    QVERIFY(!appended().contains("debug B"));
}

// With filter words set, a record whose context names no source file is
// dropped from the channel and the file alike; without words it is logged.
void ApplicationLogTest::dropsRecordWithoutSourceWhenFiltering()
{
    QSignalSpy channel(app(), &TuningLatticeApplication::diagnosticMessage);
    app()->setDiagnosticFilters({QStringLiteral("all")});
    QMessageLogger(nullptr, 0, nullptr).warning("no source, filtered");
    QMessageLogger("plainname", 1, nullptr).warning("no folder, filtered");
    app()->setDiagnosticFilters({});
    QMessageLogger(nullptr, 0, nullptr).warning("no source, unfiltered");

    QCOMPARE(channel.count(), 0);
    QVERIFY(!appended().contains(", filtered"));
    QVERIFY(appended().contains("no source, unfiltered\n"));
}

// Two threads logging at once never mix their lines.
void ApplicationLogTest::keepsLinesOfConcurrentRecordsWhole()
{
    const int perThread = 2000;
    QSemaphore ready, go;
    auto writer = [&](char name) {
        return QThread::create([&, name] {
            ready.release();
            go.acquire();
            for (int i = 0; i < perThread; ++i)
                qWarning("thread %c record %d %s", name, i, QByteArray(200, 'x').constData());
        });
    };
    std::unique_ptr<QThread> first(writer('a')), second(writer('b'));
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

int main(int argc, char** argv)
{
    TuningLatticeApplication app(argc, argv);
    ApplicationLogTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ApplicationLogTest.moc"
