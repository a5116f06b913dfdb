#include "Settings.h"
#include "LogCapture.h"

#include <QtTest>
#include <memory>
#include <signal.h>
#include <sys/resource.h>

namespace {

QString optionsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::DataLocation) + "/options.json";
}

// A save must leave no temporary file behind.
QStringList dataFolderEntries()
{
    return QDir(QFileInfo(optionsPath()).path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

bool putFile(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

QByteArray defaultText()
{
    return "{\n    \"audioDevice\": -1,\n    \"baseFrequency\": 440,\n"
           "    \"calibrationFrequency\": 440,\n    \"circlesView\": true,\n"
           "    \"defaultPatch\": \"" +
           QCoreApplication::applicationDirPath().toUtf8() +
           "/patches/Sine.pd\",\n    \"framesPerBuffer\": 256,\n    \"masterVolume\": 0.75,\n"
           "    \"monophonic\": false,\n    \"udpPort\": 8888,\n    \"windowMaximized\": false,\n"
           "    \"windowPos\": \"-1,-1\",\n    \"windowSize\": \"-1,-1\"\n}\n";
}

QByteArray written(const Settings& settings)
{
    QJsonObject json;
    settings.write(json);
    return QJsonDocument(json).toJson();
}

QByteArray defaultsWith(const QJsonObject& changes)
{
    QJsonObject json = QJsonDocument::fromJson(defaultText()).object();
    for (auto it = changes.begin(); it != changes.end(); ++it)
        json.insert(it.key(), it.value());
    return QJsonDocument(json).toJson();
}

} // namespace

class SettingsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dataHome;

private slots:
    void initTestCase() { QCoreApplication::setApplicationName("Elsted Tuning Lattice"); }

    // Every case starts from an empty data folder of its own.
    void init()
    {
        dataHome = std::make_unique<QTemporaryDir>();
        qputenv("XDG_DATA_HOME", dataHome->path().toUtf8());
        QVERIFY(optionsPath().startsWith(dataHome->path() + '/') &&
                QDir().mkpath(QFileInfo(optionsPath()).path()));
    }

    void readsOptions_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QJsonObject>("changes");
        auto row = [](const char* name, const QByteArray& file, const QJsonObject& changes) {
            QTest::newRow(name) << file << changes;
        };
        row("truncated", R"({"udpPort": 9000.7})", {{"udpPort", 9000}});
        row("negative toward zero", R"({"udpPort": -1.5})", {{"udpPort", -1}});
        row("clamped beyond int", R"({"udpPort": 1e12})", {{"udpPort", 2147483647}});
        row("size of one number", R"({"windowSize": "800"})", {});
        row("size of three numbers", R"({"windowSize": "800,600,1"})", {{"windowSize", "800,600"}});
        row("size not integer", R"({"windowSize": "800,x"})", {{"windowSize", "800,0"}});
        row("array top level", R"([{"udpPort": 9000}])", {});
        // A value of the wrong JSON type is ignored, key by key.
        row("wrong types",
            R"({"audioDevice": "3", "framesPerBuffer": true, "baseFrequency": "432",)"
            R"("calibrationFrequency": null, "masterVolume": [0.5], "monophonic": 1,)"
            R"("defaultPatch": 5, "udpPort": {}, "circlesView": "false", "windowSize": 800,)"
            R"("windowPos": [1, 2], "windowMaximized": 0})",
            {});
    }
    void readsOptions()
    {
        QFETCH(QByteArray, file);
        QFETCH(QJsonObject, changes);
        QVERIFY(putFile(optionsPath(), file));
        LogCapture log;
        Settings settings;
        QVERIFY(settings.init());
        QCOMPARE(written(settings), defaultsWith(changes));
        QVERIFY(log.records().isEmpty());
        QVERIFY(!QFile::exists(optionsPath() + ".bad"));
    }

    // The copy replaces an older, longer one and the values stay as they were.
    void keepsUnparsableFileAsCopy()
    {
        const QByteArray file = R"({"udpPort": 9000,)";
        const QString copy = optionsPath() + ".bad";
        QVERIFY(putFile(optionsPath(), file));
        QVERIFY(putFile(copy, "an older copy that is much longer than the new one"));
        LogCapture log;
        Settings settings;
        settings.udpPort = 1234;
        QVERIFY(!settings.init());
        const QStringList critical = log.texts(QtCriticalMsg);
        QVERIFY(critical.size() == 1 &&
                critical[0].startsWith("Couldn't parse file " + optionsPath() + ". JSON error: "));
        QCOMPARE(log.texts(QtWarningMsg),
                 QStringList{"Kept a copy of the unreadable file as \"" + copy + '"'});
        QCOMPARE(contents(copy), file);
        QCOMPARE(settings.udpPort, 1234);
    }

    void reportsFileThatCannotBeCreated()
    {
        // Below a regular file nothing can be created, not even by root.
        QVERIFY(putFile(dataHome->filePath("plain"), "x"));
        qputenv("XDG_DATA_HOME", dataHome->filePath("plain/data").toUtf8());
        const QString record = QString("Couldn't open file %1 for saving.").arg(optionsPath());
        LogCapture log;
        Settings settings;
        QVERIFY(!settings.init());
        settings.autoSave = false;
        settings.saveIfAutoSave();
        settings.autoSave = true;
        settings.saveIfAutoSave();
        QCOMPARE(log.texts(QtCriticalMsg), (QStringList{record, record}));
    }

    // A write limit makes every write past the first bytes fail, as a full
    // disk would, for root as much as for anyone.
    void failedSaveKeepsPreviousFile()
    {
        const QByteArray previous = R"({"udpPort": 9000})";
        QVERIFY(putFile(optionsPath(), previous));
        Settings settings;
        QVERIFY(settings.init());
        settings.defaultPatch = QString(200, 'p');
        LogCapture log;
        rlimit limit{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &limit), 0);
        rlimit tight = limit;
        tight.rlim_cur = 64;
        void (*handler)(int) = signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
        const bool saved = settings.save();
        setrlimit(RLIMIT_FSIZE, &limit);
        signal(SIGXFSZ, handler);
        QVERIFY(!saved);
        QCOMPARE(log.texts(QtCriticalMsg),
                 QStringList{QString("Couldn't open file %1 for saving.").arg(optionsPath())});
        QCOMPARE(contents(optionsPath()), previous);
        QCOMPARE(dataFolderEntries(), QStringList{"options.json"});
    }

    // On a first run the defaults are written; what is changed survives a save.
    void writesDefaultsAndRoundTripsChanges()
    {
        LogCapture log;
        Settings first;
        QVERIFY(first.init());
        QCOMPARE(first.filePath, optionsPath());
        QVERIFY(log.records().isEmpty());
        QCOMPARE(contents(optionsPath()), defaultText());
        // The float goes out as its exact double expansion.
        const QJsonObject changes = QJsonDocument::fromJson(R"({"audioDevice": 4,
            "framesPerBuffer": 64, "baseFrequency": 432.100006103515625, "calibrationFrequency": 442,
            "masterVolume": 0.25, "monophonic": true, "circlesView": false,
            "defaultPatch": "/patches/Ä Organ.pd", "windowSize": "1024,700",
            "windowPos": "-20,40", "windowMaximized": true})")
                                        .object();
        first.read(changes);
        QVERIFY(first.save());
        QCOMPARE(contents(optionsPath()), defaultsWith(changes));
        Settings second;
        QVERIFY(second.init());
        QCOMPARE(second.baseFrequency, 432.1f);
        QCOMPARE(written(second), written(first));
        QCOMPARE(dataFolderEntries(), QStringList{"options.json"});
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "SettingsTest.moc"
