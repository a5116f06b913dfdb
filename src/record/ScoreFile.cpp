#include "ScoreFile.h"

#include "JsonNumbers.h"
#include "LatticeEvent.h"
#include "LatticePath.h"
#include "PdMessageBuffer.h"
#include "PdPlayer.h"
#include "TranspositionDrift.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace {

QByteArray line(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

bool isEventKind(int kind)
{
    return kind >= LatticeEvent::NoteToggle && kind <= LatticeEvent::PatchSelect;
}

bool isNoteKind(int kind)
{
    return kind == LatticeEvent::NoteToggle || kind == LatticeEvent::NoteOn ||
           kind == LatticeEvent::NoteOff;
}

void queueEvent(PdPlayer& player, int kind, float value)
{
    const LatticeEvent event(kind, value);
    player.queueEventGui(&event);
}

} // namespace

QByteArray Score::headerLine(const Header& header)
{
    QJsonArray primesOff, macros, sounding;
    for (int prime : header.primesOff)
        primesOff.append(prime);
    for (float macro : header.macros)
        macros.append(double(macro));
    for (const QString& path : header.sounding)
        sounding.append(path);
    return line({{"kind", "start"},
                 {"sampleRate", header.sampleRate},
                 {"voice", header.voice},
                 {"baseFrequency", double(header.baseFrequency)},
                 {"volume", double(header.volume)},
                 {"voiceVolume", double(header.voiceVolume)},
                 {"mono", header.mono},
                 {"transposition", TranspositionDrift::stepsText(header.transposition)},
                 {"primesOff", primesOff},
                 {"macros", macros},
                 {"sounding", sounding},
                 {"wav", header.wav}});
}

QByteArray Score::eventLine(const Event& event, int sampleRate)
{
    QJsonObject object{{"frame", double(event.frame)},
                       {"time", double(event.frame) / sampleRate},
                       {"kind", event.kind},
                       {"value", double(event.value)}};
    if (!event.path.isEmpty())
        object.insert("path", event.path);
    if (event.tag)
        object.insert("tag", event.tag);
    return line(object);
}

QByteArray Score::endLine(std::int64_t frame, int sampleRate)
{
    return line({{"kind", "end"}, {"frame", double(frame)}, {"time", double(frame) / sampleRate}});
}

std::optional<Score> Score::read(const QByteArray& text, QString* why)
{
    Score score;
    int number = 0;
    bool started = false, ended = false;
    const auto refuse = [&](const QString& reason) -> std::optional<Score> {
        if (why)
            *why = QStringLiteral("line %1: %2").arg(number).arg(reason);
        return std::nullopt;
    };
    // A frame: a whole number, at least the one before and within bounds.
    const auto frameOf = [&](const QJsonValue& value, std::int64_t& frame) {
        const double x = value.toDouble(-1.0);
        if (!value.isDouble() || x != std::floor(x) || x < 0 || x > double(maxFrames))
            return false;
        frame = std::int64_t(x);
        return true;
    };
    for (const QByteArray& raw : text.split('\n')) {
        ++number;
        if (raw.trimmed().isEmpty())
            continue;
        if (ended)
            return refuse(QStringLiteral("something after the end"));
        QJsonParseError error{};
        const QJsonObject object = QJsonDocument::fromJson(raw, &error).object();
        if (error.error != QJsonParseError::NoError || object.isEmpty())
            return refuse(QStringLiteral("not a JSON object"));
        const QJsonValue kind = object.value("kind");
        if (!started) {
            Header& header = score.header;
            header.sampleRate = jsonInt(object.value("sampleRate"));
            if (kind.toString() != QLatin1String("start") || header.sampleRate < 8000 ||
                header.sampleRate > 192000)
                return refuse(QStringLiteral("the first line must start the take at a rate "
                                             "from 8000 to 192000"));
            header.voice = object.value("voice").toString();
            header.baseFrequency = jsonFloat(object.value("baseFrequency"));
            header.volume = jsonFloat(object.value("volume"));
            header.voiceVolume = jsonFloat(object.value("voiceVolume"));
            header.mono = object.value("mono").toBool();
            const auto transposition =
                TranspositionDrift::readSteps(object.value("transposition").toString());
            if (!transposition || transposition->size() > 1000)
                return refuse(QStringLiteral("the transposition is not a list of steps"));
            header.transposition = *transposition;
            for (const QJsonValue& prime : object.value("primesOff").toArray())
                header.primesOff.append(jsonInt(prime));
            const QJsonArray macros = object.value("macros").toArray();
            for (int i = 0; i < 8 && i < macros.size(); ++i)
                header.macros[std::size_t(i)] = jsonFloat(macros.at(i));
            for (const QJsonValue& path : object.value("sounding").toArray()) {
                if (!LatticePath(path.toString()).isValid())
                    return refuse(QStringLiteral("a sounding note is not a path"));
                header.sounding.append(path.toString());
            }
            header.wav = object.value("wav").toString();
            started = true;
            continue;
        }
        std::int64_t frame = 0;
        if (!frameOf(object.value("frame"), frame))
            return refuse(QStringLiteral("no frame, or not a whole number of them"));
        const std::int64_t last = score.events.isEmpty() ? 0 : score.events.last().frame;
        if (frame < last)
            return refuse(QStringLiteral("frames go backwards"));
        if (kind.toString() == QLatin1String("end")) {
            score.endFrame = frame;
            ended = true;
            continue;
        }
        Event event;
        event.frame = frame;
        event.kind = jsonInt(kind);
        event.value = jsonFloat(object.value("value"));
        event.path = object.value("path").toString();
        event.tag = jsonInt(object.value("tag"));
        if (!kind.isDouble() || !isEventKind(event.kind))
            return refuse(QStringLiteral("not an event kind"));
        if (isNoteKind(event.kind) && !LatticePath(event.path).isValid())
            return refuse(QStringLiteral("a note without a path"));
        if (event.tag < 0 || event.tag > 128)
            return refuse(QStringLiteral("a key tag beyond the keys"));
        if (score.events.size() >= maxEvents)
            return refuse(QStringLiteral("more events than a score may hold"));
        score.events.append(event);
    }
    if (!started)
        return refuse(QStringLiteral("no start line"));
    if (!ended)
        return refuse(QStringLiteral("no end line: the take did not finish"));
    return score;
}

void Score::queueStart(PdPlayer& player) const
{
    queueEvent(player, LatticeEvent::BaseFrequencySet, header.baseFrequency);
    queueEvent(player, LatticeEvent::MasterVolumeSet, header.volume);
    queueEvent(player, LatticeEvent::VoiceVolumeSet, header.voiceVolume);
    queueEvent(player, LatticeEvent::MonophonicSet, header.mono ? 1.0f : 0.0f);
    for (int i = 0; i < 8; ++i)
        queueEvent(player, LatticeEvent::Macro1 + i, header.macros[std::size_t(i)]);
    for (int prime : header.primesOff)
        queueEvent(player, LatticeEvent::PrimeToggle, float(prime));
    for (int step : header.transposition)
        queueEvent(player, LatticeEvent::Transpose, float(step));
    for (const QString& path : header.sounding)
        queue({0, LatticeEvent::NoteOn, 1.0f, path, 0}, player);
}

void Score::queue(const Event& event, PdPlayer& player)
{
    // A patch is the render's to choose; the handshake is the window's.
    if (event.kind == LatticeEvent::OpenPatch || event.kind == LatticeEvent::ClosePatch ||
        event.kind == LatticeEvent::PatchStep || event.kind == LatticeEvent::PatchSelect)
        return;
    PdMessageBuffer::Chunk chunk{};
    chunk.type = event.kind;
    chunk.value = event.value;
    if (isNoteKind(event.kind))
        chunk.path = LatticePath(event.path).bytes();
    chunk.tag = std::uint8_t(event.tag);
    player.queueChunkGui(chunk);
}
