#pragma once

#include "LatticeRatio.h"

#include <QMetaMethod>
#include <QSignalSpy>
#include <QStringList>
#include <memory>
#include <vector>

// Spies on every signal an object declares (not QObject's own) and prints
// the emissions as text such as "transposed(3/2,3)", so that a test compares
// all emissions of a step at once. The spies connect directly.
class SignalLog
{
public:
    explicit SignalLog(const QObject* object)
    {
        const QMetaObject* meta = object->metaObject();
        for (int i = QObject::staticMetaObject.methodCount(); i < meta->methodCount(); ++i) {
            const QMetaMethod method = meta->method(i);
            if (method.methodType() == QMetaMethod::Signal)
                spies_.emplace_back(method.name(), std::make_unique<QSignalSpy>(object, method));
        }
    }

    // Every emission since the last take(), by signal in declaration order; clears the spies.
    QStringList take()
    {
        QStringList emitted;
        for (auto& [name, spy] : spies_) {
            for (const QList<QVariant>& arguments : *spy) {
                QStringList texts;
                for (const QVariant& argument : arguments)
                    texts.append(text(argument));
                emitted.append(QString::fromLatin1(name) + '(' + texts.join(',') + ')');
            }
            spy->clear();
        }
        return emitted;
    }

private:
    static QString text(const QVariant& value)
    {
        const int type = value.userType();
        if (type == qMetaTypeId<LatticeRatio>())
            return value.value<LatticeRatio>().toString();
        if (type == qMetaTypeId<QList<float>>()) {
            QStringList numbers;
            for (float number : value.value<QList<float>>())
                numbers.append(QString::number(double(number)));
            return '[' + numbers.join(' ') + ']';
        }
        if (type == QMetaType::QStringList)
            return '[' + value.toStringList().join('|') + ']';
        if (type == QMetaType::Float || type == QMetaType::Int)
            return QString::number(value.toDouble());
        return value.toString(); // bool gives "true" or "false"
    }

    std::vector<std::pair<QByteArray, std::unique_ptr<QSignalSpy>>> spies_;
};
