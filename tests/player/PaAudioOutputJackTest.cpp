#include "JackRecorder.h"
#include "JackTestServer.h"
#include "LatticeNoteEvent.h"
#include "LogCapture.h"
#include "PaAudioOutput.h"
#include "PdPlayer.h"
#include "TestPatch.h"
#include "ToneAnalysis.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QtTest>
#include <atomic>
#include <memory>

namespace {

const QString jackDevice = QStringLiteral("JACK Audio Connection Kit: system");

// PortAudio's JACK host API joins the server named here when it initialises.
void useServer(const QString& name)
{
    qputenv("JACK_DEFAULT_SERVER", name.toUtf8());
    qputenv("JACK_NO_START_SERVER", "1");
}

// The list entry of PortAudio's default output device; PortAudio must be
// initialised.
QString defaultDeviceEntry()
{
    const PaDeviceInfo* info = Pa_GetDeviceInfo(Pa_GetDefaultOutputDevice());
    if (!info)
        return {};
    return QString::fromLocal8Bit(Pa_GetHostApiInfo(info->hostApi)->name) + QStringLiteral(": ") +
           QString::fromLocal8Bit(info->name);
}

} // namespace

class PaAudioOutputJackTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void playsNoteOnDefaultDevice();
    void staysSilentWithoutPatchButRunsEvents();
    void failsWithoutAnyDevice();
    void failsToOpenAtForeignSampleRate();

private:
    std::unique_ptr<JackTestServer> server_;
};

void PaAudioOutputJackTest::initTestCase()
{
    server_ = std::make_unique<JackTestServer>();
    QVERIFY2(server_->isRunning(), qPrintable(server_->error()));
    useServer(server_->name());
}

void PaAudioOutputJackTest::playsNoteOnDefaultDevice()
{
    PdPlayer player;
    QVERIFY(player.init());
    PaAudioOutput output;
    player.setAudioOutput(&output);
    QSignalSpy selected(&output, &AudioOutput::selectedDeviceChanged);

    // -1 opens PortAudio's default device: on a machine without a sound card
    // that is the JACK server.
    QVERIFY(output.init(256, -1, &player));
    const QList<QString> devices = output.devices();
    const int defaultPosition = devices.indexOf(defaultDeviceEntry());
    QVERIFY(defaultPosition >= 0);
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.at(0).at(0).toInt(), defaultPosition);
    QCOMPARE(output.selectedDevice(), defaultPosition);
    if (devices.at(defaultPosition) != jackDevice)
        QVERIFY(output.selectDevice(devices.indexOf(jackDevice)));
    QVERIFY(output.isStreamRunning());

    TestPatch patch;
    QVERIFY(player.loadPatch(patch.mainPatch()));
    JackRecorder recorder;
    QVERIFY(recorder.isOpen());
    QVERIFY(recorder.connect(QStringLiteral("PortAudio:out_0"), QStringLiteral("PortAudio:out_1")));

    // The root at the default base frequency is 440 Hz.
    const LatticeNoteEvent root(LatticePath(QStringLiteral("/")));
    player.queueEventGui(&root);
    QVERIFY(recorder.record(recorder.sampleRate() / 2, 10000));
    for (const std::vector<float>* channel : {&recorder.left(), &recorder.right()}) {
        QVERIFY(ToneAnalysis::peakLevel(*channel) > 0.05f);
        const double frequency =
            ToneAnalysis::dominantFrequency(*channel, recorder.sampleRate(), 200.0, 1000.0);
        QVERIFY2(std::abs(frequency - 440.0) < 1.0, qPrintable(QString::number(frequency)));
    }

    player.term();
    output.term();
    QVERIFY(!output.isStreamRunning());
    QCOMPARE(output.selectedDevice(), -1);
}

void PaAudioOutputJackTest::staysSilentWithoutPatchButRunsEvents()
{
    PdPlayer player;
    QVERIFY(player.init());
    PaAudioOutput output;
    player.setAudioOutput(&output);
    QVERIFY(output.init(256, -1, &player));
    if (output.devices().value(output.selectedDevice()) != jackDevice)
        QVERIFY(output.selectDevice(output.devices().indexOf(jackDevice)));

    // The player's signals come from the audio thread.
    QSemaphore executed;
    std::atomic<float> volume{-1.0f};
    connect(
        &player, &PdPlayer::volumeChanged, this,
        [&](float value) {
            volume.store(value);
            executed.release();
        },
        Qt::DirectConnection);
    for (int step = 1; step <= 10; ++step) {
        const LatticeEvent event(LatticeEvent::MasterVolumeSet, step / 10.0f);
        player.queueEventGui(&event);
        QVERIFY2(executed.tryAcquire(1, 5000), "an event waited for a block that never came");
        QCOMPARE(volume.load(), step / 10.0f);
    }

    JackRecorder recorder;
    QVERIFY(recorder.connect(QStringLiteral("PortAudio:out_0"), QStringLiteral("PortAudio:out_1")));
    QVERIFY(recorder.record(recorder.sampleRate() / 4, 10000));
    QCOMPARE(ToneAnalysis::peakLevel(recorder.left()), 0.0f);
    QCOMPARE(ToneAnalysis::peakLevel(recorder.right()), 0.0f);

    const PaAudioOutput::CallbackStatistics statistics = output.callbackStatistics();
    QVERIFY(statistics.callbackCount >= 10);
    std::int64_t histogramTotal = 0;
    for (std::int64_t count : statistics.histogram)
        histogramTotal += count;
    output.term();
    // Every callback was timed into exactly one bucket, and no callback
    // used more processor time than it lasted.
    QCOMPARE(histogramTotal, statistics.callbackCount);
    QVERIFY(statistics.longestCpuNanoseconds > 0);
    QVERIFY(statistics.longestCpuNanoseconds <= statistics.longestNanoseconds + 100'000);
}

void PaAudioOutputJackTest::failsWithoutAnyDevice()
{
    useServer(QStringLiteral("lattice-absent-%1").arg(QCoreApplication::applicationPid()));
    PaAudioOutput output;
    QSignalSpy selected(&output, &AudioOutput::selectedDeviceChanged);
    LogCapture log;
    const bool opened = output.init(256, 0, nullptr);
    const QList<QString> devices = output.devices();
    useServer(server_->name());
    if (!devices.isEmpty())
        QSKIP("this machine has audio devices besides JACK");

    QVERIFY(!opened);
    const QString noDefault =
        QStringLiteral("No default output device returned from Pa_GetDefaultOutputDevice");
    // The configured device is not listed, nor is the fallback: both fail.
    QCOMPARE(log.texts(QtCriticalMsg), (QStringList{noDefault, noDefault}));
    QVERIFY(selected.isEmpty());
    QVERIFY(!output.isStreamRunning());
}

void PaAudioOutputJackTest::failsToOpenAtForeignSampleRate()
{
    auto server = std::make_unique<JackTestServer>(QStringList{"--rate", "48000"});
    QVERIFY2(server->isRunning(), qPrintable(server->error()));
    useServer(server->name());
    PaAudioOutput output;
    QSignalSpy selected(&output, &AudioOutput::selectedDeviceChanged);
    LogCapture log;
    const bool opened = output.init(256, 0, nullptr);
    const QList<QString> devices = output.devices();
    output.term();
    useServer(server_->name());
    server.reset();
    if (devices != QList<QString>{jackDevice})
        QSKIP("this machine has audio devices besides JACK");

    QVERIFY(!opened);
    // The rate check only warns; the open then fails, once for the
    // configured device and once for the default, which is the same.
    QCOMPARE(log.count(QtWarningMsg, "Got invalid sample rate for 44100"), 2);
    QCOMPARE(log.count(QtCriticalMsg, "Pa_OpenStream  returned err:  -9997 Invalid sample rate"),
             2);
    for (const QList<QVariant>& arguments : selected)
        QCOMPARE(arguments.at(0).toInt(), -1);
    QCOMPARE(selected.size(), 2);
}

QTEST_GUILESS_MAIN(PaAudioOutputJackTest)
#include "PaAudioOutputJackTest.moc"
