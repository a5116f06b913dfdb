#pragma once

#include "SerializableRoot.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <memory>

class LatticeEvent;

// What each RFID tag of the wand's physical lattice does: rfid_map.json maps
// a tag identifier to one event, a note toggle at a lattice path or any other
// event kind with a number.
//
// Keys are the first 10 characters of the tag identifier in lower case, so
// tags match whatever case the wand reports them in. The map owns its events;
// lookup() hands out pointers that stay valid while the map exists.
//
// The program never writes the file back (autoSave is off); a missing file is
// created empty. Created, loaded and used on the UDP listener thread only.
class RfidMap : public SerializableRoot
{
    Q_OBJECT

public:
    static constexpr int keyLength = 10;

    explicit RfidMap(QObject* parent = nullptr);
    ~RfidMap() override;

    using SerializableRoot::init;
    // Loads rfid_map.json from the data folder, or creates it empty when it
    // is missing. False when it cannot be created, opened or parsed.
    bool init();

    // The event stored under rfid in lower case, or null. Not owned by the
    // caller.
    const LatticeEvent* lookup(const QString& rfid) const;
    // Every key, sorted.
    QStringList tags() const;

    // Members are taken in sorted name order, so of two names that become
    // the same key the later one wins. Each stored or skipped entry writes a
    // warning record. Replaces whatever the map held.
    void read(const QJsonObject& json) override;
    void write(QJsonObject& json) const override;

private:
    void readEntry(const QString& key, const QJsonObject& entry);

    QHash<QString, std::shared_ptr<const LatticeEvent>> events;
};
