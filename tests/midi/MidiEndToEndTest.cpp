// The program played from a keyboard on a JACK server of its own: a peer
// client sends MIDI into its input port and records what its output port
// sends (MPE) and what its first channel sounds.
#include "JackMidiPeer.h"
#include "JackTestServer.h"
#include "ProgramRun.h"
#include "ToneAnalysis.h"

#include <QtTest>

using Bytes = std::vector<std::uint8_t>;

class MidiEndToEndTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<JackTestServer> server;
    std::unique_ptr<ProgramRun> run;
    std::unique_ptr<JackMidiPeer> peer;

    // The level at `hz` over the last quarter second the peer heard.
    double levelAt(double hz)
    {
        QTest::qWait(300);
        return ToneAnalysis::magnitudeAt(peer->recentAudio(peer->sampleRate() / 4), hz,
                                         peer->sampleRate());
    }
    QByteArray log() { return run->dataFile("log.txt"); }
    // What the program sent from `from` on, as text like "e1 00 40,91 45 64".
    QString receivedSince(std::size_t from)
    {
        QTest::qWait(100);
        QStringList messages;
        const std::vector<JackMidiPeer::Event> events = peer->received();
        for (std::size_t i = from; i < events.size(); ++i)
            messages << QByteArray(reinterpret_cast<const char*>(events[i].bytes.data()),
                                   int(events[i].bytes.size()))
                            .toHex(' ');
        return messages.join(',');
    }

private slots:
    void initTestCase()
    {
        server = std::make_unique<JackTestServer>();
        if (!server->isRunning())
            QSKIP(qPrintable(server->error()));
        qputenv("JACK_DEFAULT_SERVER", server->name().toUtf8());
        qputenv("JACK_NO_START_SERVER", "1");
        run = std::make_unique<ProgramRun>();
        server->addTo(run->environment());
        // The program is told to connect to the peer's keys itself.
        QVERIFY(run->writeDataFile("options.json", R"({"midiApi": "jack", "midiOutMode": "mpe",
            "midiInPort": "lattice-test-peer:keys", "baseFrequency": 440})"));
        run->start();
        QVERIFY(run->waitForEventLoop());
        peer = std::make_unique<JackMidiPeer>();
        QVERIFY2(peer->isOpen(), qPrintable(peer->error()));
        QVERIFY(run->waitUntil([this] { return peer->connectProgram(false); }));
        QVERIFY(run->waitUntil([this] { return log().count("MIDI input connected to") == 1; }));
        QVERIFY(QFile::exists(run->dataDirectory() + "/midi_map.json"));
    }

    // Key 69 is the black ball, 1/1 at the base frequency; key 76 is 3/2
    // above it. The pedal holds a released key; its lift lets it go.
    void keysSoundTunedAndHeldByThePedal()
    {
        std::size_t mark = peer->received().size();
        peer->send({0x90, 69, 127});
        QVERIFY(levelAt(440.0) > 0.01);
        // Unbent: 440 Hz is key 69 exactly, on the first member channel.
        QCOMPARE(receivedSince(mark), QString("e1 00 40,91 45 7f"));

        mark = peer->received().size();
        peer->send({0xB0, 64, 127});
        peer->send({0x90, 76, 100});
        peer->send({0x80, 76, 0});
        QVERIFY(levelAt(660.0) > 0.01);
        // 660 Hz is 1.955 cents above key 76: bend 8192 + 1.955/4800 * 8192.
        QCOMPARE(receivedSince(mark), QString("e2 03 40,92 4c 64"));

        mark = peer->received().size();
        peer->send({0xB0, 64, 0});
        QTest::qWait(600);
        QVERIFY(levelAt(660.0) < 0.001);
        QVERIFY(levelAt(440.0) > 0.01);
        QCOMPARE(receivedSince(mark), QString("82 4c 40"));

        mark = peer->received().size();
        peer->send({0x80, 69, 0});
        QTest::qWait(600);
        QVERIFY(levelAt(440.0) < 0.001);
        QCOMPARE(receivedSince(mark), QString("81 45 40"));
    }

    // The voice volume on controller 11 sets how loud the next key plays.
    void aControllerSetsTheVoiceVolume()
    {
        peer->send({0x90, 69, 127});
        const double full = levelAt(440.0);
        peer->send({0x80, 69, 0});
        QTest::qWait(600);
        peer->send({0xB0, 11, 32});
        peer->send({0x90, 69, 127});
        const double quieter = levelAt(440.0);
        peer->send({0xB0, 123, 0});
        QTest::qWait(600);
        QVERIFY(full > 0.01);
        QVERIFY2(quieter > full * 0.15 && quieter < full * 0.35,
                 qPrintable(QString("%1 against %2").arg(quieter).arg(full)));
        QVERIFY(levelAt(440.0) < 0.001);
    }

    // An unplugged keyboard is noted once, its held key let go, and it plays
    // again when it comes back.
    void aKeyboardThatGoesAndComesBackPlaysOn()
    {
        peer->send({0x90, 69, 127});
        QVERIFY(levelAt(440.0) > 0.01);
        peer.reset();
        QVERIFY(run->waitUntil([this] { return log().contains("went away"); }));
        QTest::qWait(2500);
        QCOMPARE(log().count("went away"), 1);
        peer = std::make_unique<JackMidiPeer>();
        QVERIFY(run->waitUntil([this] { return log().count("MIDI input connected to") == 2; }));
        QVERIFY(peer->connectProgram(false));
        QVERIFY(levelAt(440.0) < 0.001);
        peer->send({0x90, 73, 127});
        QVERIFY(levelAt(550.0) > 0.01);
        peer->send({0x80, 73, 0});
    }

    void cleanupTestCase()
    {
        if (!run)
            return;
        peer.reset();
        QVERIFY(run->sendSignal(SIGTERM));
        QVERIFY(run->waitForExit());
        QCOMPARE(run->exitStatus(), 0);
    }
};

QTEST_GUILESS_MAIN(MidiEndToEndTest)
#include "MidiEndToEndTest.moc"
