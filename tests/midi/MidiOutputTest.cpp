// What other synthesizers receive for the notes the player starts and stops.
#include "MidiOutput.h"
#include "LatticeNoteEvent.h"
#include "PdPlayer.h"

#include <QtTest>
#include <mutex>

class MidiOutputTest : public QObject
{
    Q_OBJECT

private slots:
    // Each mode's bytes for: 1/1 on, 3/2 on, 1/1 off, then 1/1 held twice
    // (a re-strike), at base 440 Hz with the synthesizer's A4 at 440. 660 Hz
    // is 1.955 cents above key 76. MPE takes a never used channel before a
    // freed one.
    void notesGoOutTunedInOrder_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("bytes");
        QTest::newRow("mpe") << "mpe"
                             << "e1 00 40,91 45 7f,e2 03 40,92 4c 7f,81 45 40,"
                                "e3 00 40,93 45 7f,83 45 40,e4 00 40,94 45 7f";
        // The tuning of key 76: semitone 76, fraction 1.955/100 * 16384 = 320.
        QTest::newRow("mts") << "mts"
                             << "f0 7f 7f 08 02 00 01 45 45 00 00 f7,90 45 7f,"
                                "f0 7f 7f 08 02 00 01 4c 4c 02 40 f7,90 4c 7f,80 45 40,"
                                "f0 7f 7f 08 02 00 01 45 45 00 00 f7,90 45 7f,80 45 40,"
                                "f0 7f 7f 08 02 00 01 45 45 00 00 f7,90 45 7f";
        QTest::newRow("plain") << "plain"
                               << "90 45 7f,90 4c 7f,80 45 40,90 45 7f,80 45 40,90 45 7f";
        QTest::newRow("off") << "off"
                             << "";
    }
    void notesGoOutTunedInOrder()
    {
        QFETCH(QString, mode);
        PdPlayer player;
        QVERIFY(player.init());
        std::mutex mutex;
        QStringList sent;
        MidiOutput output(&player);
        MidiOutput::Config config;
        config.mode = mode;
        QVERIFY(output.start(config, [&](const MidiNoteEncoder::Message& message,
                                         const NoteRecord& record) {
            if (record.blockStartNs == 0 && record.frequency == 0.0f)
                return; // the set-up, before any note
            std::lock_guard<std::mutex> lock(mutex);
            sent << QByteArray(reinterpret_cast<const char*>(message.data()), int(message.size()))
                        .toHex(' ');
        }));
        const LatticeNoteEvent root(LatticePath(QStringLiteral("/")));
        const LatticeNoteEvent fifth(LatticePath(QStringLiteral("/3")));
        const LatticeNoteEvent again(LatticeEvent::NoteOn, LatticePath(QStringLiteral("/")));
        std::vector<float> block(2 * 64);
        const LatticeEvent* const script[] = {&root, &fifth, &root, &again, &again};
        for (const LatticeEvent* event : script) {
            player.queueEventGui(event);
            player.processBlock(block.data(), 64, false);
        }
        QFETCH(QString, bytes);
        const int expected = bytes.isEmpty() ? 0 : bytes.count(',') + 1;
        const auto count = [&] {
            std::lock_guard<std::mutex> lock(mutex);
            return sent.size();
        };
        QTRY_COMPARE_WITH_TIMEOUT(count(), expected, 2000);
        output.stop();
        QCOMPARE(sent.join(','), bytes);
        QCOMPARE(player.droppedNoteRecords(), quint64(0));
    }
};

QTEST_GUILESS_MAIN(MidiOutputTest)
#include "MidiOutputTest.moc"
