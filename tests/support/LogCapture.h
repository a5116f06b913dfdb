#pragma once

#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

// Collects every log record made while it lives. Thread-safe; one at a time.
class LogCapture
{
public:
    struct Record
    {
        QtMsgType type;
        QString text;
    };

    LogCapture() : previous_(qInstallMessageHandler(&LogCapture::handle)) { current_ = this; }
    ~LogCapture()
    {
        qInstallMessageHandler(previous_);
        current_ = nullptr;
    }

    QList<Record> records() const
    {
        QMutexLocker lock(&mutex_);
        return records_;
    }
    QStringList texts(QtMsgType type) const
    {
        QStringList result;
        for (const Record& record : records())
            if (record.type == type)
                result.append(record.text);
        return result;
    }
    int count(QtMsgType type, const QString& text) const { return texts(type).count(text); }
    void clear()
    {
        QMutexLocker lock(&mutex_);
        records_.clear();
    }

private:
    static inline LogCapture* current_ = nullptr;
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& text)
    {
        if (LogCapture* self = current_) {
            QMutexLocker lock(&self->mutex_);
            self->records_.append({type, text});
        }
    }

    QtMessageHandler previous_;
    mutable QMutex mutex_;
    QList<Record> records_;
};
