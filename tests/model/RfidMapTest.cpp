#include "RfidMap.h"
#include "LatticeNoteEvent.h"
#include "LogCapture.h"

#include <QtTest>

namespace {

QString mapPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::DataLocation) + "/rfid_map.json";
}

// "kind value", and the path of a note toggle; empty for no event.
QString describe(const LatticeEvent* event)
{
    if (!event)
        return QString();
    auto note = dynamic_cast<const LatticeNoteEvent*>(event);
    return QString("%1 %2 %3")
        .arg(event->type())
        .arg(double(event->value()))
        .arg(note ? note->path().toString() : QString())
        .trimmed();
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
        QTest::addColumn<QString>("event");
        auto row = [](const char* name, const char* json, const char* tag, const char* event) {
            QTest::newRow(name) << QByteArray(json) << tag << event;
        };
        row("cut to ten, found in any case", R"({"04A1B2C3D4E5F6": {"event": 2, "value": 3}})",
            "04A1B2C3D4", "2 3");
        row("later sorted name replaces earlier",
            R"({"abcdefghij2": {"event": 4, "value": 0.5}, "ABCDEFGHIJ1": {"event": 2, "value": 3}})",
            "abcdefghij", "4 0.5");
        row("path value makes a note toggle", R"({"t": {"event": 2, "value": "/2/-3/3"}})", "T",
            "0 1 /2/-3/3");
        row("step that is not a prime", R"({"t": {"event": 0, "value": "/4"}})", "t", "");
        row("most negative step", R"({"t": {"event": 0, "value": "/-2147483648"}})", "t", "");
        row("invalid path keeps the earlier entry",
            R"({"T": {"event": 7, "value": 1}, "t": {"event": 0, "value": "/3/x"}})", "t", "7 1");
        row("string without slash is value 0", R"({"t": {"event": 2, "value": "3"}})", "t", "2 0");
        row("event truncated toward zero", R"({"t": {"event": -1.5, "value": 1}})", "t", "-1 1");
        row("event not a number is kind 0", R"({"t": {"event": "6", "value": 0.25}})", "t",
            "0 0.25");
        row("entry not an object", R"({"t": 7})", "t", "0 0");
    }
    void readsEntries()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, tag);
        QFETCH(QString, event);
        RfidMap map;
        map.read(QJsonDocument::fromJson(json).object());
        QCOMPARE(describe(map.lookup(tag)), event);
    }

    // A tag name is text from the file: "%1" in it stays as written.
    void recordsTagNamesAsWritten()
    {
        LogCapture log;
        RfidMap map;
        map.read(QJsonDocument::fromJson(R"({"%1%2%3": {"event": 2, "value": 3}})").object());
        QCOMPARE(log.texts(QtWarningMsg).filter("mapped to").value(0).left(30),
                 QStringLiteral("RFID %1%2%3 mapped to: event 2"));
    }

    // A missing map is created empty. A user's map is loaded and never
    // rewritten, not even in the program's own format.
    void initCreatesOrLoadsWithoutRewriting()
    {
        RfidMap empty;
        QVERIFY(empty.init() && empty.tags().isEmpty());
        QFile file(mapPath());
        QVERIFY(file.open(QIODevice::ReadWrite));
        QCOMPARE(QJsonDocument::fromJson(file.readAll()), QJsonDocument(QJsonObject()));
        const QByteArray text = R"({"04A1B2C3D4": {"event": 2, "value": 3}})";
        QVERIFY(file.resize(0) && file.write(text) == text.size());
        file.close();
        RfidMap map;
        QVERIFY(map.init() && map.lookup(QStringLiteral("04a1b2c3d4")));
        map.saveIfAutoSave();
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), text);
    }

    // A damaged file writes at most a hundred warnings and then their count;
    // a file above the size cap is not read at all.
    void boundsWhatAFileCanCost()
    {
        QByteArray text = "{";
        for (int i = 0; i < 150; ++i)
            text += (i ? ",\"t" : "\"t") + QByteArray::number(i) + "\": {\"value\": \"/4\"}";
        QFile file(mapPath());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text + "}") > 0);
        file.close();
        {
            LogCapture log;
            RfidMap map;
            QVERIFY(map.init());
            QCOMPARE(log.texts(QtWarningMsg).filter("invalid path").size(), 100);
            QCOMPARE(log.texts(QtWarningMsg).filter("50 more warning(s)").size(), 1);
        }
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write(QByteArray(int(SerializableRoot::maxFileBytes) + 1, ' ')) > 0);
        file.close();
        LogCapture log;
        RfidMap map;
        QVERIFY(!map.init());
        QCOMPARE(log.texts(QtCriticalMsg).filter("more than the 16 MiB").size(), 1);
    }

    // A file that is not JSON, or a data folder that cannot be made, fails
    // the same way for every file the program keeps (see SettingsTest).
    void initFailsOnFolderInPlaceOfFile()
    {
        QVERIFY(QDir().mkdir(mapPath()));
        LogCapture log;
        RfidMap map;
        QVERIFY(!map.init());
        QVERIFY(map.tags().isEmpty());
        QCOMPARE(log.texts(QtCriticalMsg),
                 QStringList{QString("Couldn't open file %1 for loading.").arg(mapPath())});
    }
};

QTEST_GUILESS_MAIN(RfidMapTest)
#include "RfidMapTest.moc"
