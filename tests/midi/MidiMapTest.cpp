#include "MidiMap.h"
#include "LogCapture.h"
#include "ModelFixtures.h"

#include <QtTest>

using Fixtures::describe;
const QString mapFile = QStringLiteral("midi_map.json");

class MidiMapTest : public QObject
{
    Q_OBJECT

    static QJsonObject entry(double kind, QJsonValue v) { return {{"event", kind}, {"value", v}}; }

private slots:
    // init() writes the default map when the file is missing. Read back, its keys play the
    // just scale, but for keys whose path would take more than six steps (-); controllers
    // 1..8 set the macros, 11 the voice volume, and programs choose patches.
    void initWritesTheDefaultMapOnlyWhenMissing()
    {
        QTemporaryDir home;
        QVERIFY(Fixtures::useDataFolderIn(home));
        MidiMap map, loaded;
        QVERIFY(map.init() && loaded.init());
        QCOMPARE(QJsonDocument::fromJson(Fixtures::readData(mapFile)).object(),
                 MidiMap::defaultMap());
        QStringList ratios;
        for (int key : {69, 70, 71, 72, 73, 74,  75,  76, 77, 78, 79,  80,
                        81, 57, 58, 2,  10, 117, 123, 0,  1,  11, 118, 127}) {
            auto note = dynamic_cast<const LatticeNoteEvent*>(loaded.noteEvent(key));
            ratios << (note ? note->path().ratio().value_or(LatticeRatio()).toString() : "-");
        }
        QCOMPARE(ratios.join(' '), "1/1 16/15 9/8 6/5 5/4 4/3 45/32 3/2 8/5 5/3 9/5 15/8 2/1 1/2 "
                                   "8/15 1/48 1/30 16/1 45/2 - - - - -");
        QCOMPARE(describe(loaded.controllerEvent(1)) + ',' + describe(loaded.controllerEvent(8)) +
                     ',' + describe(loaded.controllerEvent(11)) + ',' +
                     describe(loaded.programEvent(127)),
                 "11 0,18 0,4 0,23 127");

        // A user's map replaces the defaults and is never rewritten; a damaged one logs a
        // hundred warnings and their count.
        const QByteArray text = "{\"note 60\": {\"event\": 21, \"value\": \"/3\"}}";
        QVERIFY(Fixtures::writeData(mapFile, text) && map.init() && !map.noteEvent(69));
        QCOMPARE(describe(map.noteEvent(60)), "21 1 /3");
        map.saveIfAutoSave();
        QCOMPARE(Fixtures::readData(mapFile), text);

        QJsonObject damaged;
        for (int i = 0; i < 150; ++i)
            damaged.insert("key " + QString::number(i), 0);
        LogCapture log;
        QVERIFY(Fixtures::writeData(mapFile, QJsonDocument(damaged).toJson()) && map.init());
        QCOMPARE(log.texts(QtWarningMsg).size(), 101);
    }

    void skipsBadMembersBesideGoodOnes_data()
    {
        QTest::addColumn<QJsonValue>("bad");
        QTest::newRow("note 128") << QJsonValue(entry(1, 0));
        QTest::newRow("note -1") << QJsonValue(entry(1, 0));
        QTest::newRow("note 01") << QJsonValue(entry(1, 0));
        QTest::newRow("pedal 64") << QJsonValue(entry(4, 0));
        QTest::newRow("program 5") << QJsonValue(entry(23, "/3"));
        QTest::newRow("note 5") << QJsonValue(entry(21, "/3/x"));
        QTest::newRow("note 6") << QJsonValue(entry(21, "/3/3/3/3/3/3/5"));
        QTest::newRow("note 7") << QJsonValue(entry(21, "3"));
        QTest::newRow("cc 7") << QJsonValue(entry(24, 1));
        QTest::newRow("cc 9") << QJsonValue(entry(-1, 1));
        QTest::newRow("cc 10") << QJsonValue(entry(4, true));
        QTest::newRow("note 8") << QJsonValue(5);
        QTest::newRow("note 9") << QJsonValue(QJsonObject{{"value", "/3"}});
    }
    // The member each row names is skipped with one warning naming it. A path makes a held
    // note whatever "event" says, a missing value is 0 and kinds are truncated.
    void skipsBadMembersBesideGoodOnes()
    {
        QFETCH(QJsonValue, bad);
        const QString member = QTest::currentDataTag();
        LogCapture log;
        MidiMap map;
        map.read({{"note 1", entry(0, "/3/-5")},
                  {"note 2", QJsonObject{{"event", 1}}},
                  {"cc 1", entry(11.9, 0.5)},
                  {member, bad}});
        QCOMPARE(log.texts(QtWarningMsg).size(), 1);
        QVERIFY(log.texts(QtWarningMsg)[0].contains('"' + member + '"'));
        QJsonObject held;
        map.write(held);
        QCOMPARE(held, QJsonObject({{"note 1", entry(21, "/3/-5")},
                                    {"note 2", entry(1, 0)},
                                    {"cc 1", entry(11, 0.5)}}));
    }

    void levelKindsAreTheVolumesAndMacros()
    {
        const auto level = MidiMap::isLevelKind;
        QVERIFY(level(4) && level(6) && level(11) && level(14) && level(18));
        QVERIFY(!level(-1) && !level(3) && !level(5) && !level(10) && !level(19) && !level(23));
    }
};

QTEST_GUILESS_MAIN(MidiMapTest)
#include "MidiMapTest.moc"
