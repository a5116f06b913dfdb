#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>

// Writes path, making its folder; true when all of contents went in.
inline bool putFile(const QString& path, const QByteArray& contents = QByteArray())
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

// Empty when missing or unreadable.
inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
