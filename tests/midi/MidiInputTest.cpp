// The keyboard's messages, as bytes, through the key map into a player with
// no patch: what the player sounds is what a synthesizer would hear.
#include "MidiInput.h"
#include "LatticeRatio.h"
#include "MidiMap.h"
#include "PdPlayer.h"

#include <QtTest>

using Bytes = std::vector<unsigned char>;
Q_DECLARE_METATYPE(Bytes)

class MidiInputTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<PdPlayer> player;
    std::unique_ptr<MidiMap> map;
    std::unique_ptr<MidiInput> input;

    void feed(const Bytes& bytes)
    {
        input->handleBytes(bytes.data(), bytes.size());
        render();
    }
    void render(int blocks = 1)
    {
        std::vector<float> block(2 * 64);
        for (int i = 0; i < blocks; ++i)
            player->processBlock(block.data(), 64, false);
    }
    // The notes that sound, by ratio, sorted.
    QString sounding() const
    {
        QStringList ratios;
        for (int slot = 0; slot < PdPlayer::voiceCount; ++slot)
            if (player->voiceSlot(slot).mapped && !player->voiceSlot(slot).released)
                ratios << player->voiceSlot(slot).ratio.toString();
        ratios.sort();
        return ratios.join(' ');
    }

private slots:
    void init()
    {
        player = std::make_unique<PdPlayer>();
        QVERIFY(player->init());
        map = std::make_unique<MidiMap>();
        map->read(MidiMap::defaultMap());
        input = std::make_unique<MidiInput>(player.get(), map.get());
    }

    // Key 69 is 1/1, 76 is 3/2, 73 is 5/4, 81 is 2/1.
    void bytesBecomeHeldNotes_data()
    {
        QTest::addColumn<Bytes>("bytes");
        QTest::addColumn<QString>("sounds");
        QTest::newRow("press") << Bytes{0x90, 69, 100} << "1/1";
        QTest::newRow("press and release") << Bytes{0x90, 69, 100, 0x80, 69, 0} << "";
        QTest::newRow("velocity 0 releases") << Bytes{0x90, 69, 100, 0x90, 69, 0} << "";
        QTest::newRow("running status")
            << Bytes{0x93, 69, 100, 76, 100, 73, 100, 69, 0} << "3/2 5/4";
        QTest::newRow("real time inside a message")
            << Bytes{0x90, 0xF8, 69, 0xFE, 100, 0xF8} << "1/1";
        QTest::newRow("SysEx of any length is skipped and ends running status")
            << Bytes{0x90, 69, 100, 0xF0, 0x7E, 1, 2, 3, 4, 5, 6, 7, 0xF7, 76, 100} << "1/1";
        QTest::newRow("a data byte with no status is nothing") << Bytes{69, 100} << "";
        QTest::newRow("any channel") << Bytes{0x9F, 81, 1, 0x95, 69, 127} << "1/1 2/1";
        QTest::newRow("pedal holds a released key")
            << Bytes{0xB0, 64, 127, 0x90, 69, 100, 0x80, 69, 0} << "1/1";
        QTest::newRow("pedal lift releases it")
            << Bytes{0xB0, 64, 127, 0x90, 69, 100, 0x80, 69, 0, 0xB0, 64, 0} << "";
        QTest::newRow("pedal lift keeps a key still down")
            << Bytes{0xB0, 64, 127, 0x90, 69, 100, 0x90, 76, 90, 0x80, 69, 0, 0xB0, 64, 0} << "3/2";
        QTest::newRow("all notes off") << Bytes{0x90, 69, 100, 0x90, 76, 100, 0xB5, 123, 0} << "";
        QTest::newRow("all sound off, pedal down")
            << Bytes{0xB0, 64, 127, 0x90, 69, 100, 0xB0, 120, 0, 0xB0, 64, 0} << "";
    }
    void bytesBecomeHeldNotes()
    {
        QFETCH(Bytes, bytes);
        QFETCH(QString, sounds);
        feed(bytes);
        QCOMPARE(sounding(), sounds);
    }

    // A key's release stops what it started, even after a transposition
    // has moved what the key would play now.
    void releaseStopsWhatTheKeyStarted()
    {
        feed({0x90, 69, 100});
        const LatticeEvent up(LatticeEvent::Transpose, 3.0f);
        player->queueEventGui(&up);
        render();
        feed({0x90, 76, 100});
        QCOMPARE(sounding(), QString("1/1 9/4"));
        feed({0x80, 69, 0});
        QCOMPARE(sounding(), QString("9/4"));
    }

    // A flood from a fast port is executed over several blocks, its last
    // release included.
    void aFloodLosesNoRelease()
    {
        Bytes flood;
        for (int i = 0; i < 5000; ++i)
            flood.insert(flood.end(), {0x90, 69, 100, 0x80, 69, 0});
        flood.insert(flood.end(), {0x90, 76, 100});
        input->handleBytes(flood.data(), flood.size());
        render(20);
        QCOMPARE(sounding(), QString("3/2"));
    }

    // A controller of a level follows it; one mapped to anything else acts
    // as a button, once each time it rises past the middle.
    void controllersSetLevelsOrPressButtons()
    {
        QJsonObject json = MidiMap::defaultMap();
        json["cc 20"] = QJsonObject{{"event", LatticeEvent::PatchStep}, {"value", 1}};
        map->read(json);
        QSignalSpy steps(player.get(), &PdPlayer::patchIncRequested);
        feed({0xB0, 11, 127, 0xB0, 11, 0, 0xB0, 20, 100, 0xB0, 20, 127, 0xB0, 20, 0, 0xB0, 20, 64});
        QCOMPARE(player->voiceVolume(), 0.0f);
        QCOMPARE(steps.count(), 2);
    }
};

QTEST_GUILESS_MAIN(MidiInputTest)
#include "MidiInputTest.moc"
