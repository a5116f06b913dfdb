#include "RfidMap.h"
#include "LatticeNoteEvent.h"
#include "LogCapture.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <limits>

namespace {
constexpr int notFound = std::numeric_limits<int>::min();
}

class RfidMapTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void readsEntries_data();
    void readsEntries();
    void writesEntriesBack();
    void initCreatesEmptyFileWhenMissing();
    void initLoadsWithoutWritingBack();
    void initFailsOnUnusableFile_data();
    void initFailsOnUnusableFile();

private:
    QString mapPath() const;
    bool writeMapFile(const QByteArray& text) const;

    std::unique_ptr<QTemporaryDir> dataHome;
};

// Each case gets a data folder of its own, so no run sees a real user's map.
void RfidMapTest::init()
{
    dataHome = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", dataHome->path().toLocal8Bit());
    QCoreApplication::setApplicationName(QStringLiteral("Elsted Tuning Lattice"));
    QVERIFY(QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::DataLocation)));
}

QString RfidMapTest::mapPath() const
{
    return QStandardPaths::writableLocation(QStandardPaths::DataLocation) +
           QStringLiteral("/rfid_map.json");
}

bool RfidMapTest::writeMapFile(const QByteArray& text) const
{
    QFile file(mapPath());
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

void RfidMapTest::readsEntries_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<int>("kind");
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("records");

    QTest::newRow("long name cut to ten, found in any case")
        << QByteArray(R"({"04A1B2C3D4E5F6": {"event": 2, "value": 3}})") << "04A1B2C3D4" << 2
        << 3.0f << "" << QStringList{"RFID 04a1b2c3d4 mapped to: event 2, value 3"};
    QTest::newRow("later sorted name replaces earlier")
        << QByteArray(R"({"abcdefghij2": {"event": 4, "value": 0.5},
                          "ABCDEFGHIJ1": {"event": 2, "value": 3}})")
        << "abcdefghij" << 4 << 0.5f << ""
        << QStringList{"RFID abcdefghij mapped to: event 2, value 3",
                       "RFID abcdefghij mapped to: event 4, value 0.5"};
    QTest::newRow("path value makes a note toggle whatever the event")
        << QByteArray(R"({"t": {"event": 2, "value": "/2/-3/3"}})") << "T" << 0 << 1.0f << "/2/-3/3"
        << QStringList{"RFID t mapped to: event 0, value /2/-3/3"};
    QTest::newRow("root path") << QByteArray(R"({"t": {"event": 5, "value": "/"}})") << "t" << 0
                               << 1.0f << "/" << QStringList{"RFID t mapped to: event 0, value /"};
    QTest::newRow("step that is not a prime")
        << QByteArray(R"({"t": {"event": 0, "value": "/4"}})") << "t" << notFound << 0.0f << ""
        << QStringList{"RFID t was assigned invalid path /4. Ignoring."};
    QTest::newRow("invalid path keeps the earlier entry")
        << QByteArray(R"({"T": {"event": 7, "value": 1}, "t": {"event": 0, "value": "/3/x"}})")
        << "t" << 7 << 1.0f << ""
        << QStringList{"RFID t mapped to: event 7, value 1",
                       "RFID t was assigned invalid path /3/x. Ignoring."};
    QTest::newRow("string without slash is value 0")
        << QByteArray(R"({"t": {"event": 2, "value": "3"}})") << "t" << 2 << 0.0f << ""
        << QStringList{"RFID t mapped to: event 2, value 0"};
    QTest::newRow("event truncated toward zero")
        << QByteArray(R"({"t": {"event": 2.9, "value": -5}})") << "t" << 2 << -5.0f << ""
        << QStringList{"RFID t mapped to: event 2, value -5"};
    QTest::newRow("negative event truncated toward zero")
        << QByteArray(R"({"t": {"event": -1.5, "value": 1}})") << "t" << -1 << 1.0f << ""
        << QStringList{"RFID t mapped to: event -1, value 1"};
    QTest::newRow("event not a number is kind 0")
        << QByteArray(R"({"t": {"event": "6", "value": 0.25}})") << "t" << 0 << 0.25f << ""
        << QStringList{"RFID t mapped to: event 0, value 0.25"};
    QTest::newRow("unknown kind kept")
        << QByteArray(R"({"t": {"event": 99, "value": 1}})") << "t" << 99 << 1.0f << ""
        << QStringList{"RFID t mapped to: event 99, value 1"};
    QTest::newRow("six significant digits")
        << QByteArray(R"({"t": {"event": 9, "value": 261.625565}})") << "t" << 9 << 261.625565f
        << "" << QStringList{"RFID t mapped to: event 9, value 261.626"};
    QTest::newRow("entry not an object") << QByteArray(R"({"t": 7})") << "t" << 0 << 0.0f << ""
                                         << QStringList{"RFID t mapped to: event 0, value 0"};
}

void RfidMapTest::readsEntries()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, tag);
    QFETCH(int, kind);
    QFETCH(float, value);
    QFETCH(QString, path);
    QFETCH(QStringList, records);

    LogCapture log;
    RfidMap map;
    map.read(QJsonDocument::fromJson(json).object());

    QCOMPARE(log.texts(QtWarningMsg), records);
    const LatticeEvent* event = map.lookup(tag);
    QCOMPARE(event != nullptr, kind != notFound);
    if (!event)
        return;
    QCOMPARE(event->type(), kind);
    QCOMPARE(event->value(), value);
    auto note = dynamic_cast<const LatticeNoteEvent*>(event);
    QCOMPARE(note ? note->path().toString() : QString(), path);
}

void RfidMapTest::writesEntriesBack()
{
    RfidMap map;
    map.read(QJsonDocument::fromJson(R"({"Ab": {"event": 2, "value": "/-5"},
                                         "c": {"event": 6, "value": 0.25}})")
                 .object());
    QJsonObject json;
    map.write(json);
    QCOMPARE(QJsonDocument(json).toJson(QJsonDocument::Compact),
             QByteArray(R"({"ab":{"event":0,"value":"/-5"},"c":{"event":6,"value":0.25}})"));
}

void RfidMapTest::initCreatesEmptyFileWhenMissing()
{
    RfidMap map;
    QVERIFY(map.init());
    QVERIFY(map.tags().isEmpty());
    QVERIFY(!map.lookup(QString()));
    QFile file(mapPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QJsonDocument::fromJson(file.readAll()), QJsonDocument(QJsonObject()));
}

// The map is the user's own file: loading it never rewrites it, not even in
// the program's own format.
void RfidMapTest::initLoadsWithoutWritingBack()
{
    const QByteArray text = R"({"04A1B2C3D4": {"event": 2, "value": 3}})";
    QVERIFY(writeMapFile(text));
    RfidMap map;
    QVERIFY(map.init());
    QVERIFY(map.lookup(QStringLiteral("04a1b2c3d4")));
    map.saveIfAutoSave();
    QFile file(mapPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), text);
}

void RfidMapTest::initFailsOnUnusableFile_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("not JSON") << "file" << QByteArray("{\"t\": ");
    QTest::newRow("empty file") << "file" << QByteArray();
    QTest::newRow("folder in place of the file") << "folder" << QByteArray();
    QTest::newRow("data folder cannot be created") << "blocked" << QByteArray();
}

void RfidMapTest::initFailsOnUnusableFile()
{
    QFETCH(QString, setup);
    QFETCH(QByteArray, text);
    if (setup == QLatin1String("file")) {
        QVERIFY(writeMapFile(text));
    } else if (setup == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(mapPath()));
    } else {
        // A regular file where a folder should be stops root as well.
        const QString blocker = dataHome->filePath(QStringLiteral("blocker"));
        QVERIFY(QFile(blocker).open(QIODevice::WriteOnly));
        qputenv("XDG_DATA_HOME", (blocker + QStringLiteral("/data")).toLocal8Bit());
    }

    LogCapture log;
    RfidMap map;
    QVERIFY(!map.init());
    QVERIFY(map.tags().isEmpty());
    QCOMPARE(log.texts(QtCriticalMsg).size(), 1);
}

QTEST_GUILESS_MAIN(RfidMapTest)
#include "RfidMapTest.moc"
