#include "Settings.h"
#include "LogCapture.h"

#include <QtTest>
#include <memory>
#include <signal.h>
#include <sys/resource.h>

class SettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void createsFileWithDefaultsOnFirstRun();
    void readsOptions_data();
    void readsOptions();
    void keepsUnparsableFileAsCopy_data();
    void keepsUnparsableFileAsCopy();
    void reportsFileThatCannotBeRead();
    void reportsFileThatCannotBeCreated();
    void failedSaveKeepsPreviousFile();
    void roundTripsChangedOptions();
    void slotsStoreWithoutSaving();

private:
    std::unique_ptr<QTemporaryDir> dataHome;
};

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
    return "{\n"
           "    \"audioDevice\": -1,\n"
           "    \"baseFrequency\": 440,\n"
           "    \"calibrationFrequency\": 440,\n"
           "    \"circlesView\": true,\n"
           "    \"defaultPatch\": \"" +
           QCoreApplication::applicationDirPath().toUtf8() +
           "/patches/Sine.pd\",\n"
           "    \"framesPerBuffer\": 256,\n"
           "    \"masterVolume\": 0.75,\n"
           "    \"monophonic\": false,\n"
           "    \"udpPort\": 8888,\n"
           "    \"windowMaximized\": false,\n"
           "    \"windowPos\": \"-1,-1\",\n"
           "    \"windowSize\": \"-1,-1\"\n"
           "}\n";
}

QByteArray written(const Settings& settings)
{
    QJsonObject json;
    settings.write(json);
    return QJsonDocument(json).toJson();
}

} // namespace

void SettingsTest::initTestCase()
{
    QCoreApplication::setApplicationName("Elsted Tuning Lattice");
}

// Every case starts from an empty data folder of its own.
void SettingsTest::init()
{
    dataHome = std::make_unique<QTemporaryDir>();
    QVERIFY(dataHome->isValid());
    qputenv("XDG_DATA_HOME", dataHome->path().toUtf8());
    QVERIFY(optionsPath().startsWith(dataHome->path() + '/'));
    QVERIFY(QDir().mkpath(QFileInfo(optionsPath()).path()));
}

void SettingsTest::createsFileWithDefaultsOnFirstRun()
{
    LogCapture log;
    Settings settings;
    QVERIFY(settings.init());
    QCOMPARE(settings.filePath, optionsPath());
    QCOMPARE(contents(optionsPath()), defaultText());
    QVERIFY(log.records().isEmpty());
}

void SettingsTest::readsOptions_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("key"); // empty: every option keeps its default
    QTest::addColumn<QJsonValue>("expected");
    auto row = [](const char* name, const QByteArray& file, const QString& key, QJsonValue value) {
        QTest::newRow(name) << file << key << value;
    };
    row("port as string", R"({"udpPort": "9000"})", "", {});
    row("port truncated", R"({"udpPort": 9000.7})", "udpPort", 9000);
    row("negative toward zero", R"({"udpPort": -1.5})", "udpPort", -1);
    row("port beyond int", R"({"udpPort": 1e12})", "udpPort", 2147483647);
    row("frames", R"({"framesPerBuffer": 512.5})", "framesPerBuffer", 512);
    row("size one part", R"({"windowSize": "800"})", "", {});
    row("size three parts", R"({"windowSize": "800,600,1"})", "windowSize", "800,600");
    row("size not integer", R"({"windowSize": "800,x"})", "windowSize", "800,0");
    row("size empty part", R"({"windowSize": ",5"})", "windowSize", "0,5");
    row("position empty", R"({"windowPos": ""})", "", {});
    row("array top level", R"([{"udpPort": 9000}])", "", {});
    // A value of the wrong JSON type is ignored, key by key.
    row("device string", R"({"audioDevice": "3"})", "", {});
    row("frames bool", R"({"framesPerBuffer": true})", "", {});
    row("base string", R"({"baseFrequency": "432"})", "", {});
    row("calibration null", R"({"calibrationFrequency": null})", "", {});
    row("volume array", R"({"masterVolume": [0.5]})", "", {});
    row("monophonic number", R"({"monophonic": 1})", "", {});
    row("patch number", R"({"defaultPatch": 5})", "", {});
    row("port object", R"({"udpPort": {}})", "", {});
    row("circles string", R"({"circlesView": "false"})", "", {});
    row("size number", R"({"windowSize": 800})", "", {});
    row("position list", R"({"windowPos": [1, 2]})", "", {});
    row("maximized number", R"({"windowMaximized": 0})", "", {});
}

void SettingsTest::readsOptions()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, key);
    QFETCH(QJsonValue, expected);
    QVERIFY(putFile(optionsPath(), file));
    QJsonObject json = QJsonDocument::fromJson(defaultText()).object();
    if (!key.isEmpty())
        json.insert(key, expected);
    LogCapture log;
    Settings settings;
    QVERIFY(settings.init());
    QCOMPARE(written(settings), QJsonDocument(json).toJson());
    QVERIFY(log.records().isEmpty());
    QVERIFY(!QFile::exists(optionsPath() + ".bad"));
}

void SettingsTest::keepsUnparsableFileAsCopy_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("olderCopy");
    QTest::newRow("empty file") << QByteArray() << false;
    QTest::newRow("cut short") << QByteArray(R"({"udpPort": 9000,)") << true;
    QTest::newRow("hand edit") << QByteArray("{\n  udpPort: 9000\n}\n") << true;
}

void SettingsTest::keepsUnparsableFileAsCopy()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, olderCopy);
    const QString copy = optionsPath() + ".bad";
    QVERIFY(putFile(optionsPath(), file));
    if (olderCopy)
        QVERIFY(putFile(copy, "an older copy that is much longer than the new one"));
    QJsonParseError error;
    QJsonDocument::fromJson(file, &error);
    LogCapture log;
    Settings settings;
    settings.udpPort = 1234; // a failed load leaves every value as it was
    QVERIFY(!settings.init());
    QCOMPARE(log.texts(QtCriticalMsg), QStringList{QString("Couldn't parse file %1. JSON error: %2")
                                                       .arg(optionsPath(), error.errorString())});
    QCOMPARE(log.texts(QtWarningMsg),
             QStringList{"Kept a copy of the unreadable file as \"" + copy + '"'});
    QCOMPARE(contents(copy), file);
    QCOMPARE(settings.udpPort, 1234);
    settings.udpPort = 8888;
    QCOMPARE(written(settings), defaultText());
}

void SettingsTest::reportsFileThatCannotBeRead()
{
    QVERIFY(QDir().mkpath(optionsPath()));
    LogCapture log;
    Settings settings;
    QVERIFY(!settings.init());
    QCOMPARE(log.texts(QtCriticalMsg),
             QStringList{QString("Couldn't open file %1 for loading.").arg(optionsPath())});
    QCOMPARE(written(settings), defaultText());
}

void SettingsTest::reportsFileThatCannotBeCreated()
{
    // Below a regular file nothing can be created, not even by root.
    QVERIFY(putFile(dataHome->filePath("plain"), "x"));
    qputenv("XDG_DATA_HOME", dataHome->filePath("plain/data").toUtf8());
    const QString record = QString("Couldn't open file %1 for saving.").arg(optionsPath());
    LogCapture log;
    Settings settings;
    QVERIFY(!settings.init());
    QCOMPARE(log.texts(QtCriticalMsg), QStringList{record});
    settings.autoSave = false;
    settings.saveIfAutoSave();
    settings.autoSave = true;
    settings.saveIfAutoSave();
    QCOMPARE(log.texts(QtCriticalMsg), (QStringList{record, record}));
}

// A write limit makes every write past the first bytes fail, as a full disk
// would, for root as much as for anyone.
void SettingsTest::failedSaveKeepsPreviousFile()
{
    const QByteArray previous = R"({"udpPort": 9000})";
    QVERIFY(putFile(optionsPath(), previous));
    Settings settings;
    QVERIFY(settings.init());
    settings.defaultPatch = QString(200, 'p');
    LogCapture log;
    rlimit limit{}, tight{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &limit), 0);
    tight = limit;
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

void SettingsTest::roundTripsChangedOptions()
{
    Settings first;
    QVERIFY(first.init());
    first.audioDevice = 2;
    first.framesPerBuffer = 128;
    first.baseFrequency = 432.1f;
    first.calibrationFrequency = 415;
    first.masterVolume = 0.3f;
    first.monophonic = true;
    first.defaultPatch = "/patches/Ä Organ.pd";
    first.udpPort = 9100;
    first.circlesView = false;
    first.windowSize = QSize(1024, 700);
    first.windowPos = QPoint(-20, 40);
    first.windowMaximized = true;
    QVERIFY(first.save());
    // The float goes out as its exact double expansion.
    QVERIFY(contents(optionsPath()).contains("\"baseFrequency\": 432.1000061035156,"));
    Settings second;
    QVERIFY(second.init());
    QCOMPARE(second.baseFrequency, 432.1f);
    QCOMPARE(written(second), written(first));
    QCOMPARE(dataFolderEntries(), QStringList{"options.json"});
}

// The player's change signals reach these slots by name through queued
// connections; they must only store.
void SettingsTest::slotsStoreWithoutSaving()
{
    Settings settings;
    QVERIFY(settings.init());
    QVERIFY(QMetaObject::invokeMethod(&settings, "onAudioDeviceChanged", Q_ARG(int, 4)));
    QVERIFY(QMetaObject::invokeMethod(&settings, "onFramesPerBufferChanged", Q_ARG(int, 64)));
    QVERIFY(QMetaObject::invokeMethod(&settings, "onBaseFrequencyChanged", Q_ARG(float, 261.5f)));
    QVERIFY(QMetaObject::invokeMethod(&settings, "onCalibrationFrequencyChanged", Q_ARG(int, 442)));
    QVERIFY(QMetaObject::invokeMethod(&settings, "onMasterVolumeChanged", Q_ARG(float, 0.25f)));
    QVERIFY(QMetaObject::invokeMethod(&settings, "onMonophonicChanged", Q_ARG(bool, true)));
    QJsonObject expected = QJsonDocument::fromJson(defaultText()).object();
    for (auto [key, value] : {std::pair<QString, QJsonValue>{"audioDevice", 4},
                              {"framesPerBuffer", 64},
                              {"baseFrequency", 261.5},
                              {"calibrationFrequency", 442},
                              {"masterVolume", 0.25},
                              {"monophonic", true}})
        expected.insert(key, value);
    QCOMPARE(written(settings), QJsonDocument(expected).toJson());
    QCOMPARE(contents(optionsPath()), defaultText());
}

QTEST_GUILESS_MAIN(SettingsTest)
#include "SettingsTest.moc"
