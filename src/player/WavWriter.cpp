#include "WavWriter.h"

#include <QByteArray>
#include <QtEndian>
#include <algorithm>
#include <cmath>

namespace {

constexpr std::uint16_t formatPcm = 1;
constexpr std::uint16_t formatIeeeFloat = 3;

void appendTag(QByteArray& out, const char* tag)
{
    out.append(tag, 4);
}

template <typename T> void appendLittle(QByteArray& out, T value)
{
    char bytes[sizeof(T)];
    qToLittleEndian(value, bytes);
    out.append(bytes, int(sizeof(T)));
}

} // namespace

WavWriter::~WavWriter()
{
    if (file_.isOpen())
        close();
}

bool WavWriter::open(const QString& path, int sampleRate, int channels, Format format)
{
    if (file_.isOpen())
        close();
    format_ = format;
    sampleRate_ = sampleRate;
    channels_ = channels;
    dataBytes_ = 0;
    peak_ = 0.0f;
    file_.setFileName(path);
    ok_ = file_.open(QIODevice::WriteOnly | QIODevice::Truncate) && writeHeader();
    return ok_;
}

bool WavWriter::writeHeader()
{
    const bool isFloat = format_ == Format::Float32;
    const std::uint16_t bytesPerSample = isFloat ? 4 : 2;
    const std::uint16_t blockAlign = std::uint16_t(channels_ * bytesPerSample);
    // RIFF sizes are 32-bit; a longer take is cut at what fits.
    const std::uint32_t data = std::uint32_t(std::min<std::uint64_t>(dataBytes_, 0xFFFFFF00u));

    QByteArray header;
    appendTag(header, "RIFF");
    appendLittle<std::uint32_t>(header, (isFloat ? 50u : 36u) + data);
    appendTag(header, "WAVE");
    appendTag(header, "fmt ");
    appendLittle<std::uint32_t>(header, isFloat ? 18 : 16);
    appendLittle<std::uint16_t>(header, isFloat ? formatIeeeFloat : formatPcm);
    appendLittle<std::uint16_t>(header, std::uint16_t(channels_));
    appendLittle<std::uint32_t>(header, std::uint32_t(sampleRate_));
    appendLittle<std::uint32_t>(header, std::uint32_t(sampleRate_) * blockAlign);
    appendLittle<std::uint16_t>(header, blockAlign);
    appendLittle<std::uint16_t>(header, std::uint16_t(8 * bytesPerSample));
    if (isFloat) {
        // Non-PCM formats carry an extension size and a "fact" chunk.
        appendLittle<std::uint16_t>(header, 0);
        appendTag(header, "fact");
        appendLittle<std::uint32_t>(header, 4);
        appendLittle<std::uint32_t>(header, data / blockAlign);
    }
    appendTag(header, "data");
    appendLittle<std::uint32_t>(header, data);
    return file_.seek(0) && file_.write(header) == header.size();
}

bool WavWriter::write(const float* interleaved, int frames)
{
    if (!file_.isOpen() || frames <= 0)
        return ok_;
    const std::size_t samples = std::size_t(frames) * std::size_t(channels_);
    const bool isFloat = format_ == Format::Float32;
    encoded_.resize(int(samples * (isFloat ? 4 : 2)));
    char* out = encoded_.data();
    float peak = peak_;
    for (std::size_t i = 0; i < samples; ++i) {
        const float sample = interleaved[i];
        peak = std::max(peak, std::fabs(sample));
        if (isFloat) {
            qToLittleEndian(sample, out + 4 * i);
        } else {
            // lrint rounds to nearest in the default mode, in one instruction.
            const float clipped = std::clamp(sample, -1.0f, 1.0f);
            qToLittleEndian(std::int16_t(std::lrint(clipped * 32767.0f)), out + 2 * i);
        }
    }
    peak_ = peak;
    // A full disk may take part of a write: only what reached the file is
    // counted, so that the header closes over sound that is there.
    const qint64 written = file_.write(encoded_);
    if (written != encoded_.size())
        ok_ = false;
    if (written > 0)
        dataBytes_ += std::uint64_t(written);
    return ok_;
}

bool WavWriter::close()
{
    if (!file_.isOpen())
        return ok_;
    // A frame cut short by a failed write is dropped with what followed it.
    const std::uint64_t frameBytes =
        std::uint64_t(channels_) * (format_ == Format::Float32 ? 4u : 2u);
    if (frameBytes > 0 && dataBytes_ % frameBytes != 0) {
        dataBytes_ -= dataBytes_ % frameBytes;
        file_.flush();
        file_.resize(qint64(headerBytes() + dataBytes_));
    }
    if (!writeHeader())
        ok_ = false;
    file_.close();
    return ok_;
}
