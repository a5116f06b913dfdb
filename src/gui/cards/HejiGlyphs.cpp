#include "HejiGlyphs.h"

#include "HejiSpelling.h"

#include <QRegularExpression>
#include <cstdlib>

namespace {

constexpr int syntonicArrowsPerGlyph = 3;
constexpr int septimalCommasPerGlyph = 2;
constexpr double glyphGap = 20.0; // units between two glyphs; a space is 100

QString direction(int count)
{
    return count > 0 ? QStringLiteral("up") : QStringLiteral("down");
}

// count commas of one kind in glyphs of at most perGlyph each, fullest first:
// "7-down2", "7-down1" for three septimal commas down.
void appendCommas(QStringList& names, const QString& stem, int count, int perGlyph)
{
    for (int left = std::abs(count); left > 0; left -= perGlyph)
        names.append(stem + direction(count) + QString::number(qMin(left, perGlyph)));
}

QString accidentalName(int accidental)
{
    switch (accidental) {
    case -2:
        return QStringLiteral("doubleflat");
    case -1:
        return QStringLiteral("flat");
    case 1:
        return QStringLiteral("sharp");
    case 2:
        return QStringLiteral("doublesharp");
    default:
        return QStringLiteral("natural");
    }
}

} // namespace

QStringList HejiGlyphs::names(const HejiSpelling& spelling)
{
    QStringList names;
    for (const int prime : {23, 19, 17, 13, 11}) {
        const int count = spelling.symbolCount(prime);
        for (int i = 0; i < std::abs(count); ++i)
            names.append(QStringLiteral("%1-%2").arg(prime).arg(direction(count)));
    }
    appendCommas(names, QStringLiteral("7-"), spelling.symbolCount(7), septimalCommasPerGlyph);

    // The accidental carries the first three arrows, the rest stand before it.
    const int arrows = spelling.symbolCount(5);
    const int carried = qBound(-syntonicArrowsPerGlyph, arrows, syntonicArrowsPerGlyph);
    appendCommas(names, QStringLiteral("arrow-"), arrows - carried, syntonicArrowsPerGlyph);
    const int accidental = spelling.note.accidental;
    if (carried != 0)
        names.append(accidentalName(accidental) + QLatin1Char('-') + direction(carried) +
                     QString::number(std::abs(carried)));
    else if (accidental != 0)
        names.append(accidentalName(accidental));
    return names;
}

QByteArray HejiGlyphs::joined(const QList<QPair<QString, QByteArray>>& glyphs)
{
    static const QRegularExpression viewBox(
        QStringLiteral("viewBox=\"([-0-9.]+) [-0-9.]+ ([0-9.]+) [0-9.]+\""));
    QString groups;
    double width = 0.0;
    for (const auto& [name, data] : glyphs) {
        const QString text = QString::fromUtf8(data);
        const QRegularExpressionMatch box = viewBox.match(text);
        const int start = text.indexOf(QLatin1Char('>'), text.indexOf(QLatin1String("<svg"))) + 1;
        const int end = text.lastIndexOf(QLatin1String("</svg>"));
        if (!box.hasMatch() || start <= 0 || end < start)
            continue;
        if (width > 0.0)
            width += glyphGap;
        groups += QStringLiteral("<g id=\"heji-%1\" transform=\"translate(%2,0)\">")
                      .arg(name)
                      .arg(width - box.captured(1).toDouble()) +
                  text.mid(start, end - start) + QStringLiteral("</g>");
        width += box.captured(2).toDouble();
    }
    if (groups.isEmpty())
        return QByteArray();
    const QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.2\" "
                                       "baseProfile=\"tiny\" viewBox=\"0 -50 %1 %2\">")
                            .arg(width)
                            .arg(spaces * 100.0) +
                        groups + QStringLiteral("</svg>");
    return svg.toUtf8();
}
