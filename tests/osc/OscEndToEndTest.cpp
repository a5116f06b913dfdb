// The program played over OSC on a JACK server of its own: liblo's client API
// sends, a liblo server of the test's subscribes and collects what comes
// back, and a JACK peer hears the program's first channel.
#include "FloatWav.h"
#include "JackMidiPeer.h"
#include "JackTestServer.h"
#include "OscPackets.h"
#include "ProgramRun.h"
#include "ToneAnalysis.h"

#include <QUdpSocket>
#include <QtTest>
#include <cstring>
#include <lo/lo.h>
#include <mutex>

namespace {

// Every message that reaches the test's server, as "path arg arg ...".
class StateListener
{
public:
    StateListener()
    {
        server_ = lo_server_thread_new(nullptr, nullptr);
        lo_server_thread_add_method(server_, nullptr, nullptr, &StateListener::take, this);
        lo_server_thread_start(server_);
    }
    ~StateListener() { lo_server_thread_free(server_); }
    int port() const { return lo_server_thread_get_port(server_); }
    QStringList messages() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    QStringList matching(const QString& prefix) const
    {
        return messages().filter(QRegularExpression('^' + QRegularExpression::escape(prefix)));
    }

private:
    static int take(const char* path, const char* types, lo_arg** argv, int argc, lo_message,
                    void* self)
    {
        QStringList parts{QString::fromUtf8(path)};
        for (int i = 0; i < argc; ++i) {
            // liblo's arguments are only 4-byte aligned: copied out, not read in place.
            const char* bytes = reinterpret_cast<const char*>(argv[i]);
            std::int32_t whole = 0;
            float number = 0;
            if (types[i] == 's')
                parts << QString::fromUtf8(bytes);
            else if (types[i] == 'i' && std::memcpy(&whole, bytes, 4))
                parts << QString::number(whole);
            else if (types[i] == 'f' && std::memcpy(&number, bytes, 4))
                parts << QString::number(double(number), 'f', 2);
            else
                parts << QString(types[i]);
        }
        auto* listener = static_cast<StateListener*>(self);
        std::lock_guard<std::mutex> lock(listener->mutex_);
        listener->messages_ << parts.join(' ');
        return 0;
    }

    lo_server_thread server_;
    mutable std::mutex mutex_;
    QStringList messages_;
};

} // namespace

class OscEndToEndTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<JackTestServer> server;
    std::unique_ptr<ProgramRun> run;
    std::unique_ptr<JackMidiPeer> peer;
    std::unique_ptr<StateListener> state;
    int oscPort = 0;
    int wandPort = 0;
    lo_address program = nullptr;

    double levelAt(double hz)
    {
        return ToneAnalysis::magnitudeAt(peer->recentAudio(peer->sampleRate() / 4), hz,
                                         peer->sampleRate());
    }
    QByteArray log() { return run->dataFile("log.txt"); }
    bool startProgram(const QByteArray& options)
    {
        run = std::make_unique<ProgramRun>();
        server->addTo(run->environment());
        oscPort = ProgramRun::freeUdpPort();
        wandPort = ProgramRun::freeUdpPort();
        QByteArray json = options;
        json.replace("OSC", QByteArray::number(oscPort))
            .replace("WAND", QByteArray::number(wandPort));
        if (!QDir().mkpath(run->dataDirectory()) || !run->writeDataFile("options.json", json) ||
            !run->writeDataFile("rfid_map.json", R"({"0401": {"event": 0, "value": "/5"}})"))
            return false;
        run->start();
        if (!run->waitForEventLoop() ||
            !run->waitUntil([this] { return log().contains("OSC listens on"); }))
            return false;
        peer = std::make_unique<JackMidiPeer>();
        if (program)
            lo_address_free(program);
        program = lo_address_new("127.0.0.1", QByteArray::number(oscPort).constData());
        return peer->isOpen() &&
               run->waitUntil([this] { return peer->connectProgram(false, false); });
    }
    void stopProgram()
    {
        peer.reset();
        QVERIFY(run->sendSignal(SIGTERM));
        QVERIFY(run->waitForExit());
        QVERIFY2(run->exitStatus() == 0, run->standardError().right(16000).constData());
    }
    template <typename... Args> void send(const char* path, const char* types, Args... args)
    {
        QVERIFY(lo_send(program, path, types, args...) >= 0);
    }
    bool heard(double hz, bool sounding)
    {
        return QTest::qWaitFor([&] { return (levelAt(hz) > 0.01) == sounding; }, 10000);
    }
    bool received(const QString& prefix, int count = 1)
    {
        return QTest::qWaitFor([&] { return state->matching(prefix).size() >= count; }, 15000);
    }

    // Plays the take's score with lattice-tool into `out`; empty when that worked.
    static QByteArray render(const QString& score, const QString& out)
    {
        QProcess tool;
        tool.start(QCoreApplication::applicationDirPath() + "/lattice-tool",
                   {"render", "--score", score, "--voice",
                    QCoreApplication::applicationDirPath() + "/patches/Sine.pd", "--out", out});
        const bool done = tool.waitForFinished(60000) && tool.exitCode() == 0;
        return done ? QByteArray() : tool.readAllStandardError();
    }

private slots:
    void initTestCase()
    {
        server = std::make_unique<JackTestServer>();
        if (!server->isRunning())
            QSKIP(qPrintable(server->error()));
        qputenv("JACK_DEFAULT_SERVER", server->name().toUtf8());
        qputenv("JACK_NO_START_SERVER", "1");
        state = std::make_unique<StateListener>();
        QVERIFY(startProgram(R"({"oscPort": OSC, "udpPort": WAND, "baseFrequency": 440})"));
    }

    // A take started and ended over OSC, from the program's first note on: its score,
    // played again through the same voice, gives the same sound.
    void aTakeRendersAgainFromItsScore()
    {
        send("/lattice/record", "i", 1);
        QVERIFY(run->waitUntil([this] { return log().contains("Recording to"); }));
        QTest::qWait(100);
        send("/lattice/note/on", "s", "/3");
        QTest::qWait(250);
        send("/lattice/note/on", "sf", "/5", 0.5f);
        send("/lattice/transpose", "i", -3);
        QTest::qWait(250);
        send("/lattice/stop", "");
        send("/lattice/transpose", "i", 0);
        QTest::qWait(700);
        send("/lattice/record", "i", 0);
        QVERIFY(run->waitUntil([this] { return log().contains("Recording ended:"); }));

        const QDir takes(run->dataDirectory() + "/Recordings");
        const QStringList wavs = takes.entryList({"*.wav"});
        QCOMPARE(wavs.size(), 1);
        const QString score = takes.filePath(QFileInfo(wavs[0]).completeBaseName() + ".jsonl");
        const QString again = run->folder() + "/again.wav";
        QCOMPARE(render(score, again), QByteArray());
        const auto recorded = readFloatWav(takes.filePath(wavs[0]));
        const auto rendered = readFloatWav(again);
        QVERIFY(recorded && rendered && recorded->size() > 44100);
        QCOMPARE(rendered->size(), recorded->size());
        float loudest = 0, difference = 0;
        for (std::size_t i = 0; i < recorded->size(); ++i) {
            loudest = std::max(loudest, std::abs((*recorded)[i]));
            difference = std::max(difference, std::abs((*recorded)[i] - (*rendered)[i]));
        }
        qInfo("take of %zu frames against its render: largest difference %.1f dBFS",
              recorded->size() / 2, difference > 0 ? 20 * std::log10(difference) : -INFINITY);
        QVERIFY(loudest > 0.05f);
        QVERIFY2(difference < 3.2e-5f, qPrintable(QString::number(20 * std::log10(difference))));
    }

    // A subscriber gets the whole state, then each note as it sounds and stops, the
    // transposition, and the patch a name asked for.
    void notesAndStateGoBothWays()
    {
        send("/lattice/subscribe", "i", state->port());
        QVERIFY(received("/lattice/sounding/clear"));
        QVERIFY2(received("/lattice/patch Sine"), qPrintable(state->messages().join('|')));
        QVERIFY(received("/lattice/volume 0.75"));
        QCOMPARE(state->matching("/lattice/macro ").size(), 8);

        send("/lattice/note/on", "sf", "/3", 1.0f);
        QVERIFY(heard(660.0, true));
        QVERIFY2(received("/lattice/sounding/on /3 3/2 660.00 E5 1.95"),
                 qPrintable(state->matching("/lattice/sounding").join("|")));
        send("/lattice/note/off", "s", "/3");
        QVERIFY(heard(660.0, false));
        QVERIFY(received("/lattice/sounding/off /3 3/2"));

        send("/lattice/transpose", "i", 5);
        QVERIFY(received("/lattice/transposition 5/4 386.31"));
        QVERIFY(received("/lattice/black-ball 550.00"));
        send("/lattice/note/toggle", "s", "/");
        QVERIFY(heard(550.0, true));
        QVERIFY(received("/lattice/sounding/on / 1/1 550.00"));
        send("/lattice/stop", "");
        send("/lattice/transpose", "i", 0);
        QVERIFY(heard(550.0, false));
        QVERIFY(received("/lattice/transposition 1/1 0.00"));

        send("/lattice/patch", "s", "organ");
        QVERIFY(received("/lattice/patch Organ"));
        QVERIFY(run->waitUntil([this] { return log().contains("Organ.pd"); }));
    }

    // Wrong types, unknown addresses and bytes that are no OSC at all change nothing
    // and write one record between them; the next good message plays.
    void refusesWhatDoesNotFit()
    {
        send("/lattice/note/on", "i", 3);
        send("/lattice/volume", "f", 3.0f);
        send("/lattice/nothing", "");
        QUdpSocket raw;
        for (int i = 0; i < 100; ++i)
            raw.writeDatagram(QByteArray("\x01\x02\x03", 3), QHostAddress::LocalHost,
                              quint16(oscPort));
        QTest::qWait(300);
        QCOMPARE(log().count("OSC: ignoring a message from 127.0.0.1"), 1);
        QCOMPARE(state->matching("/lattice/volume 3").size(), 0);
        send("/lattice/note/on", "s", "/");
        QVERIFY(heard(440.0, true));
        send("/lattice/note/off", "s", "/");
        QVERIFY(heard(440.0, false));
    }

    // The wand and OSC play together; a tag sent over OSC plays what the wand's does.
    void wandAndOscTogether()
    {
        send("/lattice/note/on", "s", "/3");
        QCOMPARE(ProgramRun::wand("0401", wandPort), QByteArray());
        QVERIFY(heard(550.0, true) && heard(660.0, true));
        QCOMPARE(ProgramRun::wand("0401", wandPort), QByteArray());
        QVERIFY(heard(550.0, false));
        send("/lattice/tag", "s", "0401");
        QVERIFY(heard(550.0, true));
        send("/lattice/stop", "");
        QVERIFY(heard(550.0, false) && heard(660.0, false));
    }

    // With an allow-list that leaves this machine out, nothing it sends is read, and
    // the drop is recorded once.
    void aSenderOutsideTheListIsIgnored()
    {
        stopProgram();
        QVERIFY(startProgram(R"({"oscPort": OSC, "oscAllow": ["10.0.0.0/8"]})"));
        for (int i = 0; i < 20; ++i)
            send("/lattice/note/on", "s", "/");
        QVERIFY(run->waitUntil(
            [this] { return log().contains("OSC: dropping datagrams from 127.0.0.1"); }));
        QTest::qWait(500);
        QVERIFY(levelAt(440.0) < 0.001);
        QCOMPARE(log().count("OSC: dropping datagrams"), 1);
    }

    void cleanupTestCase()
    {
        if (program)
            lo_address_free(program);
        if (run)
            stopProgram();
    }
};

QTEST_GUILESS_MAIN(OscEndToEndTest)
#include "OscEndToEndTest.moc"
