#pragma once

#include <QByteArray>
#include <lo/lo.h>

// OSC packets made with liblo's own client API, as a surface would send them.
namespace OscPackets {

inline QByteArray bytesOf(void* data, std::size_t size)
{
    QByteArray bytes(static_cast<const char*>(data), int(size));
    free(data);
    return bytes;
}

// A message to `path`; `build` adds its arguments.
template <typename Build> QByteArray message(const char* path, Build build)
{
    lo_message message = lo_message_new();
    build(message);
    std::size_t size = 0;
    void* data = lo_message_serialise(message, path, nullptr, &size);
    lo_message_free(message);
    return bytesOf(data, size);
}

inline QByteArray message(const char* path)
{
    return message(path, [](lo_message) {});
}

// A bundle (with an immediate time tag) holding `packets`, each a message or
// a bundle already serialised.
inline QByteArray bundle(std::initializer_list<QByteArray> packets)
{
    QByteArray bytes("#bundle", 8);
    bytes.append(QByteArray("\0\0\0\0\0\0\0\1", 8));
    for (const QByteArray& packet : packets) {
        const quint32 size = quint32(packet.size());
        const char sizeBytes[4] = {char(size >> 24), char(size >> 16), char(size >> 8), char(size)};
        bytes.append(sizeBytes, 4).append(packet);
    }
    return bytes;
}

} // namespace OscPackets
