#include "RfidMap.h"
#include "LatticeNoteEvent.h"
#include "LogCapture.h"

#include <QtTest>
#include <limits>

namespace {

constexpr int notFound = std::numeric_limits<int>::min();

QString mapPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::DataLocation) + "/rfid_map.json";
}

QByteArray contents()
{
    QFile file(mapPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

bool writeMapFile(const QByteArray& text)
{
    QFile file(mapPath());
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

} // namespace

class RfidMapTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dataHome;

private slots:
    // Each case gets a data folder of its own, so no run sees a real user's map.
    void init()
    {
        dataHome = std::make_unique<QTemporaryDir>();
        qputenv("XDG_DATA_HOME", dataHome->path().toLocal8Bit());
        QCoreApplication::setApplicationName(QStringLiteral("Elsted Tuning Lattice"));
        QVERIFY(QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::DataLocation)));
    }

    void readsEntries_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<int>("kind");
        QTest::addColumn<float>("value");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("records");
        auto row = [](const char* name, const char* json, const char* tag, int kind, float value,
                      const char* path, const QStringList& records) {
            QTest::newRow(name) << QByteArray(json) << tag << kind << value << path << records;
        };
        row("cut to ten, found in any case", R"({"04A1B2C3D4E5F6": {"event": 2, "value": 3}})",
            "04A1B2C3D4", 2, 3.0f, "", {"RFID 04a1b2c3d4 mapped to: event 2, value 3"});
        row("later sorted name replaces earlier",
            R"({"abcdefghij2": {"event": 4, "value": 0.5}, "ABCDEFGHIJ1": {"event": 2, "value": 3}})",
            "abcdefghij", 4, 0.5f, "",
            {"RFID abcdefghij mapped to: event 2, value 3",
             "RFID abcdefghij mapped to: event 4, value 0.5"});
        row("path value makes a note toggle", R"({"t": {"event": 2, "value": "/2/-3/3"}})", "T", 0,
            1.0f, "/2/-3/3", {"RFID t mapped to: event 0, value /2/-3/3"});
        row("step that is not a prime", R"({"t": {"event": 0, "value": "/4"}})", "t", notFound,
            0.0f, "", {"RFID t was assigned invalid path /4. Ignoring."});
        row("invalid path keeps the earlier entry",
            R"({"T": {"event": 7, "value": 1}, "t": {"event": 0, "value": "/3/x"}})", "t", 7, 1.0f,
            "",
            {"RFID t mapped to: event 7, value 1",
             "RFID t was assigned invalid path /3/x. Ignoring."});
        row("string without slash is value 0", R"({"t": {"event": 2, "value": "3"}})", "t", 2, 0.0f,
            "", {"RFID t mapped to: event 2, value 0"});
        row("event truncated toward zero", R"({"t": {"event": -1.5, "value": 1}})", "t", -1, 1.0f,
            "", {"RFID t mapped to: event -1, value 1"});
        row("event not a number is kind 0", R"({"t": {"event": "6", "value": 0.25}})", "t", 0,
            0.25f, "", {"RFID t mapped to: event 0, value 0.25"});
        row("entry not an object", R"({"t": 7})", "t", 0, 0.0f, "",
            {"RFID t mapped to: event 0, value 0"});
    }
    void readsEntries()
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

    // A missing map is created empty. A user's map is loaded and never
    // rewritten, not even in the program's own format.
    void initCreatesOrLoadsWithoutRewriting()
    {
        RfidMap empty;
        QVERIFY(empty.init());
        QVERIFY(empty.tags().isEmpty());
        QCOMPARE(QJsonDocument::fromJson(contents()), QJsonDocument(QJsonObject()));
        const QByteArray text = R"({"04A1B2C3D4": {"event": 2, "value": 3}})";
        QVERIFY(writeMapFile(text));
        RfidMap map;
        QVERIFY(map.init());
        QVERIFY(map.lookup(QStringLiteral("04a1b2c3d4")));
        map.saveIfAutoSave();
        QCOMPARE(contents(), text);
    }

    void initFailsOnUnusableFile_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::newRow("not JSON") << "file";
        QTest::newRow("folder in place of the file") << "folder";
        QTest::newRow("data folder cannot be created") << "blocked";
    }
    void initFailsOnUnusableFile()
    {
        QFETCH(QString, setup);
        if (setup == "file") {
            QVERIFY(writeMapFile("{\"t\": "));
        } else if (setup == "folder") {
            QVERIFY(QDir().mkdir(mapPath()));
        } else { // a regular file where a folder should be stops root as well
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
};

QTEST_GUILESS_MAIN(RfidMapTest)
#include "RfidMapTest.moc"
