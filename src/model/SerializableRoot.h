#pragma once

#include "SerializableNode.h"

#include <QByteArray>
#include <QString>

// A node that owns one JSON file in the per-user data folder: it creates the
// file with defaults when it is missing, loads it, and saves it.
//
// Saving is atomic: the text goes to a temporary file beside the target,
// which replaces the target only once everything has been written, so a crash
// or a full disk never leaves a truncated file. A file that does not parse is
// kept beside itself as <name>.bad before anything can overwrite it.
//
// No locking: each root is loaded and saved on the one thread that owns it.
class SerializableRoot : public SerializableNode
{
    Q_OBJECT

public:
    explicit SerializableRoot(QObject* parent = nullptr) : SerializableNode(parent) {}

    // Saves when autoSave is set; a failure is logged by save() and goes no
    // further.
    virtual void saveIfAutoSave();
    // Points filePath at fileName in the data folder, which must exist. A
    // missing file is created from setDefaults(); an existing one is loaded.
    // False when the file cannot be created, read or parsed.
    virtual bool init(const QString& fileName);
    // Called just before a missing file is created.
    virtual void setDefaults() {}

    // On failure logs a critical record and leaves any previous file as it
    // was.
    bool save() const;
    // On failure logs a critical record and returns false without calling
    // read(), so the object keeps the values it had. A top level that is an
    // array reads as an empty object. A file larger than maxFileBytes is
    // refused unread: the program's own files are a few tens of kilobytes,
    // and a huge one would take minutes and gigabytes before any window.
    bool load();
    static constexpr qint64 maxFileBytes = 16 * 1024 * 1024;

    // Absolute path of the file; empty until init().
    QString filePath;
    bool autoSave = true;

private:
    void keepUnparsableCopy(const QByteArray& text) const;
};
