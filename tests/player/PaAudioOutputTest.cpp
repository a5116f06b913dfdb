#include "PaAudioOutput.h"
#include "LogCapture.h"

#include <QSignalSpy>
#include <QtTest>
#include <deque>

namespace {

struct ScriptedDevice
{
    QByteArray hostApi;
    QByteArray name; // as PortAudio hands it over: local 8-bit bytes
    int outputs;
};

// An input-only microphone first and three output devices behind it, as
// Windows lists them: list positions 0..2 are PortAudio 1..3.
QList<ScriptedDevice> windowsDevices()
{
    return {{"MME", "Microphone", 0},
            {"MME", "Speakers", 2},
            {"Windows DirectSound", "Speakers", 2},
            {"ASIO", "ASIO4ALL v2", 8}};
}

// PortAudio answering from a scripted device table. Streams are tokens that
// never call back.
class ScriptedPaAudioOutput : public PaAudioOutput
{
public:
    explicit ScriptedPaAudioOutput(const QList<ScriptedDevice>& devices = windowsDevices())
        : scripted_(devices)
    {
        for (const ScriptedDevice& device : scripted_) {
            PaDeviceInfo info{};
            info.name = device.name.constData();
            info.hostApi = static_cast<PaHostApiIndex>(deviceInfos_.size());
            info.maxOutputChannels = device.outputs;
            info.defaultLowOutputLatency = 0.01;
            info.defaultHighOutputLatency = 0.02;
            info.defaultSampleRate = 44100.0;
            deviceInfos_.push_back(info);
            PaHostApiInfo api{};
            api.name = device.hostApi.constData();
            hostApiInfos_.push_back(api);
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
    PaDeviceIndex paDeviceCount() const override { return scripted_.size(); }
    const PaDeviceInfo* paDeviceInfo(PaDeviceIndex device) const override
    {
        return device >= 0 && device < scripted_.size() ? &deviceInfos_[std::size_t(device)]
                                                        : nullptr;
    }
    const PaHostApiInfo* paHostApiInfo(PaHostApiIndex api) const override
    {
        return api >= 0 && api < scripted_.size() ? &hostApiInfos_[std::size_t(api)] : nullptr;
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
    QList<ScriptedDevice> scripted_;
    std::deque<PaDeviceInfo> deviceInfos_;
    std::deque<PaHostApiInfo> hostApiInfos_;
    int token_ = 0;
    bool running_ = false;
    PaStreamInfo streamInfo_{1, 0.0, 0.0058, 44100.0};
};

QList<int> values(const QSignalSpy& spy)
{
    QList<int> result;
    for (const QList<QVariant>& arguments : spy)
        result.append(arguments.at(0).toInt());
    return result;
}

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
    QList<ScriptedDevice> devices = windowsDevices();
    devices.append({"windows directsound", "Kopfh\xc3\xb6rer (USB)", 2});
    devices.append({"Windows WASAPI", "Line In", 0});
    devices.append({"Windows WASAPI", "Speakers", 2});
    ScriptedPaAudioOutput output(devices);
    // Names arrive in the local 8-bit encoding, UTF-8 here.
    QCOMPARE(output.devices(), (QList<QString>{"MME: Speakers", "DS: Speakers", "ASIO: ASIO4ALL v2",
                                               QString::fromUtf8("DS: Kopfhörer (USB)"),
                                               "Windows WASAPI: Speakers"}));
}

void PaAudioOutputTest::selectsDevices_data()
{
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("defaultDevice");
    QTest::addColumn<int>("opened");   // PortAudio index; none: refused
    QTest::addColumn<int>("reported"); // list position
    QTest::addColumn<QString>("critical");
    QTest::newRow("listed position") << 2 << 2 << 3 << 2 << "";
    QTest::newRow("-1 opens the default") << -1 << 2 << 2 << 1 << "";
    QTest::newRow("beyond the list opens the default") << 3 << 3 << 3 << 2 << "";
    QTest::newRow("unlisted default reports 0") << -1 << 0 << 0 << 0 << "";
    QTest::newRow("no default") << -1 << int(paNoDevice) << int(paNoDevice) << 0
                                << "No default output device returned from "
                                   "Pa_GetDefaultOutputDevice";
    QTest::newRow("default beyond the count")
        << -1 << 4 << int(paNoDevice) << 0
        << "Device index 0 passed to PaAudioOutput::selectDevice did not translate to valid "
           "paIndex 4. Device count: 4.";
}

void PaAudioOutputTest::selectsDevices()
{
    QFETCH(int, requested);
    QFETCH(int, defaultDevice);
    QFETCH(int, opened);
    QFETCH(int, reported);
    QFETCH(QString, critical);
    ScriptedPaAudioOutput output;
    QVERIFY(output.selectDevice(0));
    output.openedDevice = paNoDevice;
    output.defaultDevice = defaultDevice;
    QSignalSpy spy(&output, &AudioOutput::selectedDeviceChanged);
    LogCapture log;

    QCOMPARE(output.selectDevice(requested), opened != paNoDevice);
    QCOMPARE(output.openedDevice, opened);
    QCOMPARE(log.texts(QtCriticalMsg), critical.isEmpty() ? QStringList{} : QStringList{critical});
    // Refused before closing, the running stream goes on; otherwise -1 reports
    // the close.
    QCOMPARE(values(spy), opened == paNoDevice ? QList<int>{} : (QList<int>{-1, reported}));
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
