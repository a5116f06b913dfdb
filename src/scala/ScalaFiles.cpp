#include "ScalaFiles.h"

#include "QuotedText.h"

#include <QFileInfo>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>
#include <tuple>

namespace {

const char* const pitchExpected = "a pitch (a ratio like 81/80, an integer, or cents like 701.955)";
constexpr int midiKeys = 128;

QString decoded(const QByteArray& text)
{
    const QString utf8 = QString::fromUtf8(text);
    return utf8.contains(QChar::ReplacementCharacter) ? QString::fromLatin1(text) : utf8;
}

// Text written on one line of a file: a line break inside would end it early.
QByteArray oneLine(const QString& text)
{
    QString line = text;
    line.replace('\r', ' ').replace('\n', ' ');
    return line.toUtf8();
}

bool isDigits(const QByteArray& text)
{
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

struct Line
{
    int number;
    QByteArray text;
};

// Walks the lines that are not comments, and words the messages of parse().
class Reader
{
public:
    Reader(const QByteArray& text, const QString& fileName, QString* error)
        : fileName_(fileName), error_(error)
    {
        const QList<QByteArray> lines = text.split('\n');
        for (int i = 0; i < lines.size(); ++i) {
            QByteArray line = lines[i];
            if (line.endsWith('\r'))
                line.chop(1);
            // split() leaves an empty piece after the final line break.
            if (i == lines.size() - 1 && line.isEmpty())
                break;
            lastLine_ = i + 1;
            if (!line.startsWith('!'))
                content_.append({i + 1, line});
        }
    }

    // The next line, or null after reporting that `expected` is missing.
    const Line* next(const QString& expected)
    {
        if (at_ < content_.size())
            return &content_[at_++];
        fail(lastLine_, QStringLiteral("expected %1, found the end of the file").arg(expected));
        return nullptr;
    }

    // The first word of `line`; the rest of the line goes to `rest`.
    static QByteArray firstWord(const QByteArray& line, QByteArray* rest = nullptr)
    {
        const QByteArray text = line.trimmed();
        int end = 0;
        while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])))
            ++end;
        if (rest)
            *rest = text.mid(end).trimmed();
        return text.left(end);
    }

    void fail(int line, const QString& what) const
    {
        if (error_)
            *error_ = QStringLiteral("%1:%2: %3").arg(fileName_, QString::number(line), what);
    }

    void failAt(const Line& line, const QString& expected, const QByteArray& found) const
    {
        const QString text = decoded(found);
        fail(line.number, QStringLiteral("expected %1, not %2")
                              .arg(expected, text.isEmpty() ? QStringLiteral("an empty line")
                                                            : quotedText(text.left(40))));
    }

private:
    QString fileName_;
    QString* error_;
    QList<Line> content_;
    int at_ = 0;
    int lastLine_ = 1;
};

// A pitch word, or nothing with what was expected instead in `expected`.
std::optional<ScalaPitch> readPitch(const QByteArray& word, QString& expected)
{
    expected = QString::fromLatin1(pitchExpected);
    if (word.contains('.')) {
        bool ok = false;
        const double cents = word.toDouble(&ok);
        if (ok && std::isfinite(cents))
            return ScalaPitch::fromCents(cents);
        return std::nullopt;
    }
    const int slash = word.indexOf('/');
    QByteArray terms[] = {slash < 0 ? word : word.left(slash),
                          slash < 0 ? "1" : word.mid(slash + 1)};
    bool negative = false;
    for (QByteArray& term : terms) {
        if (term.startsWith('-')) {
            negative = true;
            term.remove(0, 1);
        }
        if (!isDigits(term))
            return std::nullopt;
    }
    bool fitN = false, fitD = false;
    const std::uint64_t numerator = terms[0].toULongLong(&fitN);
    const std::uint64_t denominator = terms[1].toULongLong(&fitD);
    if (!fitN || !fitD)
        expected = QStringLiteral("a ratio whose terms are below 2^64");
    else if (denominator == 0)
        expected = QStringLiteral("a ratio with a non-zero denominator");
    else if (negative || numerator == 0)
        expected = QStringLiteral("a ratio above zero");
    else
        return ScalaPitch::fromRatio(LatticeRatio(numerator, denominator));
    return std::nullopt;
}

// The comment of a pitch line: what follows the pitch, without the '!' that
// write() puts before it.
QString pitchComment(const QByteArray& rest)
{
    return decoded(rest.startsWith('!') ? rest.mid(1).trimmed() : rest);
}

// The header comment of a written file.
QByteArray header(const QString& fileName)
{
    const QString name = QFileInfo(fileName).fileName();
    return (name.isEmpty() ? QByteArray("!\n") : "! " + oneLine(name) + '\n') + "!\n";
}

} // namespace

ScalaPitch ScalaPitch::fromRatio(const LatticeRatio& ratio, const QString& comment)
{
    ScalaPitch pitch;
    pitch.ratio = ratio;
    // Each term on its own keeps the precision of terms beyond 2^53.
    pitch.cents =
        1200.0 * (std::log2(double(ratio.numerator())) - std::log2(double(ratio.denominator())));
    pitch.comment = comment;
    return pitch;
}

ScalaPitch ScalaPitch::fromCents(double cents, const QString& comment)
{
    ScalaPitch pitch;
    pitch.cents = cents;
    pitch.comment = comment;
    return pitch;
}

std::optional<ScalaScale> ScalaScale::parse(const QByteArray& text, const QString& fileName,
                                            QString* error)
{
    Reader reader(text, fileName, error);
    ScalaScale scale;
    scale.fileName = QFileInfo(fileName).fileName();
    const Line* line = reader.next(QStringLiteral("the description line"));
    if (!line)
        return std::nullopt;
    scale.description = decoded(line->text).trimmed();

    const QString countExpected = QStringLiteral("the number of notes");
    if (!(line = reader.next(countExpected)))
        return std::nullopt;
    // Anything after the number is ignored, "12 notes" as much as "12".
    const QByteArray count = line->text.trimmed();
    int digits = 0;
    while (digits < count.size() && count[digits] >= '0' && count[digits] <= '9')
        ++digits;
    bool ok = false;
    const int size = count.left(digits).toInt(&ok);
    if (!ok) {
        reader.failAt(*line, countExpected, count);
        return std::nullopt;
    }

    for (int degree = 1; degree <= size; ++degree) {
        if (!(line = reader.next(QStringLiteral("pitch %1 of %2").arg(degree).arg(size))))
            return std::nullopt;
        QByteArray rest;
        const QByteArray word = Reader::firstWord(line->text, &rest);
        QString expected;
        std::optional<ScalaPitch> pitch = readPitch(word, expected);
        if (!pitch) {
            reader.failAt(*line, expected, word);
            return std::nullopt;
        }
        pitch->line = line->number;
        pitch->comment = pitchComment(rest);
        scale.pitches.append(*pitch);
    }
    return scale;
}

QByteArray ScalaScale::write() const
{
    // A description starting with '!' would read back as a comment; parse()
    // trims the space away again.
    QByteArray text = header(fileName);
    text += (description.startsWith('!') ? " " : "") + oneLine(description) + '\n';
    text += ' ' + QByteArray::number(pitches.size()) + "\n!\n";
    for (const ScalaPitch& pitch : pitches) {
        text += ' ';
        text += pitch.ratio ? pitch.ratio->toString().toLatin1()
                            : QByteArray::number(pitch.cents, 'f', 6);
        if (!pitch.comment.isEmpty())
            text += " ! " + oneLine(pitch.comment);
        text += '\n';
    }
    return text;
}

std::optional<KeyboardMapping> KeyboardMapping::parse(const QByteArray& text,
                                                      const QString& fileName, QString* error)
{
    Reader reader(text, fileName, error);
    KeyboardMapping map;
    map.fileName = QFileInfo(fileName).fileName();

    // One value a line: whole numbers from 0 up to below their limit, and
    // the frequency, the row without a number to fill.
    const QString key = QStringLiteral(" (a MIDI key 0..127)");
    const int any = std::numeric_limits<int>::max();
    const std::tuple<int*, int, QString> values[] = {
        {&map.size, any, QStringLiteral("the size of the map (0 or more)")},
        {&map.firstKey, midiKeys, "the first key to map" + key},
        {&map.lastKey, midiKeys, "the last key to map" + key},
        {&map.middleKey, midiKeys, "the middle key, where degree 0 sits" + key},
        {&map.referenceKey, midiKeys, "the reference key" + key},
        {nullptr, 0, QStringLiteral("the reference frequency in Hz (above zero)")},
        {&map.octaveDegree, any, QStringLiteral("the degree of the formal octave (0 or more)")},
    };
    for (const auto& [value, limit, expected] : values) {
        const Line* line = reader.next(expected);
        if (!line)
            return std::nullopt;
        const QByteArray word = Reader::firstWord(line->text);
        bool ok = false;
        if (value) {
            *value = word.toInt(&ok);
            ok = ok && *value >= 0 && *value < limit;
        } else {
            map.referenceFrequency = word.toDouble(&ok);
            ok = ok && std::isfinite(map.referenceFrequency) && map.referenceFrequency > 0.0;
        }
        if (!ok) {
            reader.failAt(*line, expected, word);
            return std::nullopt;
        }
    }

    for (int index = 0; index < map.size; ++index) {
        const QString expected =
            QStringLiteral("a scale degree or x for key %1 of the map").arg(index);
        const Line* line = reader.next(expected);
        if (!line)
            return std::nullopt;
        const QByteArray word = Reader::firstWord(line->text);
        const bool isX = word == "x" || word == "X";
        bool ok = isX;
        const int degree = isX ? unmapped : word.toInt(&ok);
        if (!ok || (!isX && degree < 0)) {
            reader.failAt(*line, expected, word);
            return std::nullopt;
        }
        map.mapping.append(degree);
    }
    return map;
}

QByteArray KeyboardMapping::write() const
{
    QByteArray text = header(fileName);
    const std::pair<const char*, QByteArray> values[] = {
        {"Size of map", QByteArray::number(size)},
        {"First MIDI key to map", QByteArray::number(firstKey)},
        {"Last MIDI key to map", QByteArray::number(lastKey)},
        {"Middle key, where degree 0 sits", QByteArray::number(middleKey)},
        {"Reference key", QByteArray::number(referenceKey)},
        {"Frequency of the reference key in Hz", QByteArray::number(referenceFrequency, 'f', 6)},
        {"Degree of the formal octave", QByteArray::number(octaveDegree)},
    };
    for (const auto& [name, value] : values)
        text += QByteArray("! ") + name + ":\n" + value + '\n';
    text += "! Mapping:\n";
    for (int index = 0; index < size; ++index) {
        const int degree = mapping.value(index, unmapped);
        text += (degree == unmapped ? QByteArray("x") : QByteArray::number(degree)) + '\n';
    }
    return text;
}

std::optional<std::pair<int, int>> KeyboardMapping::degreeOfKey(int key, int scaleSize) const
{
    if (key < firstKey || key > lastKey || scaleSize <= 0)
        return std::nullopt;
    // Division that rounds down, so that keys below the middle count down.
    const auto below = [](long long value, long long by) {
        return value / by - (value % by < 0 ? 1 : 0);
    };
    const long long fromMiddle = static_cast<long long>(key) - middleKey;
    long long degree = fromMiddle;
    if (size > 0) {
        const long long repeat = below(fromMiddle, size);
        const int entry = mapping.value(static_cast<int>(fromMiddle - repeat * size), unmapped);
        if (entry < 0)
            return std::nullopt;
        degree = entry + repeat * octaveDegree;
    }
    const long long periods = below(degree, scaleSize);
    if (periods < std::numeric_limits<int>::min() || periods > std::numeric_limits<int>::max())
        return std::nullopt;
    return std::make_pair(static_cast<int>(degree - periods * scaleSize),
                          static_cast<int>(periods));
}
