#include "JackRecorder.h"
#include "JackTestServer.h"
#include "LatticeNoteEvent.h"
#include "PaAudioOutput.h"
#include "PdPlayer.h"
#include "TestPatch.h"
#include "ToneAnalysis.h"

#include <QSignalSpy>
#include <QtTest>

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
    QSignalSpy selected(&output, &AudioOutput::selectedDeviceChanged);
    // -1 opens PortAudio's default device: on a machine without a sound card
    // that is the JACK server.
    QVERIFY(output.init(256, -1, &player));
    const PaDeviceInfo* info = Pa_GetDeviceInfo(Pa_GetDefaultOutputDevice());
    QVERIFY(info);
    const int defaultPosition =
        output.devices().indexOf(QString::fromLocal8Bit(Pa_GetHostApiInfo(info->hostApi)->name) +
                                 ": " + QString::fromLocal8Bit(info->name));
    QVERIFY(defaultPosition >= 0);
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.at(0).at(0).toInt(), defaultPosition);
    QCOMPARE(output.selectedDevice(), defaultPosition);
    const QString jack = QStringLiteral("JACK Audio Connection Kit: system");
    if (output.devices().at(defaultPosition) != jack)
        QVERIFY(output.selectDevice(output.devices().indexOf(jack)));
    QVERIFY(output.isStreamRunning());

    TestPatch patch;
    QVERIFY(player.loadPatch(patch.mainPatch()));
    JackRecorder recorder;
    QVERIFY(recorder.connect(QStringLiteral("PortAudio:out_0"), QStringLiteral("PortAudio:out_1")));

    // The root at the default base frequency is 440 Hz.
    const LatticeNoteEvent root(QStringLiteral("/"));
    player.queueEventGui(&root);
    QVERIFY(recorder.record(recorder.sampleRate() / 2, 10000));
    for (const std::vector<float>* channel : {&recorder.left(), &recorder.right()}) {
        QVERIFY(ToneAnalysis::peakLevel(*channel) > 0.05f);
        const double frequency =
            ToneAnalysis::dominantFrequency(*channel, recorder.sampleRate(), 200.0, 1000.0);
        QVERIFY2(std::abs(frequency - 440.0) < 1.0, qPrintable(QString::number(frequency)));
    }

    // The benchmarks read these: every callback lands in one bucket, and no
    // callback used more processor time than it lasted.
    const PaAudioOutput::CallbackStatistics statistics = output.callbackStatistics();
    QVERIFY(statistics.callbackCount >= 10);
    std::int64_t histogramTotal = 0;
    for (std::int64_t count : statistics.histogram)
        histogramTotal += count;
    QCOMPARE(histogramTotal, statistics.callbackCount);
    QVERIFY(statistics.longestCpuNanoseconds > 0);
    QVERIFY(statistics.longestCpuNanoseconds <= statistics.longestNanoseconds + 100'000);

    player.term();
    output.term();
    QVERIFY(!output.isStreamRunning());
    QCOMPARE(output.selectedDevice(), -1);
}

QTEST_GUILESS_MAIN(PaAudioOutputJackTest)
#include "PaAudioOutputJackTest.moc"
