#include "Settings.h"
#include "LogCapture.h"
#include "ModelFixtures.h"
#include "RfidMap.h"

#include <QtTest>
#include <signal.h>
#include <sys/resource.h>

// The files the program keeps for the user: options.json, which it writes,
// and rfid_map.json, which it only ever reads.
namespace {

const QString optionsFile = QStringLiteral("options.json");
const QString mapFile = QStringLiteral("rfid_map.json");

// A save must leave no temporary file behind.
QStringList dataFolderEntries()
{
    return QDir(Fixtures::dataPath()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
}

// What a first run writes, with changes, as the program writes a file.
QByteArray defaultsWith(const QJsonObject& changes = {})
{
    QJsonObject json = QJsonDocument::fromJson(R"({"audioDevice": -1, "baseFrequency": 440,
        "calibrationFrequency": 440, "notation": "letters", "circlesView": true, "framesPerBuffer": 256,
        "masterVolume": 0.75, "monophonic": false, "udpPort": 8888, "windowMaximized": false,
        "windowPos": "-1,-1", "windowSize": "-1,-1", "internalSound": true, "midiInPort": "",
        "midiOutMode": "off", "midiOutPort": "", "mpeBendRange": 48, "synthA4": 440,
        "velocitySensitive": true, "udpListen": "all", "udpAllow": [], "oscPort": 8000,
        "oscListen": "loopback", "oscAllow": [], "oscSendHost": "127.0.0.1", "oscSendPort": 0})")
                           .object();
    json.insert("defaultPatch", QCoreApplication::applicationDirPath() + "/patches/Sine.pd");
    json.insert("midiApi", Settings::defaultMidiApi()); // as the machine has it
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
    void init()
    {
        dataHome = std::make_unique<QTemporaryDir>();
        QVERIFY(Fixtures::useDataFolderIn(*dataHome));
    }

    // Each file is read and saved again. A port is truncated toward zero; a
    // pair keeps its first two parts, a part that is not an integer reading
    // as 0; a value of the wrong JSON type is ignored, key by key.
    void readsOptions()
    {
        const auto check = [](const QByteArray& file, const QJsonObject& changes) {
            QVERIFY(Fixtures::writeData(optionsFile, file));
            LogCapture log;
            Settings settings;
            QVERIFY(settings.init() && settings.save());
            QCOMPARE(Fixtures::readData(optionsFile), defaultsWith(changes));
            QVERIFY(log.records().isEmpty());
            QCOMPARE(dataFolderEntries(), QStringList{optionsFile});
        };
        check(R"({"udpPort": 9000.7, "windowSize": "800,600,1", "windowPos": "5,x"})",
              {{"udpPort", 9000}, {"windowSize", "800,600"}, {"windowPos", "5,0"}});
        check(R"({"udpPort": -1.5, "windowSize": "800"})", {{"udpPort", -1}});
        check(R"({"udpPort": 1e12})", {{"udpPort", 2147483647}});
        check(R"([{"udpPort": 9000}])", {});
        check(R"({"audioDevice": "3", "framesPerBuffer": true, "baseFrequency": "432",)"
              R"("calibrationFrequency": null, "masterVolume": [0.5], "monophonic": 1,)"
              R"("defaultPatch": 5, "udpPort": {}, "circlesView": "false", "windowSize": 800,)"
              R"("windowPos": [1, 2], "windowMaximized": 0})",
              {});
    }

    // Known MIDI choices are taken; a warning names each option that fell back.
    void midiOptionsFallBackWithAWarning()
    {
        QVERIFY(Fixtures::writeData(optionsFile, R"({"midiApi": "alsa", "midiOutMode": "mts",)"
                                                 R"("mpeBendRange": 2, "synthA4": 415.5})"));
        Settings known;
        QVERIFY(known.init());
        QCOMPARE(known.midiApi + known.midiOutMode, QString("alsamts"));
        QCOMPARE(known.mpeBendRange, 2);
        QCOMPARE(known.synthA4, 415.5f);
        QVERIFY(Fixtures::writeData(optionsFile, R"({"midiApi": "coremidi", "midiOutMode": "MPE",)"
                                                 R"("mpeBendRange": 97, "synthA4": "440",)"
                                                 R"("notation": "neumes"})"));
        LogCapture log;
        Settings unknown;
        QVERIFY(unknown.init());
        QCOMPARE(unknown.midiApi, Settings::defaultMidiApi());
        QCOMPARE(unknown.midiOutMode + QString::number(unknown.mpeBendRange), QString("off48"));
        QCOMPARE(unknown.synthA4, 440.0f);
        QCOMPARE(unknown.notation, QString("letters"));
        const QString records = log.texts(QtWarningMsg).join('\n');
        for (const char* option : {"midiApi", "midiOutMode", "mpeBendRange", "synthA4", "notation"})
            QCOMPARE(records.count(QString("Option %1 cannot be").arg(option)), 1);

        // The network face: a port out of range keeps the default, a list keeps its texts.
        QVERIFY(Fixtures::writeData(optionsFile,
                                    R"({"oscPort": 70000, "oscAllow": ["10.0.0.0/8", 3],)"
                                    R"("udpAllow": "10.0.0.0/8"})"));
        LogCapture network;
        Settings open;
        QVERIFY(open.init());
        QCOMPARE(open.oscPort, 8000);
        QCOMPARE(open.oscAllow, QStringList{"10.0.0.0/8"});
        QVERIFY(open.udpAllow.isEmpty());
        QCOMPARE(network.texts(QtWarningMsg).size(), 3);
    }

    // A write limit fails every write past the first bytes, as a full disk would, even for
    // root: the defaults of a first run, and a save over a file left as it was. An unparsable
    // file is kept as a copy, which replaces an older, longer one, and the values stay.
    void keepsUsersFileThroughFailures()
    {
        const QByteArray previous = R"({"udpPort": 9000})";
        LogCapture log;
        Settings settings;
        rlimit limit{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlimit tight{rlim_t(previous.size()), limit.rlim_max};
        void (*handler)(int) = signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
        const bool created = settings.init();
        const QStringList afterInit = dataFolderEntries();
        const bool put = Fixtures::writeData(optionsFile, previous);
        settings.autoSave = false;
        settings.saveIfAutoSave(); // no attempt
        settings.autoSave = true;
        settings.saveIfAutoSave();
        setrlimit(RLIMIT_FSIZE, &limit);
        signal(SIGXFSZ, handler);
        QVERIFY(!created && afterInit.isEmpty() && put);
        QCOMPARE(log.texts(QtCriticalMsg).filter(optionsFile + " for saving.").size(), 2);
        QCOMPARE(Fixtures::readData(optionsFile), previous);
        QCOMPARE(dataFolderEntries(), QStringList{optionsFile});
        const QByteArray broken = R"({"udpPort": 9000,)";
        QVERIFY(Fixtures::writeData(optionsFile, broken));
        QVERIFY(Fixtures::writeData(optionsFile + ".bad", "an older, longer copy"));
        settings.udpPort = 1234;
        QVERIFY(!settings.init());
        QCOMPARE(log.texts(QtCriticalMsg).filter("Couldn't parse file").size(), 1);
        QCOMPARE(log.texts(QtWarningMsg).filter("Kept a copy").size(), 1);
        QCOMPARE(Fixtures::readData(optionsFile + ".bad"), broken);
        QCOMPARE(settings.udpPort, 1234);
    }

    // On a first run the defaults are written; what is changed survives a save.
    void writesDefaultsAndRoundTripsChanges()
    {
        LogCapture log;
        Settings first;
        QVERIFY(first.init());
        QVERIFY(log.records().isEmpty());
        QCOMPARE(Fixtures::readData(optionsFile), defaultsWith());
        // The float goes out as its exact double expansion.
        const QJsonObject changes = QJsonDocument::fromJson(R"({"audioDevice": 4,
            "framesPerBuffer": 64, "baseFrequency": 432.100006103515625, "calibrationFrequency": 442,
            "masterVolume": 0.25, "monophonic": true, "circlesView": false,
            "defaultPatch": "/patches/Ä Organ.pd", "windowSize": "1024,700",
            "windowPos": "-20,40", "windowMaximized": true})")
                                        .object();
        first.read(changes);
        QVERIFY(first.save());
        QCOMPARE(Fixtures::readData(optionsFile), defaultsWith(changes));
        Settings second; // reads back what it saves again
        QVERIFY(second.init() && second.save());
        QCOMPARE(Fixtures::readData(optionsFile), defaultsWith(changes));
        QCOMPARE(dataFolderEntries(), QStringList{optionsFile});
    }

    // Names are cut to ten characters and found in any case, the later of two
    // that cut alike winning; a path makes a note toggle, and an invalid one
    // is skipped. A tag name is text from the file: "%1" in it stays as written.
    void readsMapEntries()
    {
        LogCapture log;
        RfidMap map;
        map.read(QJsonDocument::fromJson(R"({"04A1B2C3D4E5F6": {"event": 2, "value": 3},
            "abcdefghij2": {"event": 4, "value": 0.5}, "ABCDEFGHIJ1": {"event": 2, "value": 3},
            "p": {"event": 2, "value": "/2/-3/3"}, "q": {"event": 0, "value": "/4"},
            "r": {"event": 0, "value": "/-2147483648"}, "S": {"event": 7, "value": 1},
            "s": {"event": 0, "value": "/3/x"}, "t": {"event": 2, "value": "3"},
            "u": {"event": -1.5, "value": 1}, "v": {"event": "6", "value": 0.25}, "w": 7,
            "%1%2%3": {"event": 2, "value": 3}})")
                     .object());
        // tag=event, as "kind value [path]"; an event that is not a number is
        // kind 0, a string without a slash value 0.
        for (const QString lookup :
             {"04A1B2C3D4=2 3", "ABCDEFGHIJ=4 0.5", "P=0 1 /2/-3/3", "q=", "r=", "s=7 1", "t=2 0",
              "u=-1 1", "v=0 0.25", "w=0 0", "%1%2%3=2 3"})
            QCOMPARE(Fixtures::describe(map.lookup(lookup.section('=', 0, 0))),
                     lookup.section('=', 1));
        QCOMPARE(log.texts(QtWarningMsg).filter("RFID %1%2%3 mapped to: event 2").size(), 1);
    }

    // A missing map is created empty. A user's map is loaded and never rewritten, not even in
    // the program's own format. A damaged one writes at most a hundred warnings and then their
    // count; one above the size cap is not read at all, nor a folder in its place.
    void loadsMapWithinBounds()
    {
        const auto loads = [] { return RfidMap().init(); };
        QVERIFY(loads());
        QCOMPARE(QJsonDocument::fromJson(Fixtures::readData(mapFile)),
                 QJsonDocument(QJsonObject()));
        const QByteArray users = R"({"04A1B2C3D4": {"event": 2, "value": 3}})";
        QVERIFY(Fixtures::writeData(mapFile, users));
        RfidMap map;
        QVERIFY(map.init() && map.lookup(QStringLiteral("04a1b2c3d4")));
        map.saveIfAutoSave();
        QCOMPARE(Fixtures::readData(mapFile), users);
        QByteArray text = "{";
        for (int i = 0; i < 150; ++i)
            text += (i ? ",\"t" : "\"t") + QByteArray::number(i) + "\": {\"value\": \"/4\"}";
        QVERIFY(Fixtures::writeData(mapFile, text + "}"));
        LogCapture log;
        QVERIFY(loads());
        QCOMPARE(log.texts(QtWarningMsg).filter("invalid path").size(), 100);
        QCOMPARE(log.texts(QtWarningMsg).filter("50 more warning(s)").size(), 1);
        QVERIFY(
            Fixtures::writeData(mapFile, QByteArray(int(SerializableRoot::maxFileBytes) + 1, ' ')));
        QVERIFY(!loads());
        QVERIFY(QFile::remove(Fixtures::dataPath(mapFile)) &&
                QDir().mkdir(Fixtures::dataPath(mapFile)));
        QVERIFY(!loads());
        const QStringList critical = log.texts(QtCriticalMsg);
        QCOMPARE(critical.size(), 2);
        QVERIFY(critical[0].contains("more than the 16 MiB") &&
                critical[1].contains("for loading"));
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "SettingsTest.moc"
