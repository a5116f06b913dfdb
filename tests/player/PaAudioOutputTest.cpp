#include "PaAudioOutput.h"
#include "LogCapture.h"
#include "SignalLog.h"

#include <QtTest>
#include <vector>

namespace {

// PortAudio answering from a device table as Windows lists it: an
// input-only microphone first (list positions 0..2 are PortAudio 1..3), host
// API names in any case, a name in the local 8-bit encoding (UTF-8 here).
// Streams are tokens that never call back.
class ScriptedPaAudioOutput : public PaAudioOutput
{
public:
    ScriptedPaAudioOutput()
    {
        struct Row
        {
            const char* hostApi;
            const char* name;
            int outputs;
        };
        for (const Row& row :
             {Row{"MME", "Microphone", 0}, Row{"MME", "Speakers", 2},
              Row{"Windows DirectSound", "Speakers", 2}, Row{"ASIO", "ASIO4ALL v2", 8},
              Row{"windows directsound", "Kopfh\xc3\xb6rer (USB)", 2},
              Row{"Windows WASAPI", "Line In", 0}, Row{"Windows WASAPI", "Speakers", 2}}) {
            PaDeviceInfo info{};
            info.name = row.name;
            info.hostApi = PaHostApiIndex(deviceInfos_.size());
            info.maxOutputChannels = row.outputs;
            info.defaultLowOutputLatency = 0.01;
            info.defaultHighOutputLatency = 0.02;
            deviceInfos_.push_back(info);
            hostApiInfos_.push_back(PaHostApiInfo{});
            hostApiInfos_.back().name = row.hostApi;
        }
        this->devices(); // lists them, as init() would
    }
    // Closes the token stream while these overrides still answer.
    ~ScriptedPaAudioOutput() override { closeDevice(); }

    PaDeviceIndex defaultDevice = 0;
    PaDeviceIndex unavailableDevice = paNoDevice;
    PaDeviceIndex openedDevice = paNoDevice;
    double openedLatency = 0.0;

protected:
    PaDeviceIndex paDeviceCount() const override { return PaDeviceIndex(deviceInfos_.size()); }
    const PaDeviceInfo* paDeviceInfo(PaDeviceIndex device) const override
    {
        return device >= 0 && device < paDeviceCount() ? &deviceInfos_[std::size_t(device)]
                                                       : nullptr;
    }
    const PaHostApiInfo* paHostApiInfo(PaHostApiIndex api) const override
    {
        return api >= 0 && api < paDeviceCount() ? &hostApiInfos_[std::size_t(api)] : nullptr;
    }
    PaDeviceIndex paDefaultOutputDevice() const override { return defaultDevice; }
    PaError paIsFormatSupported(const PaStreamParameters&) const override
    {
        return paFormatIsSupported;
    }
    PaError paOpenStream(PaStream** stream, const PaStreamParameters& output) override
    {
        if (output.device == unavailableDevice)
            return paDeviceUnavailable;
        openedDevice = output.device;
        openedLatency = output.suggestedLatency;
        *stream = &token_;
        return paNoError;
    }
    const PaStreamInfo* paStreamInfo(PaStream*) const override { return &streamInfo_; }
    PaError paStartStream(PaStream*) override { return (running_ = true, paNoError); }
    PaError paStopStream(PaStream*) override { return (running_ = false, paNoError); }
    PaError paCloseStream(PaStream*) override { return paNoError; }
    PaError paIsStreamActive(PaStream*) const override { return running_ ? 1 : 0; }

private:
    std::vector<PaDeviceInfo> deviceInfos_;
    std::vector<PaHostApiInfo> hostApiInfos_;
    int token_ = 0;
    bool running_ = false;
    PaStreamInfo streamInfo_{1, 0.0, 0.0058, 44100.0};
};

} // namespace

class PaAudioOutputTest : public QObject
{
    Q_OBJECT

private slots:
    void namesDevicesByHostApi();
    void selectsDevices_data();
    void selectsDevices();
    void initFallsBackToDefaultDevice();
};

void PaAudioOutputTest::namesDevicesByHostApi()
{
    QCOMPARE(
        ScriptedPaAudioOutput().devices(),
        (QList<QString>{"MME: Speakers", "DS: Speakers", "ASIO: ASIO4ALL v2",
                        QString::fromUtf8("DS: Kopfhörer (USB)"), "Windows WASAPI: Speakers"}));
}

void PaAudioOutputTest::selectsDevices_data()
{
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("defaultDevice");
    QTest::addColumn<int>("opened"); // PortAudio index; none: refused
    QTest::addColumn<QString>("emitted");
    QTest::addColumn<QString>("critical");
    // Refused before closing, the running stream goes on; otherwise -1
    // reports the close, then the list position the new stream runs on.
    const char* none = "";
    QTest::newRow("listed position") << 2 << 2 << 3 << "(-1) (2)" << none;
    QTest::newRow("-1 opens the default") << -1 << 2 << 2 << "(-1) (1)" << none;
    QTest::newRow("beyond the list opens the default") << 5 << 3 << 3 << "(-1) (2)" << none;
    QTest::newRow("unlisted default reports 0") << -1 << 0 << 0 << "(-1) (0)" << none;
    QTest::newRow("no default")
        << -1 << int(paNoDevice) << int(paNoDevice) << none
        << "No default output device returned from Pa_GetDefaultOutputDevice";
    QTest::newRow("default beyond the count")
        << -1 << 7 << int(paNoDevice) << none
        << "Device index 0 passed to PaAudioOutput::selectDevice did not translate to valid "
           "paIndex 7. Device count: 7.";
}

void PaAudioOutputTest::selectsDevices()
{
    QFETCH(int, requested);
    QFETCH(int, defaultDevice);
    QFETCH(int, opened);
    QFETCH(QString, emitted);
    QFETCH(QString, critical);
    ScriptedPaAudioOutput output;
    QVERIFY(output.selectDevice(0));
    output.openedDevice = paNoDevice;
    output.defaultDevice = defaultDevice;
    SignalLog signalLog(&output);
    LogCapture log;

    QCOMPARE(output.selectDevice(requested), opened != paNoDevice);
    QCOMPARE(output.openedDevice, opened);
    QCOMPARE(log.texts(QtCriticalMsg).join('|'), critical);
    QCOMPARE(signalLog.take().join(' ').remove("selectedDeviceChanged"), emitted);
    QVERIFY(output.isStreamRunning());
    if (opened != paNoDevice)
        QCOMPARE(output.openedLatency, 0.015); // the mean of low and high
}

void PaAudioOutputTest::initFallsBackToDefaultDevice()
{
    ScriptedPaAudioOutput output;
    output.defaultDevice = 3;
    output.unavailableDevice = 1;
    LogCapture log;
    // The configured position 0 does not open: the default device takes over.
    QVERIFY(output.init(200, 0, nullptr));
    QCOMPARE(output.openedDevice, 3);
    QCOMPARE(output.selectedDevice(), 2);
    QCOMPARE(output.framesPerBuffer(), 256); // whole libpd blocks
    output.term();
    QVERIFY(!output.isStreamRunning());
    QCOMPARE(output.selectedDevice(), -1);
}

QTEST_GUILESS_MAIN(PaAudioOutputTest)
#include "PaAudioOutputTest.moc"
