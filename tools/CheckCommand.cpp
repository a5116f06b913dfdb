// lattice-tool check: reads options.json, lattice.json or rfid_map.json with
// the instrument's own readers and says what the instrument would make of
// it: the values in force, the balls and colours, the tags, and every entry
// it would skip or bend.

#include "ToolCommands.h"

#include "Lattice.h"
#include "LatticeBall.h"
#include "LatticeEvent.h"
#include "LatticeNoteEvent.h"
#include "RfidMap.h"
#include "Settings.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>

namespace {

enum class FileKind
{
    Options,
    Lattice,
    Rfid
};

// What one file check found: what the instrument would hold, then every
// problem. Any problem means the instrument would not load the file cleanly.
struct CheckReport
{
    QStringList lines;
    QStringList problems;

    void say(const QString& line) { lines.append(line); }
    void problem(const QString& kind, const QString& line)
    {
        problems.append(kind + QStringLiteral(": ") + line);
    }
};

std::optional<FileKind> kindFromName(const QString& name)
{
    if (name == QLatin1String("options"))
        return FileKind::Options;
    if (name == QLatin1String("lattice"))
        return FileKind::Lattice;
    if (name == QLatin1String("rfid"))
        return FileKind::Rfid;
    return std::nullopt;
}

std::optional<FileKind> kindFromFileName(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    if (name == QLatin1String("options.json"))
        return FileKind::Options;
    if (name == QLatin1String("lattice.json"))
        return FileKind::Lattice;
    if (name == QLatin1String("rfid_map.json"))
        return FileKind::Rfid;
    return std::nullopt;
}

QString kindTitle(FileKind kind)
{
    switch (kind) {
    case FileKind::Options:
        return QStringLiteral("options");
    case FileKind::Lattice:
        return QStringLiteral("lattice");
    case FileKind::Rfid:
        return QStringLiteral("RFID map");
    }
    return QString();
}

// What the instrument does when the file cannot be used at all.
QString failureConsequence(FileKind kind)
{
    switch (kind) {
    case FileKind::Options:
        return QStringLiteral("the instrument would say so and run with the default options");
    case FileKind::Lattice:
        return QStringLiteral("the instrument would not start");
    case FileKind::Rfid:
        return QStringLiteral("the controller would stay off");
    }
    return QString();
}

// The model's readers report what they skip as warning records; they are
// collected here instead of reaching stderr. Debug records are traces and
// dropped.
QStringList* collectedRecords = nullptr;

void collectRecord(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (collectedRecords && type != QtDebugMsg)
        collectedRecords->append(text);
}

QStringList recordsOf(const std::function<void()>& action)
{
    QStringList records;
    collectedRecords = &records;
    const QtMessageHandler previous = qInstallMessageHandler(collectRecord);
    action();
    qInstallMessageHandler(previous);
    collectedRecords = nullptr;
    return records;
}

// The text a value has in the file, as JSON.
QString jsonText(const QJsonValue& value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QString typeName(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("true/false");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

// Reads and parses the file as SerializableRoot::load() would, without its
// side effects (an unparsable file is not copied aside here). A top level
// that is not an object reads as an empty object, as in the instrument.
std::optional<QJsonObject> readDocument(const QString& path, FileKind kind, CheckReport& report)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        report.problem(QStringLiteral("error"),
                       QStringLiteral("cannot open the file: %1").arg(file.errorString()));
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (document.isNull()) {
        report.problem(
            QStringLiteral("error"),
            QStringLiteral("cannot parse the file at offset %1: %2; %3")
                .arg(QString::number(error.offset), error.errorString(), failureConsequence(kind)));
        return std::nullopt;
    }
    if (!document.isObject())
        report.problem(QStringLiteral("skipped"),
                       QStringLiteral("the top level is an array, not an object; it reads as "
                                      "empty"));
    return document.object();
}

// Options.

bool isPairKey(const QString& key)
{
    return key == QLatin1String("windowSize") || key == QLatin1String("windowPos");
}

void checkOptions(const QJsonObject& file, CheckReport& report)
{
    Settings settings;
    QJsonObject defaults;
    settings.write(defaults);
    const QStringList records = recordsOf([&] { settings.read(file); });
    QJsonObject inForce;
    settings.write(inForce);

    QSet<QString> taken;
    for (auto member = file.begin(); member != file.end(); ++member) {
        const QString& key = member.key();
        const QJsonValue expected = defaults.value(key);
        if (expected.isUndefined()) {
            report.problem(QStringLiteral("skipped"),
                           QStringLiteral("\"%1\" is not an option; it is ignored").arg(key));
        } else if (member.value().type() != expected.type()) {
            report.problem(
                QStringLiteral("skipped"),
                QStringLiteral("\"%1\" is %2, not %3; the default %4 stays")
                    .arg(key, typeName(member.value()), typeName(expected), jsonText(expected)));
        } else if (isPairKey(key) && member.value().toString().split(',').size() < 2) {
            report.problem(QStringLiteral("skipped"),
                           QStringLiteral("\"%1\" needs two numbers separated by a comma; the "
                                          "default %2 stays")
                               .arg(key, jsonText(expected)));
        } else {
            taken.insert(key);
        }
    }
    for (const QString& record : records)
        report.problem(QStringLiteral("warning"), record);

    for (auto option = inForce.begin(); option != inForce.end(); ++option)
        report.say(
            QStringLiteral("%1 = %2%3")
                .arg(option.key(), jsonText(option.value()),
                     taken.contains(option.key()) ? QString() : QStringLiteral(" (default)")));
}

// Lattice.

int ballCount(const LatticeBall* ball)
{
    int count = 1;
    for (const LatticeBall* child : ball->children())
        count += ballCount(child);
    return count;
}

void checkLattice(const QJsonObject& file, CheckReport& report)
{
    Lattice lattice;
    const QStringList records = recordsOf([&] { lattice.read(file); });
    for (const QString& record : records)
        report.problem(QStringLiteral("skipped"), record);

    QJsonObject written;
    lattice.write(written);
    report.say(QStringLiteral("%1 ball(s), %2 colour(s)")
                   .arg(ballCount(lattice.root()))
                   .arg(written.value(QStringLiteral("colors")).toArray().size()));
}

// RFID map.

QString kindName(int kind)
{
    static const char* const names[] = {"NoteToggle",       "AllNotesOff",    "Transpose",
                                        "VoiceVolumeStep",  "VoiceVolumeSet", "MasterVolumeStep",
                                        "MasterVolumeSet",  "MonophonicSet",  "PatchStep",
                                        "BaseFrequencySet", "PrimeToggle",    "Macro1",
                                        "Macro2",           "Macro3",         "Macro4",
                                        "Macro5",           "Macro6",         "Macro7",
                                        "Macro8",           "OpenPatch",      "ClosePatch",
                                        "NoteOn",           "NoteOff",        "PatchSelect"};
    if (kind < 0 || kind > LatticeEvent::PatchSelect)
        return QString();
    return QString::fromLatin1(names[kind]);
}

QString describe(const LatticeEvent& event)
{
    if (auto note = dynamic_cast<const LatticeNoteEvent*>(&event))
        return QStringLiteral("NoteToggle %1").arg(note->path().toString());
    // Without a path the player toggles the root ball.
    if (event.type() == LatticeEvent::NoteToggle)
        return QStringLiteral("NoteToggle / (a number, not a path: the root ball)");
    const QString name = kindName(event.type());
    const QString value = QString::number(double(event.value()), 'g', 6);
    return name.isEmpty() ? QStringLiteral("kind %1, value %2").arg(event.type()).arg(value)
                          : QStringLiteral("%1 %2").arg(name, value);
}

bool isPathValue(const QJsonValue& value)
{
    return value.isString() && value.toString().startsWith('/');
}

// The entries the reader takes without a word although it bends them: a
// missing or odd "event" or "value" becomes 0.
void checkEntryTypes(const QString& name, const QJsonValue& entry, CheckReport& report)
{
    if (!entry.isObject()) {
        report.problem(QStringLiteral("warning"),
                       QStringLiteral("\"%1\" is %2, not an object; it maps to kind 0, value 0")
                           .arg(name, typeName(entry)));
        return;
    }
    const QJsonObject object = entry.toObject();
    const QJsonValue value = object.value(QLatin1String("value"));
    if (isPathValue(value))
        return;
    if (!object.value(QLatin1String("event")).isDouble())
        report.problem(QStringLiteral("warning"),
                       QStringLiteral("\"%1\": \"event\" is %2, not a number; kind 0 is used")
                           .arg(name, typeName(object.value(QLatin1String("event")))));
    if (!value.isDouble())
        report.problem(QStringLiteral("warning"),
                       QStringLiteral("\"%1\": \"value\" is %2, neither a number nor a path "
                                      "starting with /; value 0 is used")
                           .arg(name, typeName(value)));
}

// Names that cut to the same tag: the later one in sorted order replaces the
// earlier, unless it is skipped itself for an invalid path.
void checkReplacedEntries(const QJsonObject& file, CheckReport& report)
{
    QHash<QString, QString> storedBy;
    for (auto member = file.begin(); member != file.end(); ++member) {
        const QJsonValue value = member.value().toObject().value(QLatin1String("value"));
        bool invalidPath = false;
        // The path's own debug record about a failed parse is not wanted.
        recordsOf(
            [&] { invalidPath = isPathValue(value) && !LatticePath(value.toString()).isValid(); });
        if (invalidPath)
            continue;
        const QString tag = member.key().left(RfidMap::keyLength).toLower();
        if (storedBy.contains(tag))
            report.problem(QStringLiteral("skipped"),
                           QStringLiteral("\"%1\" is replaced by \"%2\", which gives the same tag "
                                          "%3")
                               .arg(storedBy.value(tag), member.key(), tag));
        storedBy.insert(tag, member.key());
    }
}

void checkRfid(const QJsonObject& file, CheckReport& report)
{
    RfidMap map;
    const QStringList records = recordsOf([&] { map.read(file); });
    for (const QString& record : records)
        if (!record.contains(QLatin1String(" mapped to: ")))
            report.problem(QStringLiteral("skipped"), record);
    for (auto member = file.begin(); member != file.end(); ++member)
        checkEntryTypes(member.key(), member.value(), report);
    checkReplacedEntries(file, report);

    const QStringList tags = map.tags();
    for (const QString& tag : tags) {
        const LatticeEvent* event = map.lookup(tag);
        // One arg() call for text from the file: a tag holding "%1" must not
        // take the next argument's place.
        report.say(tag.leftJustified(RfidMap::keyLength) + QStringLiteral("  ") + describe(*event));
        if (kindName(event->type()).isEmpty())
            report.problem(QStringLiteral("warning"),
                           QStringLiteral("tag %1 has event kind %2, which the player ignores")
                               .arg(tag, QString::number(event->type())));
    }
    report.say(QStringLiteral("%1 tag(s)").arg(tags.size()));
}

int checkFile(const QString& path, FileKind kind)
{
    CheckReport report;
    if (const std::optional<QJsonObject> file = readDocument(path, kind, report)) {
        switch (kind) {
        case FileKind::Options:
            checkOptions(*file, report);
            break;
        case FileKind::Lattice:
            checkLattice(*file, report);
            break;
        case FileKind::Rfid:
            checkRfid(*file, report);
            break;
        }
    }
    std::printf("%s (%s)\n", qPrintable(path), qPrintable(kindTitle(kind)));
    for (const QString& line : report.lines + report.problems)
        std::printf("  %s\n", qPrintable(line));
    if (report.problems.isEmpty())
        std::printf("  loads cleanly\n");
    else
        std::printf("  %lld problem(s)\n", static_cast<long long>(report.problems.size()));
    return report.problems.isEmpty() ? ToolCommands::exitOk : ToolCommands::exitFailed;
}

int runCheck(const QStringList& arguments)
{
    QStringList paths;
    std::optional<FileKind> kind;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--kind")) {
            if (i + 1 == arguments.size())
                return ToolCommands::usageError(QStringLiteral("--kind needs a value"));
            kind = kindFromName(arguments.at(++i));
            if (!kind)
                return ToolCommands::usageError(
                    QStringLiteral("--kind is options, lattice or rfid, not \"%1\"")
                        .arg(arguments.at(i)));
        } else if (argument.startsWith(QLatin1String("--"))) {
            return ToolCommands::usageError(QStringLiteral("unknown option %1").arg(argument));
        } else {
            paths.append(argument);
        }
    }
    if (paths.isEmpty())
        return ToolCommands::usageError(QStringLiteral("check needs at least one FILE"));

    QList<FileKind> kinds;
    for (const QString& path : paths) {
        const std::optional<FileKind> fileKind = kind ? kind : kindFromFileName(path);
        if (!fileKind)
            return ToolCommands::usageError(
                QStringLiteral("cannot tell what %1 holds; name it options.json, lattice.json or "
                               "rfid_map.json, or give --kind")
                    .arg(path));
        kinds.append(*fileKind);
    }

    int status = ToolCommands::exitOk;
    for (int i = 0; i < paths.size(); ++i)
        status = std::max(status, checkFile(paths.at(i), kinds.at(i)));
    return status;
}

const LatticeToolCommand checkCommand{"check", "check FILE... [--kind options|lattice|rfid]",
                                      runCheck};

} // namespace
