#pragma once

#include <QJsonObject>
#include <QObject>

// An object that stores itself into a JSON object and restores itself from
// one. Roots own a file (SerializableRoot); plain nodes live inside a root's
// file. Used on whichever thread owns the object; it does no locking.
class SerializableNode : public QObject
{
    Q_OBJECT

public:
    explicit SerializableNode(QObject* parent = nullptr) : QObject(parent) {}

    // Restores the object from json. Keys that are missing or of an
    // unexpected type leave the matching values as they were.
    virtual void read(const QJsonObject& json) = 0;
    virtual void write(QJsonObject& json) const = 0;

    // Whether a reader may write one more warning about what it skips. While
    // a root loads its file only the first readWarningLimit are written (a
    // damaged or hostile file could otherwise write millions); the root
    // then reports how many more there were. Always true outside a load.
    static constexpr int readWarningLimit = 100;
    static bool mayWarnWhileReading();
};
