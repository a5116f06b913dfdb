#include "RfidMap.h"

#include "JsonNumbers.h"
#include "LatticePath.h"
// The event record lives with the player for now; it is a plain value type
// and the map needs nothing else from the player.
#include "LatticeEvent.h"
#include "LatticeNoteEvent.h"

#include <QDebug>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

void logMapped(const QString& key, int kind, const QString& value)
{
    if (SerializableNode::mayWarnWhileReading())
        qWarning().noquote() << QStringLiteral("RFID %1 mapped to: event %2, value %3")
                                    .arg(key, QString::number(kind), value);
}

} // namespace

RfidMap::RfidMap(QObject* parent) : SerializableRoot(parent)
{
    // The map is the user's own file: the program only ever reads it, or
    // creates it empty when it is missing.
    autoSave = false;
}

RfidMap::~RfidMap() = default;

bool RfidMap::init()
{
    autoSave = false;
    return SerializableRoot::init(QStringLiteral("rfid_map.json"));
}

const LatticeEvent* RfidMap::lookup(const QString& rfid) const
{
    return events.value(rfid.toLower()).get();
}

QStringList RfidMap::tags() const
{
    QStringList keys = events.keys();
    keys.sort();
    return keys;
}

void RfidMap::read(const QJsonObject& json)
{
    events.clear();
    // QJsonObject iterates in sorted name order.
    for (auto member = json.begin(); member != json.end(); ++member)
        readEntry(member.key().toLower().left(keyLength), member.value().toObject());
}

void RfidMap::readEntry(const QString& key, const QJsonObject& entry)
{
    const QJsonValue kind = entry.value(QLatin1String("event"));
    const QJsonValue payload = entry.value(QLatin1String("value"));
    const QString text = payload.toString();

    // A path always makes a note event: a held note's start or stop when
    // "event" says NoteOn or NoteOff, otherwise a toggle.
    if (payload.isString() && text.startsWith('/')) {
        const LatticePath path(text);
        if (!path.isValid()) {
            if (SerializableNode::mayWarnWhileReading())
                qWarning().noquote()
                    << QStringLiteral("RFID %1 was assigned invalid path %2. Ignoring.")
                           .arg(key, text);
            return;
        }
        const int noteKind = jsonInt(kind);
        auto event = std::make_shared<const LatticeNoteEvent>(
            noteKind == LatticeEvent::NoteOn || noteKind == LatticeEvent::NoteOff
                ? noteKind
                : int(LatticeEvent::NoteToggle),
            path);
        logMapped(key, event->type(), path.toString());
        events.insert(key, std::move(event));
        return;
    }

    // Any other payload is a number, or 0 when it is not one.
    auto event = std::make_shared<const LatticeEvent>(jsonInt(kind), jsonFloat(payload));
    logMapped(key, event->type(), QString::number(double(event->value()), 'g', 6));
    events.insert(key, std::move(event));
}

void RfidMap::write(QJsonObject& json) const
{
    for (auto entry = events.cbegin(); entry != events.cend(); ++entry) {
        const LatticeEvent* event = entry.value().get();
        QJsonObject object;
        object.insert(QLatin1String("event"), event->type());
        if (auto note = dynamic_cast<const LatticeNoteEvent*>(event))
            object.insert(QLatin1String("value"), note->path().toString());
        else
            object.insert(QLatin1String("value"), double(event->value()));
        json.insert(entry.key(), object);
    }
}
