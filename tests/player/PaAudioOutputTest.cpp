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

// A machine with an input-only microphone first and three output devices
// behind it, as Windows lists them: list positions 0..2 are PortAudio 1..3.
QList<ScriptedDevice> windowsDevices()
{
    return {{"MME", "Microphone", 0},
            {"MME", "Speakers", 2},
            {"Windows DirectSound", "Speakers", 2},
            {"ASIO", "ASIO4ALL v2", 8}};
}

// PortAudio as seen through a scripted device table, for device lists and
// failures that no test machine has. Streams are tokens that never call back.
class ScriptedPaAudioOutput : public PaAudioOutput
{
public:
    // Lists the devices at once, as init() would.
    explicit ScriptedPaAudioOutput(const QList<ScriptedDevice>& devices = windowsDevices())
    {
        setDevices(devices);
        this->devices();
    }
    // Closes the token stream while these overrides still answer.
    ~ScriptedPaAudioOutput() override { closeDevice(); }

    void setDevices(const QList<ScriptedDevice>& devices)
    {
        scripted_ = devices;
        deviceInfos_.clear();
        hostApiInfos_.clear();
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
    }

    PaDeviceIndex defaultDevice = 0;
    PaError formatError = paFormatIsSupported;
    PaError openError = paNoError;
    PaDeviceIndex unavailableDevice = paNoDevice;
    PaError startError = paNoError;
    PaError closeError = paNoError;
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
    PaError paIsFormatSupported(const PaStreamParameters&) const override { return formatError; }
    PaError paOpenStream(PaStream** stream, const PaStreamParameters& output) override
    {
        if (output.device == unavailableDevice)
            return paDeviceUnavailable;
        if (openError != paNoError)
            return openError;
        openedDevice = output.device;
        openedLatency = output.suggestedLatency;
        *stream = &token_;
        return paNoError;
    }
    const PaStreamInfo* paStreamInfo(PaStream*) const override { return &streamInfo_; }
    PaError paStartStream(PaStream*) override
    {
        running_ = startError == paNoError;
        return startError;
    }
    PaError paStopStream(PaStream*) override
    {
        running_ = false;
        return paNoError;
    }
    PaError paCloseStream(PaStream*) override { return closeError; }
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
    void refusesMissingOrInvalidDefault_data();
    void refusesMissingOrInvalidDefault();
    void failedOpenLeavesNoDevice_data();
    void failedOpenLeavesNoDevice();
    void invalidSampleRateOnlyWarns();
    void closeFailsOnlyForUnanticipatedHostError_data();
    void closeFailsOnlyForUnanticipatedHostError();
    void initFallsBackToDefaultDevice();
    void logsEveryListedDevice();
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
    QTest::addColumn<int>("opened");   // PortAudio index
    QTest::addColumn<int>("reported"); // list position

    QTest::newRow("listed position") << 2 << 2 << 3 << 2;
    QTest::newRow("-1 opens the default") << -1 << 2 << 2 << 1;
    QTest::newRow("beyond the list opens the default") << 3 << 3 << 3 << 2;
    QTest::newRow("unlisted default reports 0") << -1 << 0 << 0 << 0;
}

void PaAudioOutputTest::selectsDevices()
{
    QFETCH(int, requested);
    QFETCH(int, defaultDevice);
    QFETCH(int, opened);
    QFETCH(int, reported);
    ScriptedPaAudioOutput output;
    output.defaultDevice = defaultDevice;
    QSignalSpy spy(&output, &AudioOutput::selectedDeviceChanged);

    QVERIFY(output.selectDevice(requested));
    QCOMPARE(output.openedDevice, opened);
    QCOMPARE(output.openedLatency, 0.015);
    QCOMPARE(values(spy), QList<int>{reported});
    QVERIFY(output.isStreamRunning());
}

void PaAudioOutputTest::refusesMissingOrInvalidDefault_data()
{
    QTest::addColumn<int>("defaultDevice");
    QTest::addColumn<QString>("critical");
    QTest::newRow("no default")
        << int(paNoDevice) << "No default output device returned from Pa_GetDefaultOutputDevice";
    QTest::newRow("default beyond the count")
        << 4
        << "Device index 0 passed to PaAudioOutput::selectDevice did not translate to valid "
           "paIndex 4. Device count: 4.";
}

void PaAudioOutputTest::refusesMissingOrInvalidDefault()
{
    QFETCH(int, defaultDevice);
    QFETCH(QString, critical);
    ScriptedPaAudioOutput output;
    QVERIFY(output.selectDevice(0));
    output.defaultDevice = defaultDevice;
    QSignalSpy spy(&output, &AudioOutput::selectedDeviceChanged);
    LogCapture log;

    QVERIFY(!output.selectDevice(-1));
    QCOMPARE(log.texts(QtCriticalMsg), QStringList{critical});
    // Refused before closing: the running stream goes on.
    QVERIFY(spy.isEmpty());
    QVERIFY(output.isStreamRunning());
}

void PaAudioOutputTest::failedOpenLeavesNoDevice_data()
{
    QTest::addColumn<int>("formatError");
    QTest::addColumn<int>("openError");
    QTest::addColumn<int>("startError");
    QTest::addColumn<QStringList>("criticals");
    QTest::newRow("format") << int(paInvalidChannelCount) << int(paNoError) << int(paNoError)
                            << QStringList{"Output format not supported",
                                           "Pa_IsFormatSupported  returned err:  -9998 Invalid "
                                           "number of channels"};
    QTest::newRow("open") << int(paFormatIsSupported) << int(paDeviceUnavailable) << int(paNoError)
                          << QStringList{"Pa_OpenStream  returned err:  -9985 Device unavailable"};
    QTest::newRow("start") << int(paFormatIsSupported) << int(paNoError)
                           << int(paUnanticipatedHostError)
                           << QStringList{"Pa_StartStream  returned err:  -9999 Unanticipated "
                                          "host error"};
}

void PaAudioOutputTest::failedOpenLeavesNoDevice()
{
    QFETCH(int, formatError);
    QFETCH(int, openError);
    QFETCH(int, startError);
    QFETCH(QStringList, criticals);
    ScriptedPaAudioOutput output;
    QVERIFY(output.selectDevice(0));
    QSignalSpy spy(&output, &AudioOutput::selectedDeviceChanged);
    LogCapture log;

    output.formatError = formatError;
    output.openError = openError;
    output.startError = startError;
    QVERIFY(!output.selectDevice(1));
    QCOMPARE(log.texts(QtCriticalMsg), criticals);
    // -1 once for closing the running stream, once for the failure.
    QCOMPARE(values(spy), (QList<int>{-1, -1}));
    QVERIFY(!output.isStreamRunning());

    output.formatError = paFormatIsSupported;
    output.openError = paNoError;
    output.startError = paNoError;
    spy.clear();
    QVERIFY(output.selectDevice(-1));
    QCOMPARE(values(spy).last(), 0);
    QVERIFY(output.isStreamRunning());
}

void PaAudioOutputTest::invalidSampleRateOnlyWarns()
{
    ScriptedPaAudioOutput output;
    output.formatError = paInvalidSampleRate;
    LogCapture log;

    QVERIFY(output.selectDevice(1));
    QCOMPARE(log.texts(QtWarningMsg),
             (QStringList{"Got invalid sample rate for 44100",
                          "Selecting device 1 with latency: 0.015 frames per buffer: 256 sample "
                          "rate: 44100 channel count: 2",
                          "PaStream opened with output latency 0.0058 and sample rate 44100",
                          "PaStream started"}));
    QVERIFY(log.texts(QtCriticalMsg).isEmpty());
}

void PaAudioOutputTest::closeFailsOnlyForUnanticipatedHostError_data()
{
    QTest::addColumn<int>("closeError");
    QTest::addColumn<bool>("closed");
    QTest::newRow("no error") << int(paNoError) << true;
    QTest::newRow("other error") << int(paInternalError) << true;
    QTest::newRow("unanticipated host error") << int(paUnanticipatedHostError) << false;
}

void PaAudioOutputTest::closeFailsOnlyForUnanticipatedHostError()
{
    QFETCH(int, closeError);
    QFETCH(bool, closed);
    ScriptedPaAudioOutput output;
    QVERIFY(output.selectDevice(0));
    output.closeError = closeError;
    QSignalSpy spy(&output, &AudioOutput::selectedDeviceChanged);
    LogCapture log;

    QCOMPARE(output.closeDevice(), closed);
    QCOMPARE(log.texts(QtWarningMsg), (QStringList{"Stopping stream...", "Closing stream..."}));
    QCOMPARE(log.texts(QtCriticalMsg).size(), closeError == paNoError ? 0 : 1);
    QCOMPARE(values(spy), QList<int>{-1});
    // The stream is gone either way; a second close has nothing to do.
    log.clear();
    QVERIFY(output.closeDevice());
    QVERIFY(log.records().isEmpty());
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
    // 200 frames are raised to whole libpd blocks.
    QVERIFY(log.texts(QtWarningMsg)
                .contains("Selecting device 2 with latency: 0.015 frames per "
                          "buffer: 256 sample rate: 44100 channel count: 2"));
    output.term();
    QVERIFY(!output.isStreamRunning());
    QCOMPARE(output.selectedDevice(), -1);
}

void PaAudioOutputTest::logsEveryListedDevice()
{
    ScriptedPaAudioOutput output(
        {{"MME", "Microphone", 0}, {"Windows DirectSound", "Speakers", 2}});
    LogCapture log;

    output.logDevices();
    QCOMPARE(log.texts(QtWarningMsg),
             (QStringList{"Number of audio devices found: 1", "Index: 0", "Name: Speakers",
                          "Host API: 1", "Max inputs: 0", "Max outputs: 2",
                          "Default low input latency: 0", "Default high input latency: 0",
                          "Default low output latency: 0.01", "Default high output latency: 0.02",
                          "Default sample rate: 44100"}));
}

QTEST_GUILESS_MAIN(PaAudioOutputTest)
#include "PaAudioOutputTest.moc"
