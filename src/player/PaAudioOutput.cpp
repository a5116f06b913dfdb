#include "PaAudioOutput.h"

#include "PdPlayer.h"

#include <QDateTime>
#include <QDebug>
#include <QStringList>
#include <chrono>
#include <cstring>
#if defined(Q_OS_UNIX)
#include <time.h>
#endif

// The ASIO host API exists only in Windows builds of PortAudio.
#if __has_include(<pa_asio.h>)
#include <pa_asio.h>
#define LATTICE_HAVE_ASIO 1
#endif

namespace {

void logPaError(const char* function, PaError error)
{
    qCritical() << function << " returned err: " << error << Pa_GetErrorText(error);
}

// Processor time of the calling thread; 0 where the system cannot tell.
// No lock and no allocation: it runs in the audio callback.
std::int64_t threadCpuNanoseconds()
{
#if defined(Q_OS_UNIX) && defined(CLOCK_THREAD_CPUTIME_ID)
    timespec now{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) == 0)
        return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
#endif
    return 0;
}

} // namespace

PaAudioOutput::PaAudioOutput(QObject* parent) : AudioOutput(parent) {}

PaAudioOutput::~PaAudioOutput()
{
    if (stream_ || initialised_)
        term();
}

bool PaAudioOutput::init(int framesPerBuffer, int device, PdPlayer* player)
{
    // libpd renders whole blocks of 64 frames; any other buffer size would
    // leave the end of every buffer unwritten.
    setFramesPerBuffer(PdPlayer::blockAlignedFrames(framesPerBuffer));
    setPlayer(player);

    const PaError error = Pa_Initialize();
    if (error != paNoError) {
        logPaError("Pa_Initialize", error);
        return false;
    }
    initialised_ = true;
    qWarning() << "PortAudio initialised.";
    qDebug() << "PortAudio version number:" << Pa_GetVersion();
    qDebug() << "PortAudio version text:" << Pa_GetVersionText();

    devices();
    if (selectDevice(device))
        return true;
    return selectDevice(-1);
}

void PaAudioOutput::term()
{
    qWarning() << "PaAudioOutput::term...";
    closeDevice();
    if (!initialised_)
        return;
    qWarning() << "Calling Pa_Terminate...";
    const PaError error = Pa_Terminate();
    if (error != paNoError)
        logPaError("Pa_Terminate", error);
    initialised_ = false;
}

QList<QString> PaAudioOutput::devices() const
{
    deviceMap_.clear();
    QList<QString> list;
    const PaDeviceIndex count = paDeviceCount();
    if (count < 0) {
        logPaError("Pa_GetDeviceCount", count);
        return list;
    }
    for (PaDeviceIndex device = 0; device < count; ++device) {
        const PaDeviceInfo* info = paDeviceInfo(device);
        if (!info || info->maxOutputChannels <= 0)
            continue;
        const PaHostApiInfo* hostApi = paHostApiInfo(info->hostApi);
        QString api = hostApi ? QString::fromLocal8Bit(hostApi->name) : QString();
        if (api.toLower() == QLatin1String("windows directsound"))
            api = QStringLiteral("DS");
        deviceMap_.insert(list.size(), device);
        list.append(api + QStringLiteral(": ") + QString::fromLocal8Bit(info->name));
    }
    return list;
}

void PaAudioOutput::logDevices() const
{
    const int count = devices().size();
    qWarning() << "Number of audio devices found:" << count;
    for (int index = 0; index < count; ++index)
        logDevice(index, deviceMap_.value(index));
}

void PaAudioOutput::logDevice(int index, PaDeviceIndex device) const
{
    const PaDeviceInfo* info = paDeviceInfo(device);
    if (!info)
        return;
    qWarning() << "Index:" << index;
    qWarning().noquote() << "Name:" << QString::fromLocal8Bit(info->name);
    qWarning() << "Host API:" << info->hostApi;
    qWarning() << "Max inputs:" << info->maxInputChannels;
    qWarning() << "Max outputs:" << info->maxOutputChannels;
    qWarning() << "Default low input latency:" << info->defaultLowInputLatency;
    qWarning() << "Default high input latency:" << info->defaultHighInputLatency;
    qWarning() << "Default low output latency:" << info->defaultLowOutputLatency;
    qWarning() << "Default high output latency:" << info->defaultHighOutputLatency;
#ifdef LATTICE_HAVE_ASIO
    long minimum = 0, maximum = 0, preferred = 0, granularity = 0;
    if (info->hostApi == Pa_HostApiTypeIdToHostApiIndex(paASIO) &&
        PaAsio_GetAvailableBufferSizes(device, &minimum, &maximum, &preferred, &granularity) ==
            paNoError) {
        qWarning() << "ASIO minimum buffer size:" << minimum;
        qWarning() << "ASIO maximum buffer size:" << maximum;
        qWarning() << "ASIO preferred buffer size:" << preferred;
        if (granularity == -1)
            qWarning() << "ASIO buffer granularity: power of 2";
        else
            qWarning() << "ASIO buffer granularity:" << granularity;
    }
#endif
    qWarning() << "Default sample rate:" << info->defaultSampleRate;
}

bool PaAudioOutput::selectDevice(int index)
{
    PaDeviceIndex device = paNoDevice;
    if (index != -1 && deviceMap_.contains(index)) {
        device = deviceMap_.value(index);
    } else {
        device = paDefaultOutputDevice();
        if (device == paNoDevice) {
            qCritical() << "No default output device returned from Pa_GetDefaultOutputDevice";
            return false;
        }
        index = listPosition(device);
    }

    const PaDeviceIndex count = paDeviceCount();
    if (device < 0 || device >= count) {
        qCritical().noquote() << QStringLiteral("Device index %1 passed to "
                                                "PaAudioOutput::selectDevice did not translate "
                                                "to valid paIndex %2. Device count: %3.")
                                     .arg(index)
                                     .arg(device)
                                     .arg(count);
        return false;
    }
    if (!closeDevice())
        return false;
    return openStream(index, device);
}

int PaAudioOutput::listPosition(PaDeviceIndex device) const
{
    for (auto entry = deviceMap_.cbegin(); entry != deviceMap_.cend(); ++entry)
        if (entry.value() == device)
            return entry.key();
    return 0;
}

bool PaAudioOutput::openStream(int index, PaDeviceIndex device)
{
    const PaDeviceInfo* info = paDeviceInfo(device);
    PaStreamParameters output{};
    output.device = device;
    output.channelCount = channelCount;
    output.sampleFormat = paFloat32;
    output.suggestedLatency =
        info ? (info->defaultLowOutputLatency + info->defaultHighOutputLatency) * 0.5 : 0.0;
    output.hostApiSpecificStreamInfo = nullptr;

    PaError error = paIsFormatSupported(output);
    if (error == paInvalidSampleRate) {
        qWarning() << "Got invalid sample rate for 44100";
    } else if (error != paFormatIsSupported) {
        qCritical() << "Output format not supported";
        logPaError("Pa_IsFormatSupported", error);
        setSelectedDevice(-1);
        return false;
    }

    qWarning() << "Selecting device" << index << "with latency:" << output.suggestedLatency
               << "frames per buffer:" << framesPerBuffer() << "sample rate:" << sampleRate
               << "channel count:" << channelCount;
    if (player())
        player()->initAudio(channelCount, sampleRate);

    error = paOpenStream(&stream_, output);
    if (error != paNoError) {
        stream_ = nullptr;
        logPaError("Pa_OpenStream", error);
        setSelectedDevice(-1);
        return false;
    }
    if (const PaStreamInfo* streamInfo = paStreamInfo(stream_))
        qWarning() << "PaStream opened with output latency" << streamInfo->outputLatency
                   << "and sample rate" << streamInfo->sampleRate;

    // A stream that opened but did not start stays open until the next
    // selection or term() closes it; it never runs.
    error = paStartStream(stream_);
    if (error != paNoError) {
        logPaError("Pa_StartStream", error);
        setSelectedDevice(-1);
        return false;
    }
    qWarning() << "PaStream started";
    setSelectedDevice(index);
    return true;
}

bool PaAudioOutput::closeDevice()
{
    if (!stream_)
        return true;
    qWarning() << "Stopping stream...";
    PaError error = paStopStream(stream_);
    if (error != paNoError)
        logPaError("Pa_StopStream", error);
    qWarning() << "Closing stream...";
    error = paCloseStream(stream_);
    if (error != paNoError)
        logPaError("Pa_CloseStream", error);
    stream_ = nullptr;
    setSelectedDevice(-1);
    logCallbackStatistics();
    return error != paUnanticipatedHostError;
}

void PaAudioOutput::mute()
{
    muted_.store(true, std::memory_order_relaxed);
}

void PaAudioOutput::unmute()
{
    muted_.store(false, std::memory_order_relaxed);
}

bool PaAudioOutput::isStreamRunning() const
{
    return stream_ && paIsStreamActive(stream_) == 1;
}

int PaAudioOutput::audioCallback(const void* /*input*/, void* output, unsigned long frameCount,
                                 const PaStreamCallbackTimeInfo* /*timeInfo*/,
                                 PaStreamCallbackFlags statusFlags, void* userData)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const std::int64_t cpuStart = threadCpuNanoseconds();
    auto* self = static_cast<PaAudioOutput*>(userData);
    const int frames = static_cast<int>(frameCount);
    auto* samples = static_cast<float*>(output);
    if (PdPlayer* player = self->player())
        player->processBlock(samples, frames, self->muted_.load(std::memory_order_relaxed));
    else
        std::memset(samples, 0, sizeof(float) * channelCount * frameCount);
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start);
    self->recordCallback(
        std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch()).count(),
        elapsed.count(), threadCpuNanoseconds() - cpuStart, frames, statusFlags);
    return paContinue;
}

void PaAudioOutput::recordCallback(std::int64_t startNanoseconds, std::int64_t nanoseconds,
                                   std::int64_t cpuNanoseconds, int frames,
                                   PaStreamCallbackFlags statusFlags)
{
    callbackCount_.fetch_add(1, std::memory_order_relaxed);
    totalNanoseconds_.fetch_add(nanoseconds, std::memory_order_relaxed);
    if (statusFlags & paOutputUnderflow)
        underflowCount_.fetch_add(1, std::memory_order_relaxed);

    std::int64_t longest = longestNanoseconds_.load(std::memory_order_relaxed);
    while (nanoseconds > longest && !longestNanoseconds_.compare_exchange_weak(
                                        longest, nanoseconds, std::memory_order_relaxed))
        ;
    std::int64_t longestCpu = longestCpuNanoseconds_.load(std::memory_order_relaxed);
    while (cpuNanoseconds > longestCpu &&
           !longestCpuNanoseconds_.compare_exchange_weak(longestCpu, cpuNanoseconds,
                                                         std::memory_order_relaxed))
        ;

    const std::int64_t budget = std::int64_t{frames} * 1'000'000'000 / sampleRate;
    const std::int64_t percent = budget > 0 ? nanoseconds * 100 / budget : 100;
    const bool afterUnderflow = statusFlags & paOutputUnderflow;
    if (afterUnderflow || nanoseconds >= budget) {
        const std::int64_t total = notableBlockTotal_.load(std::memory_order_relaxed);
        NotableBlock& block = notableBlocks_[std::size_t(total % notableBlockCount)];
        block.startNanoseconds.store(startNanoseconds, std::memory_order_relaxed);
        block.nanoseconds.store(nanoseconds, std::memory_order_relaxed);
        block.cpuNanoseconds.store(cpuNanoseconds, std::memory_order_relaxed);
        block.afterUnderflow.store(afterUnderflow, std::memory_order_relaxed);
        notableBlockTotal_.store(total + 1, std::memory_order_release);
    }
    std::size_t bucket = 0;
    while (bucket < histogramLimits.size() && percent >= histogramLimits[bucket])
        ++bucket;
    histogram_[bucket].fetch_add(1, std::memory_order_relaxed);
}

PaAudioOutput::CallbackStatistics PaAudioOutput::callbackStatistics() const
{
    CallbackStatistics statistics;
    statistics.callbackCount = callbackCount_.load(std::memory_order_relaxed);
    statistics.underflowCount = underflowCount_.load(std::memory_order_relaxed);
    statistics.longestNanoseconds = longestNanoseconds_.load(std::memory_order_relaxed);
    statistics.longestCpuNanoseconds = longestCpuNanoseconds_.load(std::memory_order_relaxed);
    statistics.totalNanoseconds = totalNanoseconds_.load(std::memory_order_relaxed);
    for (std::size_t bucket = 0; bucket < histogram_.size(); ++bucket)
        statistics.histogram[bucket] = histogram_[bucket].load(std::memory_order_relaxed);
    return statistics;
}

// One record when a stream closes, for a look at a long run afterwards: a
// longest block far above its processor time says the callback was kept
// waiting rather than working.
void PaAudioOutput::logCallbackStatistics() const
{
    const CallbackStatistics statistics = callbackStatistics();
    if (statistics.callbackCount == 0)
        return;
    const auto ms = [](std::int64_t nanoseconds) { return QString::number(nanoseconds / 1e6, 'f', 2); };
    qWarning().noquote() << QStringLiteral("Audio stream closed; since start %1 blocks, %2 underflows, %3 over "
                                           "the block's time; longest %4 ms (%5 ms processor), "
                                           "mean %6 ms")
                                .arg(statistics.callbackCount)
                                .arg(statistics.underflowCount)
                                .arg(statistics.histogram.back())
                                .arg(ms(statistics.longestNanoseconds),
                                     ms(statistics.longestCpuNanoseconds),
                                     ms(statistics.totalNanoseconds / statistics.callbackCount));

    // The blocks themselves, at the time of day they started: "late" for
    // one that took longer than its time, "after an underflow" for one that
    // PortAudio flagged.
    const std::int64_t total = notableBlockTotal_.load(std::memory_order_acquire);
    if (total == 0)
        return;
    using namespace std::chrono;
    const std::int64_t steadyToEpoch =
        duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() -
        duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
    QStringList blocks;
    for (std::int64_t i = std::max<std::int64_t>(0, total - notableBlockCount); i < total; ++i) {
        const NotableBlock& block = notableBlocks_[std::size_t(i % notableBlockCount)];
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(
            (block.startNanoseconds.load(std::memory_order_relaxed) + steadyToEpoch) / 1'000'000);
        QString text = at.toString(QStringLiteral("HH:mm:ss.zzz"));
        if (block.afterUnderflow.load(std::memory_order_relaxed))
            text += QStringLiteral(" after an underflow");
        const std::int64_t nanoseconds = block.nanoseconds.load(std::memory_order_relaxed);
        text += QStringLiteral(" %1 ms (%2 ms processor)")
                    .arg(ms(nanoseconds), ms(block.cpuNanoseconds.load(std::memory_order_relaxed)));
        blocks.append(text);
    }
    qWarning().noquote() << QStringLiteral("Audio blocks late or after an underflow (%1 of %2): %3")
                                .arg(blocks.size())
                                .arg(total)
                                .arg(blocks.join(QStringLiteral("; ")));
}

void PaAudioOutput::resetCallbackStatistics()
{
    callbackCount_.store(0, std::memory_order_relaxed);
    underflowCount_.store(0, std::memory_order_relaxed);
    longestNanoseconds_.store(0, std::memory_order_relaxed);
    longestCpuNanoseconds_.store(0, std::memory_order_relaxed);
    totalNanoseconds_.store(0, std::memory_order_relaxed);
    for (std::atomic<std::int64_t>& bucket : histogram_)
        bucket.store(0, std::memory_order_relaxed);
    notableBlockTotal_.store(0, std::memory_order_relaxed);
}

PaDeviceIndex PaAudioOutput::paDeviceCount() const
{
    return Pa_GetDeviceCount();
}

const PaDeviceInfo* PaAudioOutput::paDeviceInfo(PaDeviceIndex device) const
{
    return Pa_GetDeviceInfo(device);
}

const PaHostApiInfo* PaAudioOutput::paHostApiInfo(PaHostApiIndex hostApi) const
{
    return Pa_GetHostApiInfo(hostApi);
}

PaDeviceIndex PaAudioOutput::paDefaultOutputDevice() const
{
    return Pa_GetDefaultOutputDevice();
}

PaError PaAudioOutput::paIsFormatSupported(const PaStreamParameters& output) const
{
    return Pa_IsFormatSupported(nullptr, &output, sampleRate);
}

PaError PaAudioOutput::paOpenStream(PaStream** stream, const PaStreamParameters& output)
{
    return Pa_OpenStream(stream, nullptr, &output, sampleRate,
                         static_cast<unsigned long>(framesPerBuffer()), paNoFlag,
                         &PaAudioOutput::audioCallback, this);
}

const PaStreamInfo* PaAudioOutput::paStreamInfo(PaStream* stream) const
{
    return Pa_GetStreamInfo(stream);
}

PaError PaAudioOutput::paStartStream(PaStream* stream)
{
    return Pa_StartStream(stream);
}

PaError PaAudioOutput::paStopStream(PaStream* stream)
{
    return Pa_StopStream(stream);
}

PaError PaAudioOutput::paCloseStream(PaStream* stream)
{
    return Pa_CloseStream(stream);
}

PaError PaAudioOutput::paIsStreamActive(PaStream* stream) const
{
    return Pa_IsStreamActive(stream);
}
