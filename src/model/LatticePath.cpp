#include "LatticePath.h"

#include "QuotedText.h"

#include <QDebug>
#include <QStringList>

LatticePath::LatticePath(int step)
{
    append(step);
}

LatticePath::LatticePath(const QString& text)
{
    storeFromString(text);
}

LatticePath LatticePath::invalid()
{
    LatticePath path;
    path.bytes_[0] = invalidMarker;
    return path;
}

LatticePath LatticePath::fromBytes(const Bytes& bytes)
{
    LatticePath path;
    path.bytes_ = bytes;
    // Whatever arrives, the last byte terminates.
    path.bytes_[maxSteps] = 0;
    return path;
}

bool LatticePath::storeFromString(const QString& text)
{
    clear();
    const QStringList parts = text.split('/', Qt::SkipEmptyParts);
    int index = 0;
    for (const QString& part : parts) {
        if (index == maxSteps)
            break;
        bool ok = false;
        const int value = part.toInt(&ok, 10);
        if (!ok || !isValidStep(value)) {
            qDebug().noquote() << "Invalid path: " << quotedText(text);
            *this = invalid();
            return false;
        }
        bytes_[static_cast<std::size_t>(index++)] = static_cast<std::int8_t>(value);
    }
    return true;
}

QString LatticePath::toString() const
{
    if (bytes_[0] == 0)
        return QStringLiteral("/");
    QString text;
    for (std::int8_t value : bytes_) {
        if (value == 0)
            break;
        text += '/' + QString::number(value);
    }
    return text;
}

void LatticePath::clear()
{
    bytes_.fill(0);
}

void LatticePath::append(int step)
{
    const int at = length();
    if (at >= maxSteps)
        return;
    bytes_[static_cast<std::size_t>(at)] = static_cast<std::int8_t>(step);
    bytes_[static_cast<std::size_t>(at + 1)] = 0;
}

void LatticePath::removeLast()
{
    const int at = length();
    if (at > 0)
        bytes_[static_cast<std::size_t>(at - 1)] = 0;
}

int LatticePath::length() const
{
    int count = 0;
    while (count < maxSteps && bytes_[static_cast<std::size_t>(count)] != 0)
        ++count;
    return count;
}

int LatticePath::step(int index) const
{
    return (index >= 0 && index < length()) ? bytes_[static_cast<std::size_t>(index)] : 0;
}

int LatticePath::lastStep() const
{
    const int count = length();
    return count > 0 ? step(count - 1) : 0;
}

QList<int> LatticePath::toList() const
{
    QList<int> steps;
    for (int i = 0, n = length(); i < n; ++i)
        steps.append(step(i));
    return steps;
}

std::optional<LatticeRatio> LatticePath::ratio() const
{
    if (!isValid())
        return std::nullopt;
    LatticeRatio result(1);
    for (int i = 0, n = length(); i < n; ++i) {
        const int s = step(i);
        if (!isValidStep(s))
            return std::nullopt;
        result *= PrimeSteps::stepRatio(s);
    }
    return result;
}

bool LatticePath::operator==(const LatticePath& other) const
{
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (bytes_[i] != other.bytes_[i])
            return false;
        if (bytes_[i] == 0)
            return true;
    }
    return true;
}

uint qHash(const LatticePath& path, uint seed)
{
    uint h = seed;
    for (int i = 0, n = path.length(); i < n; ++i)
        h = static_cast<uint>(path.step(i)) + 31u * h;
    return h;
}
