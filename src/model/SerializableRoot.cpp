#include "SerializableRoot.h"

#include "QuotedText.h"

#include <QDebug>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

// Writes text to path through a temporary file beside it that is renamed over
// path only when every byte has been written; the previous file survives any
// failure untouched. The explicit flush matters: QSaveFile::commit() in Qt
// 5.15 does not notice a failure to flush its buffer (a full disk) and would
// rename the truncated file into place.
bool writeAtomically(const QString& path, const QByteArray& text)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // An unfinished QSaveFile discards its temporary file when destroyed.
    return file.write(text) == text.size() && file.flush() && file.commit();
}

// Warnings still allowed while this thread loads a file; -1 outside a load.
thread_local int readWarningsLeft = -1;
thread_local int readWarningsHeld = 0;

} // namespace

bool SerializableNode::mayWarnWhileReading()
{
    if (readWarningsLeft < 0)
        return true;
    if (readWarningsLeft == 0) {
        ++readWarningsHeld;
        return false;
    }
    --readWarningsLeft;
    return true;
}

void SerializableRoot::saveIfAutoSave()
{
    if (autoSave)
        save();
}

bool SerializableRoot::init(const QString& fileName)
{
    filePath = QStandardPaths::writableLocation(QStandardPaths::DataLocation) + '/' + fileName;
    if (!QFile::exists(filePath)) {
        setDefaults();
        return save();
    }
    return load();
}

bool SerializableRoot::save() const
{
    QJsonObject json;
    write(json);
    if (!writeAtomically(filePath, QJsonDocument(json).toJson())) {
        qCritical().noquote() << QStringLiteral("Couldn't open file %1 for saving.").arg(filePath);
        return false;
    }
    return true;
}

bool SerializableRoot::load()
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        qCritical().noquote() << QStringLiteral("Couldn't open file %1 for loading.").arg(filePath);
        return false;
    }
    if (file.size() > maxFileBytes) {
        qCritical().noquote() << QStringLiteral("File %1 is %2 bytes long, more than the %3 MiB "
                                                "a data file may hold. It was not read.")
                                     .arg(filePath, QString::number(file.size()),
                                          QString::number(maxFileBytes / (1024 * 1024)));
        return false;
    }
    const QByteArray text = file.readAll();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (document.isNull()) {
        qCritical().noquote() << QStringLiteral("Couldn't parse file %1. JSON error: %2")
                                     .arg(filePath, error.errorString());
        keepUnparsableCopy(text);
        return false;
    }
    readWarningsLeft = readWarningLimit;
    readWarningsHeld = 0;
    read(document.object());
    readWarningsLeft = -1;
    if (readWarningsHeld > 0)
        qWarning().noquote() << QStringLiteral("%1 more warning(s) about %2 were not written.")
                                    .arg(QString::number(readWarningsHeld), filePath);
    return true;
}

// The caller goes on with defaults and writes them over the file at the next
// save, so a user's hand edits would be lost without this copy. A newer
// failure replaces an older copy.
void SerializableRoot::keepUnparsableCopy(const QByteArray& text) const
{
    const QString copyPath = filePath + QStringLiteral(".bad");
    if (writeAtomically(copyPath, text))
        qWarning().noquote() << "Kept a copy of the unreadable file as" << quotedText(copyPath);
    else
        qWarning().noquote() << "Couldn't keep a copy of the unreadable file as"
                             << quotedText(copyPath);
}
