#pragma once

#include <QFile>
#include <QString>
#include <cstdint>

// Writes interleaved float audio to a RIFF/WAVE file, as 16-bit PCM or as
// 32-bit IEEE float. The sizes in the header are filled in by close().
//
// Not for the audio thread: it writes to disk. One thread at a time.
class WavWriter
{
public:
    enum class Format
    {
        Pcm16,
        Float32
    };

    WavWriter() = default;
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;
    ~WavWriter();

    // Creates or truncates the file and writes a provisional header.
    bool open(const QString& path, int sampleRate, int channels, Format format);
    // Samples outside -1..1 are clipped in 16-bit files, kept in float ones.
    bool write(const float* interleaved, int frames);
    // Writes the final sizes and closes; true when every write succeeded.
    bool close();

    QString errorString() const { return file_.errorString(); }
    // The largest absolute sample written so far, before any clipping.
    float peak() const { return peak_; }

private:
    bool writeHeader();
    std::uint64_t headerBytes() const { return format_ == Format::Float32 ? 58 : 44; }

    QFile file_;
    QByteArray encoded_;
    Format format_ = Format::Pcm16;
    int sampleRate_ = 0;
    int channels_ = 0;
    std::uint64_t dataBytes_ = 0;
    float peak_ = 0.0f;
    bool ok_ = false;
};
