#include "JackTestServer.h"
#include "LatticeNoteEvent.h"
#include "PaAudioOutput.h"
#include "PdPlayer.h"
#include "TestPatch.h"
#include "ToneAnalysis.h"

#include <QtTest>
#include <atomic>
#include <jack/jack.h>
#include <numeric>

namespace {

// A JACK client of the test's own that records `frames` frames from two
// output ports (such as "PortAudio:out_0") once armed. It joins the server
// named by JACK_DEFAULT_SERVER. JACK's process thread records; the test's
// thread arms it and reads the channels once `recorded` reaches `frames`.
struct JackRecorder
{
    explicit JackRecorder(std::size_t frames)
    {
        channels[0].resize(frames);
        channels[1].resize(frames);
        client = jack_client_open("lattice-recorder", JackNoStartServer, nullptr);
        for (int i = 0; client && i < 2; ++i)
            inputs[i] = jack_port_register(client, i == 0 ? "in_left" : "in_right",
                                           JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        if (client)
            jack_set_process_callback(client, &process, this);
    }
    ~JackRecorder()
    {
        if (client)
            jack_client_close(client);
    }
    bool connect(const char* left, const char* right)
    {
        return client && inputs[0] && inputs[1] && jack_activate(client) == 0 &&
               jack_connect(client, left, jack_port_name(inputs[0])) == 0 &&
               jack_connect(client, right, jack_port_name(inputs[1])) == 0;
    }
    static int process(jack_nframes_t frames, void* self)
    {
        auto* recorder = static_cast<JackRecorder*>(self);
        const std::size_t at = recorder->recorded.load(std::memory_order_relaxed);
        if (!recorder->armed.load(std::memory_order_acquire) || at == recorder->channels[0].size())
            return 0;
        const std::size_t count = std::min<std::size_t>(frames, recorder->channels[0].size() - at);
        for (int i = 0; i < 2; ++i) {
            const auto* in =
                static_cast<const float*>(jack_port_get_buffer(recorder->inputs[i], frames));
            std::copy(in, in + count, recorder->channels[i].begin() + std::ptrdiff_t(at));
        }
        // Pairs with the test thread's acquire load: the samples are visible there.
        recorder->recorded.store(at + count, std::memory_order_release);
        return 0;
    }

    jack_client_t* client = nullptr;
    jack_port_t* inputs[2] = {nullptr, nullptr};
    std::vector<float> channels[2];
    std::atomic<bool> armed{false};
    std::atomic<std::size_t> recorded{0};
};

} // namespace

// The real PortAudio stream on a JACK server with the dummy backend, started
// by JackTestServer, recorded by a JACK client of the tests' own.
class PaAudioOutputJackTest : public QObject
{
    Q_OBJECT

private slots:
    void playsNoteOnDefaultDevice();
};

void PaAudioOutputJackTest::playsNoteOnDefaultDevice()
{
    const JackTestServer server;
    QVERIFY2(server.isRunning(), qPrintable(server.error()));
    // PortAudio's JACK host API joins this server when it initialises.
    qputenv("JACK_DEFAULT_SERVER", server.name().toUtf8());
    qputenv("JACK_NO_START_SERVER", "1");

    PdPlayer player;
    QVERIFY(player.init());
    PaAudioOutput output;
    player.setAudioOutput(&output);
    // -1 opens PortAudio's default device; make sure it is the JACK server.
    QVERIFY(output.init(256, -1, &player));
    const int jack = output.devices().indexOf("JACK Audio Connection Kit: system");
    if (output.selectedDevice() != jack)
        QVERIFY(output.selectDevice(jack));
    QVERIFY(output.isStreamRunning());

    TestPatch patch;
    QVERIFY(player.loadPatch(patch.mainPatch()));
    const int sampleRate = PaAudioOutput::sampleRate;
    JackRecorder recorder(sampleRate / 2);
    QVERIFY(recorder.connect("PortAudio:out_0", "PortAudio:out_1"));

    // The root at the default base frequency is 440 Hz.
    const LatticeNoteEvent root(QStringLiteral("/"));
    player.queueEventGui(&root);
    recorder.armed.store(true, std::memory_order_release);
    QTRY_COMPARE_WITH_TIMEOUT(recorder.recorded.load(std::memory_order_acquire),
                              recorder.channels[0].size(), 10000);
    for (const std::vector<float>& channel : recorder.channels) {
        QVERIFY(ToneAnalysis::peakLevel(channel) > 0.05f);
        const double frequency =
            ToneAnalysis::dominantFrequency(channel, sampleRate, 200.0, 1000.0);
        QVERIFY2(std::abs(frequency - 440.0) < 1.0, qPrintable(QString::number(frequency)));
    }

    // The benchmarks read these: every callback lands in one bucket, and no
    // callback used more processor time than it lasted.
    const PaAudioOutput::CallbackStatistics statistics = output.callbackStatistics();
    QVERIFY(statistics.callbackCount >= 10);
    QCOMPARE(
        std::accumulate(statistics.histogram.begin(), statistics.histogram.end(), std::int64_t{0}),
        statistics.callbackCount);
    QVERIFY(statistics.longestCpuNanoseconds > 0);
    QVERIFY(statistics.longestCpuNanoseconds <= statistics.longestNanoseconds + 100'000);

    player.term();
    output.term();
    QVERIFY(!output.isStreamRunning());
    QCOMPARE(output.selectedDevice(), -1);
}

QTEST_GUILESS_MAIN(PaAudioOutputJackTest)
#include "PaAudioOutputJackTest.moc"
