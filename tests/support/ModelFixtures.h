#pragma once

#include "LatticeNoteEvent.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

// Set-up shared by the tests of the files the program keeps.
namespace Fixtures {

inline QString dataPath(const QString& name = QString())
{
    return QStandardPaths::writableLocation(QStandardPaths::DataLocation) + '/' + name;
}

// Moves the data folder into home, so that no case sees a real user's files
// or another case's.
inline bool useDataFolderIn(const QTemporaryDir& home)
{
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    QCoreApplication::setApplicationName(QStringLiteral("Elsted Tuning Lattice"));
    return home.isValid() && dataPath().startsWith(home.path() + '/') && QDir().mkpath(dataPath());
}

inline bool writeData(const QString& name, const QByteArray& text)
{
    QFile file(dataPath(name));
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

inline QByteArray readData(const QString& name)
{
    QFile file(dataPath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// An event as "kind value [path]"; empty for none.
inline QString describe(const LatticeEvent* event)
{
    auto note = dynamic_cast<const LatticeNoteEvent*>(event);
    const QString path = note ? ' ' + note->path().toString() : QString();
    return event ? QString("%1 %2").arg(event->type()).arg(double(event->value())) + path
                 : QString();
}

} // namespace Fixtures
