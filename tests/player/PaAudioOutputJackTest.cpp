#include "JackTestServer.h"
#include "LatticeNoteEvent.h"
#include "PaAudioOutput.h"
#include "PdPlayer.h"
#include "TestPatch.h"
#include "ToneAnalysis.h"

#include <QtTest>
#include <cstring>
#include <numeric>

// The real PortAudio stream on a JACK server with the dummy backend, started
// by JackTestServer, both channels recorded by JACK's own jack_rec.
class PaAudioOutputJackTest : public QObject
{
    Q_OBJECT

private slots:
    void playsNoteOnDefaultDevice()
    {
        const JackTestServer server;
        QVERIFY2(server.isRunning(), qPrintable(server.error()));
        // PortAudio's JACK host API and jack_rec join this server.
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
        TestPatch patch;
        QVERIFY(player.loadPatch(patch.mainPatch()));

        // The root at the default base frequency is 440 Hz, in both channels.
        const LatticeNoteEvent root(QStringLiteral("/"));
        player.queueEventGui(&root);
        QTemporaryDir folder;
        const QString take = folder.filePath("take.wav");
        QProcess recorder, sox;
        recorder.start("jack_rec", {"-f", take, "-d", "1", "PortAudio:out_0", "PortAudio:out_1"});
        QVERIFY2(recorder.waitForFinished(10000) && recorder.exitCode() == 0,
                 recorder.readAllStandardError().constData());
        sox.start("sox", {take, "-t", "f32", "-"});
        QVERIFY2(sox.waitForFinished(10000) && sox.exitCode() == 0,
                 sox.readAllStandardError().constData());
        const QByteArray bytes = sox.readAllStandardOutput();
        std::vector<float> samples(std::size_t(bytes.size()) / sizeof(float));
        std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
        for (int channel : {0, 1}) {
            const std::vector<float> heard = ToneAnalysis::channel(samples, channel);
            QVERIFY(ToneAnalysis::peakLevel(heard) > 0.05f);
            const double frequency =
                ToneAnalysis::dominantFrequency(heard, PaAudioOutput::sampleRate, 200.0, 1000.0);
            QVERIFY2(std::abs(frequency - 440.0) < 1.0, qPrintable(QString::number(frequency)));
        }

        // Read by the benchmarks: each callback in one bucket, none using more CPU than it lasted.
        const PaAudioOutput::CallbackStatistics statistics = output.callbackStatistics();
        QVERIFY(statistics.callbackCount >= 10);
        QCOMPARE(std::accumulate(statistics.histogram.begin(), statistics.histogram.end(),
                                 std::int64_t{0}),
                 statistics.callbackCount);
        QVERIFY(statistics.longestCpuNanoseconds > 0);
        QVERIFY(statistics.longestCpuNanoseconds <= statistics.longestNanoseconds + 100'000);

        player.term();
        output.term();
    }
};

QTEST_GUILESS_MAIN(PaAudioOutputJackTest)
#include "PaAudioOutputJackTest.moc"
