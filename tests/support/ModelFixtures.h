#pragma once

#include "LatticeNoteEvent.h"
#include "TestFiles.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTemporaryDir>

// Set-up shared by the tests of the files the program keeps.
namespace Fixtures {

inline QString dataPath(const QString& name = QString())
{
    return QStandardPaths::writableLocation(QStandardPaths::DataLocation) + '/' + name;
}

// Moves the data folder into home: no case sees a real user's files or another's.
inline bool useDataFolderIn(const QTemporaryDir& home)
{
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    QCoreApplication::setApplicationName(QStringLiteral("Elsted Tuning Lattice"));
    return home.isValid() && dataPath().startsWith(home.path() + '/') && QDir().mkpath(dataPath());
}

inline bool writeData(const QString& name, const QByteArray& text)
{
    return putFile(dataPath(name), text);
}

inline QByteArray readData(const QString& name)
{
    return readFile(dataPath(name));
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
