#pragma once

#include <QFile>
#include <QtEndian>
#include <optional>
#include <vector>

// The samples of a stereo 32-bit float WAV as the recorder and the render
// tool write it (58-byte header with a "fact" chunk), or nothing when the
// file is not one or its sizes disagree with its length.
inline std::optional<std::vector<float>> readFloatWav(const QString& path,
                                                      int* sampleRate = nullptr)
{
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(bytes.constData() + at); };
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(bytes.constData() + at); };
    constexpr int header = 58;
    if (bytes.size() < header || !bytes.startsWith("RIFF") || bytes.mid(8, 8) != "WAVEfmt " ||
        u32(4) != quint32(bytes.size() - 8) || u16(20) != 3 || u16(22) != 2 || u16(34) != 32 ||
        bytes.mid(50, 4) != "data" || u32(54) != quint32(bytes.size() - header) ||
        u32(46) != u32(54) / 8)
        return std::nullopt;
    if (sampleRate)
        *sampleRate = int(u32(24));
    std::vector<float> samples(std::size_t(bytes.size() - header) / 4);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = qFromLittleEndian<float>(bytes.constData() + header + 4 * i);
    return samples;
}
