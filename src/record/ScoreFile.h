#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>

class PdPlayer;

// The score of a recorded take: JSON lines beside its WAV file. The first
// line is the player's state as the take began, then one line per event the
// player executed, at the frame it took effect, and a last line with the
// take's length:
//
//   {"kind": "start", "sampleRate": 44100, "voice": "Sine", "baseFrequency": 440,
//    "volume": 0.75, "voiceVolume": 1, "mono": false, "transposition": "/3",
//    "primesOff": [7], "macros": [0.1, ...], "sounding": ["/5"], "wav": "....wav"}
//   {"frame": 25600, "time": 0.58, "kind": 21, "value": 1, "path": "/3", "tag": 70}
//   {"kind": "end", "frame": 441000, "time": 10}
//
// An event's kind is the player's event number; "path" is there for notes
// and "tag" (a held key, plus one) when not 0.
struct Score
{
    struct Header
    {
        int sampleRate = 44100;
        QString voice;
        float baseFrequency = 440.0f;
        float volume = 0.75f;
        float voiceVolume = 1.0f;
        bool mono = false;
        QList<int> transposition; // the steps from 1/1
        QList<int> primesOff;
        std::array<float, 8> macros{};
        QStringList sounding; // paths, under the transposition
        QString wav;
    };
    struct Event
    {
        std::int64_t frame = 0;
        int kind = 0;
        float value = 0.0f;
        QString path;
        int tag = 0;
    };

    // A score longer than this is refused as a mistake (a file of days).
    static constexpr std::int64_t maxFrames = std::int64_t(192000) * 3600 * 4;
    static constexpr int maxEvents = 10'000'000;

    Header header;
    QList<Event> events;
    std::int64_t endFrame = 0;

    static QByteArray headerLine(const Header& header);
    static QByteArray eventLine(const Event& event, int sampleRate);
    static QByteArray endLine(std::int64_t frame, int sampleRate);

    // Reads a whole score; nothing, with the line and why in `why`, when it
    // is not one (events out of order, a path that is no path, no end line).
    static std::optional<Score> read(const QByteArray& text, QString* why = nullptr);

    // Sets the player as the take began (GUI buffer, before the first block).
    void queueStart(PdPlayer& player) const;
    // The event as the player first executed it.
    static void queue(const Event& event, PdPlayer& player);
};
