#include "PaAudioOutput.h"
#include "SignalLog.h"

#include <QtTest>
#include <tuple>
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
        using Row = std::tuple<const char*, const char*, int>; // host API, name, outputs
        for (const auto& [hostApi, name, outputs] :
             {Row{"MME", "Microphone", 0}, Row{"MME", "Speakers", 2},
              Row{"Windows DirectSound", "Speakers", 2}, Row{"ASIO", "ASIO4ALL v2", 8},
              Row{"windows directsound", "Kopfh\xc3\xb6rer (USB)", 2},
              Row{"Windows WASAPI", "Line In", 0}, Row{"Windows WASAPI", "Speakers", 2}}) {
            PaDeviceInfo info{};
            info.name = name;
            info.hostApi = PaHostApiIndex(deviceInfos_.size());
            info.maxOutputChannels = outputs;
            info.defaultLowOutputLatency = 0.01;
            info.defaultHighOutputLatency = 0.02;
            deviceInfos_.push_back(info);
            hostApiInfos_.push_back(PaHostApiInfo{});
            hostApiInfos_.back().name = hostApi;
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
    // Refused before closing, the running stream goes on; otherwise -1
    // reports the close, then the list position the new stream runs on.
    void selectsDevices_data()
    {
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("defaultDevice");
        QTest::addColumn<int>("opened"); // PortAudio index; none: refused
        QTest::addColumn<QString>("emitted");
        QTest::newRow("listed position") << 2 << 2 << 3 << "(-1) (2)";
        QTest::newRow("beyond the list opens the default") << 5 << 3 << 3 << "(-1) (2)";
        QTest::newRow("unlisted default reports 0") << -1 << 0 << 0 << "(-1) (0)";
        QTest::newRow("no default") << -1 << int(paNoDevice) << int(paNoDevice) << "";
        QTest::newRow("default beyond the count") << -1 << 7 << int(paNoDevice) << "";
    }
    void selectsDevices()
    {
        QFETCH(int, requested);
        QFETCH(int, defaultDevice);
        QFETCH(int, opened);
        QFETCH(QString, emitted);
        ScriptedPaAudioOutput output;
        QVERIFY(output.selectDevice(0));
        output.openedDevice = paNoDevice;
        output.defaultDevice = defaultDevice;
        SignalLog signalLog(&output);
        QCOMPARE(output.selectDevice(requested), opened != paNoDevice);
        QCOMPARE(output.openedDevice, opened);
        QCOMPARE(signalLog.take().join(' ').remove("selectedDeviceChanged"), emitted);
        QVERIFY(output.isStreamRunning());
        if (opened != paNoDevice)
            QCOMPARE(output.openedLatency, 0.015); // the mean of low and high
    }

    // Devices named by host API; position 0 does not open, so the default device takes over.
    void initFallsBackToDefaultDevice()
    {
        ScriptedPaAudioOutput output;
        QCOMPARE(
            output.devices(),
            (QList<QString>{"MME: Speakers", "DS: Speakers", "ASIO: ASIO4ALL v2",
                            QString::fromUtf8("DS: Kopfhörer (USB)"), "Windows WASAPI: Speakers"}));
        output.defaultDevice = 3;
        output.unavailableDevice = 1;
        QVERIFY(output.init(200, 0, nullptr));
        QCOMPARE(output.openedDevice, 3);
        QCOMPARE(output.selectedDevice(), 2);
        QCOMPARE(output.framesPerBuffer(), 256); // whole libpd blocks
        output.term();
        QVERIFY(!output.isStreamRunning());
        QCOMPARE(output.selectedDevice(), -1);
    }
};

QTEST_GUILESS_MAIN(PaAudioOutputTest)
#include "PaAudioOutputTest.moc"
