#include "ScalaExchange.h"

#include "Lattice.h"
#include "LatticeBall.h"
#include "LatticePath.h"
#include "ScalaLattice.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QSet>
#include <functional>

namespace {

// The key that plays the black ball, 1/1, as in the default key map.
constexpr int blackBallKey = 69;
constexpr int keyCount = 128;

QString ratioText(const LatticeRatio& ratio)
{
    return QStringLiteral("%1/%2").arg(ratio.numerator()).arg(ratio.denominator());
}

// `ratio` times `period` to the power `periods`; nothing when it would
// overflow.
std::optional<LatticeRatio> timesPeriods(LatticeRatio ratio, const LatticeRatio& period,
                                         int periods)
{
    const LatticeRatio step =
        periods < 0 ? LatticeRatio(period.denominator(), period.numerator()) : period;
    for (int i = 0; i < std::abs(periods); ++i) {
        if (!ratio.canMultiplyWith(step))
            return std::nullopt;
        ratio *= step;
    }
    return ratio;
}

// Adds path's balls to a lattice.json subtree.
void addPath(QJsonObject& ball, const QList<int>& steps, int from = 0)
{
    if (from >= steps.size())
        return;
    QJsonObject children = ball.value(QStringLiteral("children")).toObject();
    const QString key = QString::number(steps.at(from));
    QJsonObject child = children.value(key).toObject();
    addPath(child, steps, from + 1);
    children.insert(key, child);
    ball.insert(QStringLiteral("children"), children);
}

} // namespace

ScalaScale scaleOfLattice(const Lattice& lattice, const QString& latticeName)
{
    QList<LatticeRatio> ratios;
    QStringList comments;
    const LatticeRatio& transposition = lattice.transposition();
    const std::function<void(const LatticeBall*)> visit = [&](const LatticeBall* ball) {
        const std::optional<LatticeRatio> ratio = ball->path().ratio();
        if (ball->isEnabled() && ratio && transposition.canMultiplyWith(*ratio)) {
            ratios.append(transposition * *ratio);
            comments.append(ball->path().toString());
        }
        for (const LatticeBall* child : ball->children())
            visit(child);
    };
    if (lattice.root())
        visit(lattice.root());
    QStringList steps;
    for (int step : lattice.transposeSteps())
        steps.append(QString::number(step));
    const QString transposed =
        steps.isEmpty()
            ? QStringLiteral("not transposed")
            : QStringLiteral("transposed /%1 (%2)").arg(steps.join('/'), ratioText(transposition));
    return scaleOfRatios(ratios, QStringLiteral("Lattice %1, %2").arg(latticeName, transposed),
                         comments);
}

ScalaScale scaleOfChord(const QList<LatticeRatio>& chord, const QString& description)
{
    QStringList comments;
    for (const LatticeRatio& ratio : chord)
        comments.append(QStringLiteral("sounds %1").arg(ratioText(ratio)));
    return scaleOfRatios(chord, description, comments);
}

KeyboardMapping mappingForKeys(const ScalaScale& scale, const QJsonObject& midiMap,
                               double blackBallHz)
{
    QHash<LatticeRatio, int> degreeOf;
    const QList<LatticeRatio> degrees = ratiosOfScale(scale);
    for (int degree = 0; degree < degrees.size(); ++degree)
        degreeOf.insert(degrees.at(degree), degree);
    KeyboardMapping mapping;
    mapping.size = 12;
    mapping.middleKey = blackBallKey;
    mapping.referenceKey = blackBallKey;
    mapping.referenceFrequency = blackBallHz;
    mapping.octaveDegree = scale.pitches.size();
    for (int key = blackBallKey; key < blackBallKey + mapping.size; ++key) {
        const QJsonValue path = midiMap.value(QStringLiteral("note %1").arg(key))
                                    .toObject()
                                    .value(QStringLiteral("value"));
        const std::optional<LatticeRatio> ratio = LatticePath(path.toString()).ratio();
        const int degree =
            ratio && path.isString() ? degreeOf.value(octaveReduced(*ratio), -1) : -1;
        mapping.mapping.append(degree < 0 ? KeyboardMapping::unmapped : degree);
    }
    return mapping;
}

ScalaImport importScale(const ScalaScale& scale, const std::optional<KeyboardMapping>& mapping)
{
    ScalaImport result;
    const int size = scale.pitches.size();
    result.degrees = size;
    if (size == 0)
        return result;
    // Degree 0 is the implicit 1/1; the last pitch is the period.
    QList<std::optional<LatticeRatio>> degreeRatios{LatticeRatio(1)};
    QSet<int> refused;
    for (int degree = 1; degree < size; ++degree)
        degreeRatios.append(scale.pitches.at(degree - 1).ratio);
    const std::optional<LatticeRatio> period = scale.pitches.last().ratio;
    const auto refuse = [&](int degree, const QString& why) {
        if (refused.contains(degree))
            return;
        refused.insert(degree);
        const ScalaPitch& pitch = scale.pitches.at(degree == 0 ? size - 1 : degree - 1);
        result.refusals.append(
            QStringLiteral("%1:%2: %3").arg(scale.fileName).arg(pitch.line).arg(why));
    };
    for (int degree = 0; degree < size; ++degree) {
        const std::optional<LatticeRatio>& ratio = degreeRatios.at(degree);
        if (!ratio) {
            refuse(degree, QStringLiteral("%1 cents has no ratio; a ball needs one")
                               .arg(scale.pitches.at(degree - 1).cents));
            continue;
        }
        QString why;
        const std::optional<LatticePath> path = pathForRatio(*ratio, &why);
        if (!path) {
            refuse(degree, QStringLiteral("%1 %2").arg(ratioText(*ratio), why));
            continue;
        }
        const QList<int> steps = path->toList();
        QJsonObject root = result.lattice.value(QStringLiteral("root")).toObject();
        addPath(root, steps);
        result.lattice.insert(QStringLiteral("root"), root);
    }
    if (!period)
        refuse(0, QStringLiteral("the period %1 cents has no ratio; keys stay in one octave")
                      .arg(scale.pitches.last().cents));
    for (int key = 0; key < keyCount; ++key) {
        std::optional<std::pair<int, int>> place;
        if (mapping) {
            place = mapping->degreeOfKey(key, size);
        } else {
            const int offset = key - blackBallKey;
            const int periods = offset >= 0 ? offset / size : -((-offset + size - 1) / size);
            place = std::make_pair(offset - periods * size, periods);
        }
        if (!place || refused.contains(place->first) || !degreeRatios.at(place->first))
            continue;
        if (place->second != 0 && !period)
            continue;
        const std::optional<LatticeRatio> ratio =
            place->second == 0
                ? degreeRatios.at(place->first)
                : timesPeriods(*degreeRatios.at(place->first), *period, place->second);
        // A key an octave or more away may need more steps than its degree:
        // it is left out, as the default key map leaves such keys out.
        const std::optional<LatticePath> path = ratio ? pathForRatio(*ratio) : std::nullopt;
        if (!path)
            continue;
        result.midiMap.insert(QStringLiteral("note %1").arg(key),
                              QJsonObject{{QStringLiteral("event"), 21},
                                          {QStringLiteral("value"), path->toString()}});
    }
    return result;
}

bool writeReplacing(const QString& path, const QByteArray& bytes, QString* error)
{
    if (QFileInfo::exists(path)) {
        QFile::remove(path + QStringLiteral(".bak"));
        if (!QFile::copy(path, path + QStringLiteral(".bak"))) {
            *error = QStringLiteral("%1 could not be kept as %1.bak").arg(path);
            return false;
        }
    }
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = QStringLiteral("%1 could not be written: %2").arg(path, file.errorString());
    return false;
}

QJsonObject withKeysOf(QJsonObject keyMap, const ScalaImport& imported)
{
    for (const QString& member : keyMap.keys())
        if (member.startsWith(QLatin1String("note ")))
            keyMap.remove(member);
    for (auto key = imported.midiMap.begin(); key != imported.midiMap.end(); ++key)
        keyMap.insert(key.key(), key.value());
    return keyMap;
}
