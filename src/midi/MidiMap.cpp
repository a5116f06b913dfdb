#include "MidiMap.h"

#include "JsonNumbers.h"
#include "LatticeEvent.h"
#include "LatticeNoteEvent.h"
#include "LatticePath.h"
#include "QuotedText.h"
#include "ScalaLattice.h"

#include <QDebug>
#include <QJsonValue>
#include <QList>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <limits>

namespace {

// Member names are one of these, a space and the number; the index matches
// the map's tables in read() and write().
enum MemberKind
{
    NoteMember,
    ControllerMember,
    ProgramMember,
};
const char* const memberKinds[] = {"note", "cc", "program"};

// The default scale from 1/1 up.
const LatticeRatio justScale[] = {
    {1, 1},   {16, 15}, {9, 8}, {6, 5}, {5, 4}, {4, 3},
    {45, 32}, {3, 2},   {8, 5}, {5, 3}, {9, 5}, {15, 8},
};
constexpr int scaleSize = int(std::size(justScale));

QString memberName(int kind, int number)
{
    return QLatin1String(memberKinds[kind]) + ' ' + QString::number(number);
}

// The table index and number of a member named as write() names them, or -1
// for the index. "note 060" or "note +60" would be a second name for
// "note 60", and of two members for one key only one could win.
int parseMemberName(const QString& name, int& number)
{
    const int space = name.indexOf(' ');
    const QString digits = name.mid(space + 1);
    bool ok = false;
    number = digits.toInt(&ok);
    if (space < 0 || !ok || number < 0 || number >= MidiMap::keyCount ||
        digits != QString::number(number))
        return -1;
    for (int kind = 0; kind < int(std::size(memberKinds)); ++kind)
        if (name.leftRef(space) == QLatin1String(memberKinds[kind]))
            return kind;
    return -1;
}

// LatticePath parses "" and "3" too, and drops the steps beyond the sixth
// without a word.
bool isWholePath(const QString& text, const LatticePath& path)
{
    return text.startsWith('/') && path.isValid() &&
           text.split('/', Qt::SkipEmptyParts).size() <= LatticePath::maxSteps;
}

// The event an entry names, or null with the reason in `problem`. A missing
// value is 0: kinds such as AllNotesOff need none.
std::shared_ptr<const LatticeEvent> readEntry(const QJsonValue& entry, bool isNote,
                                              QString& problem)
{
    const QJsonValue kind = entry.toObject().value(QLatin1String("event"));
    const QJsonValue value = entry.toObject().value(QLatin1String("value"));
    if (!entry.isObject()) {
        problem = QStringLiteral("it is not an object");
    } else if (!kind.isDouble()) {
        problem = QStringLiteral("it has no event number");
    } else if (value.isString()) {
        // A path always makes a held note, whatever "event" says.
        const QString text = value.toString();
        const LatticePath path(text);
        if (isNote && isWholePath(text, path))
            return std::make_shared<const LatticeNoteEvent>(LatticeEvent::NoteOn, path);
        problem = isNote ? QStringLiteral("%1 is not a lattice path of at most %2 steps")
                               .arg(quotedText(text), QString::number(LatticePath::maxSteps))
                         : QStringLiteral("only a key can play a path");
    } else if (!value.isDouble() && !value.isUndefined()) {
        problem = QStringLiteral("its value is neither a number nor a path");
    } else if (jsonInt(kind) < 0 || jsonInt(kind) > LatticeEvent::PatchSelect) {
        problem = QStringLiteral("event %1 is not one the player knows")
                      .arg(QString::number(jsonInt(kind)));
    } else {
        return std::make_shared<const LatticeEvent>(jsonInt(kind), jsonFloat(value));
    }
    return nullptr;
}

QJsonObject entryObject(int kind, const QJsonValue& value)
{
    QJsonObject object;
    object.insert(QLatin1String("event"), kind);
    object.insert(QLatin1String("value"), value);
    return object;
}

// Key `key` of the default map: its degree moved by whole octaves, on the
// path a scale's degree gets (octave steps first, so that 16/15 an octave
// down is "/-3/-5"). The invalid path when the steps do not fit in a path.
LatticePath defaultKeyPath(int key)
{
    const int fromRoot = key - MidiMap::defaultRootKey;
    const int degree = (fromRoot % scaleSize + scaleSize) % scaleSize;
    const int octaves = (fromRoot - degree) / scaleSize;
    const LatticeRatio octave = octaves >= 0 ? LatticeRatio(std::uint64_t(1) << octaves)
                                             : LatticeRatio(1, std::uint64_t(1) << -octaves);
    return pathForRatio(justScale[degree] * octave).value_or(LatticePath::invalid());
}

template <class Table> const LatticeEvent* eventAt(const Table& table, int number)
{
    return number >= 0 && number < MidiMap::keyCount ? table[std::size_t(number)].get() : nullptr;
}

} // namespace

MidiMap::MidiMap(QObject* parent) : SerializableRoot(parent)
{
    // The map is the user's own file: the program only ever reads it, or
    // writes the default map when it is missing.
    autoSave = false;
}

MidiMap::~MidiMap() = default;

bool MidiMap::init()
{
    autoSave = false;
    return SerializableRoot::init(QStringLiteral("midi_map.json"));
}

const LatticeEvent* MidiMap::noteEvent(int number) const
{
    return eventAt(notes_, number);
}

const LatticeEvent* MidiMap::controllerEvent(int number) const
{
    return eventAt(controllers_, number);
}

const LatticeEvent* MidiMap::programEvent(int number) const
{
    return eventAt(programs_, number);
}

bool MidiMap::isLevelKind(int kind)
{
    return kind == LatticeEvent::VoiceVolumeSet || kind == LatticeEvent::MasterVolumeSet ||
           (kind >= LatticeEvent::Macro1 && kind <= LatticeEvent::Macro8);
}

QJsonObject MidiMap::defaultMap()
{
    QJsonObject json;
    for (int key = 0; key < keyCount; ++key) {
        const LatticePath path = defaultKeyPath(key);
        if (path.isValid())
            json.insert(memberName(NoteMember, key),
                        entryObject(LatticeEvent::NoteOn, path.toString()));
    }
    for (int macro = 0; macro < 8; ++macro)
        json.insert(memberName(ControllerMember, macro + 1),
                    entryObject(LatticeEvent::Macro1 + macro, 0));
    json.insert(memberName(ControllerMember, 11), entryObject(LatticeEvent::VoiceVolumeSet, 0));
    for (int program = 0; program < keyCount; ++program)
        json.insert(memberName(ProgramMember, program),
                    entryObject(LatticeEvent::PatchSelect, program));
    return json;
}

void MidiMap::setDefaults()
{
    read(defaultMap());
}

void MidiMap::read(const QJsonObject& json)
{
    Table* const tables[] = {&notes_, &controllers_, &programs_};
    for (Table* table : tables)
        table->fill(nullptr);
    for (auto member = json.begin(); member != json.end(); ++member) {
        int number = 0;
        const int kind = parseMemberName(member.key(), number);
        QString problem = QStringLiteral("its name is not \"note\", \"cc\" or \"program\", a "
                                         "space and a number from 0 to 127");
        auto event = kind < 0 ? nullptr : readEntry(member.value(), kind == NoteMember, problem);
        if (event)
            (*tables[kind])[std::size_t(number)] = std::move(event);
        else if (SerializableNode::mayWarnWhileReading())
            qWarning().noquote() << QStringLiteral("Skipped MIDI map member %1: %2.")
                                        .arg(quotedText(member.key()), problem);
    }
}

void MidiMap::write(QJsonObject& json) const
{
    const Table* const tables[] = {&notes_, &controllers_, &programs_};
    for (int kind = 0; kind < int(std::size(tables)); ++kind) {
        for (int number = 0; number < keyCount; ++number) {
            const LatticeEvent* event = eventAt(*tables[kind], number);
            if (!event)
                continue;
            auto note = dynamic_cast<const LatticeNoteEvent*>(event);
            json.insert(memberName(kind, number),
                        entryObject(event->type(), note ? QJsonValue(note->path().toString())
                                                        : QJsonValue(double(event->value()))));
        }
    }
}
