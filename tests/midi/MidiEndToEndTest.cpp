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
        return ToneAnalysis::magnitudeAt(peer->recentAudio(peer->sampleRate() / 4), hz,
                                         peer->sampleRate());
    }
    QByteArray log() { return run->dataFile("log.txt"); }
    // Sends `messages`, waits `ms`, and returns what the program sent out
    // meanwhile, as text like "e1 00 40,91 45 64".
    QString play(std::initializer_list<Bytes> messages, int ms = 400)
    {
        const std::size_t mark = peer->received().size();
        for (const Bytes& message : messages)
            peer->send(message);
        QTest::qWait(ms);
        QStringList sent;
        const std::vector<JackMidiPeer::Event> events = peer->received();
        for (std::size_t i = mark; i < events.size(); ++i)
            sent << QByteArray(reinterpret_cast<const char*>(events[i].bytes.data()),
                               int(events[i].bytes.size()))
                        .toHex(' ');
        return sent.join(',');
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
        // The keys play a 7-limit scale brought in by lattice-tool; keys 69,
        // 73 and 76 play 1/1, 5/4 and 3/2 as in the default map.
        QVERIFY(QDir().mkpath(run->dataDirectory()));
        const QString scale = run->folder() + "/seven.scl";
        QFile file(scale);
        QVERIFY(file.open(QIODevice::WriteOnly) &&
                file.write("! seven.scl\n7-limit\n12\n16/15\n9/8\n7/6\n5/4\n4/3\n7/5\n"
                           "3/2\n8/5\n5/3\n7/4\n15/8\n2/1\n") > 0);
        file.close();
        QCOMPARE(QProcess::execute(QCoreApplication::applicationDirPath() + "/lattice-tool",
                                   {"scala", "import", scale, "--midi-map",
                                    run->dataDirectory() + "/midi_map.json"}),
                 0);
        run->start();
        QVERIFY(run->waitForEventLoop());
        peer = std::make_unique<JackMidiPeer>();
        QVERIFY2(peer->isOpen(), qPrintable(peer->error()));
        QVERIFY(run->waitUntil([this] { return peer->connectProgram(false); }));
        QVERIFY(run->waitUntil([this] { return log().count("MIDI input connected to") == 1; }));
        QVERIFY(QFile::exists(run->dataDirectory() + "/midi_map.json"));
    }

    // Key 69 is the black ball, 1/1 at the base frequency; key 76 is 3/2
    // above it. The pedal holds a released key; its lift lets it go. The
    // voice volume on controller 11 sets how loud the next key plays.
    void keysPedalAndAController()
    {
        // Unbent: 440 Hz is key 69 exactly, on the first member channel.
        QCOMPARE(play({{0x90, 69, 127}}), QString("e1 00 40,91 45 7f"));
        const double full = levelAt(440.0);
        QVERIFY(full > 0.01);
        // 660 Hz is 1.955 cents above key 76: bend 8192 + 1.955/4800 * 8192.
        QCOMPARE(play({{0xB0, 64, 127}, {0x90, 76, 100}, {0x80, 76, 0}}),
                 QString("e2 03 40,92 4c 64"));
        QVERIFY(levelAt(660.0) > 0.01);
        QCOMPARE(play({{0xB0, 64, 0}}, 900), QString("82 4c 40"));
        QVERIFY(levelAt(660.0) < 0.001 && levelAt(440.0) > 0.01);
        QCOMPARE(play({{0x80, 69, 0}}, 900), QString("81 45 40"));
        QVERIFY(levelAt(440.0) < 0.001);

        play({{0xB0, 11, 32}, {0x90, 69, 127}});
        const double quieter = levelAt(440.0);
        QVERIFY2(quieter > full * 0.15 && quieter < full * 0.35,
                 qPrintable(QString("%1 against %2").arg(quieter).arg(full)));
        play({{0xB0, 123, 0}}, 900);
        QVERIFY(levelAt(440.0) < 0.001);
    }

    // The imported scale's 7-limit keys sound their ratios over 440 Hz.
    void keysPlayAnImportedScale()
    {
        for (const auto& [key, hz] : {std::pair{79, 770.0}, {72, 440.0 * 7 / 6}, {57, 220.0}}) {
            play({{0x90, std::uint8_t(key), 127}});
            const double level = levelAt(hz);
            play({{0x80, std::uint8_t(key), 0}}, 900);
            QVERIFY2(level > 0.01 && levelAt(hz) < 0.001, qPrintable(QString::number(key)));
        }
    }

    // An unplugged keyboard is noted once, its held key let go, and it plays
    // again when it comes back.
    void aKeyboardThatGoesAndComesBackPlaysOn()
    {
        play({{0x90, 69, 127}});
        QVERIFY(levelAt(440.0) > 0.01);
        peer.reset();
        QVERIFY(run->waitUntil([this] { return log().contains("went away"); }));
        QTest::qWait(2500);
        QCOMPARE(log().count("went away"), 1);
        peer = std::make_unique<JackMidiPeer>();
        QVERIFY(run->waitUntil([this] { return log().count("MIDI input connected to") == 2; }));
        QVERIFY(peer->connectProgram(false));
        QVERIFY(levelAt(440.0) < 0.001);
        play({{0x90, 73, 127}});
        QVERIFY(levelAt(550.0) > 0.01);
        play({{0x80, 73, 0}});
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
