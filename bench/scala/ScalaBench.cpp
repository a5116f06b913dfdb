// Importing a 1 000-degree scale (parse, paths, key map) and exporting a
// 5 000-ball lattice as a scale (collect, reduce, sort, write), each timed
// as the median of 15 runs. Targets: under 50 ms each.
#include "BenchTiming.h"
#include "Lattice.h"
#include "LatticeBall.h"
#include "LatticePath.h"
#include "ScalaExchange.h"
#include "ScalaLattice.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QLoggingCategory>
#include <cstdio>
#include <functional>

namespace {

constexpr int primes[] = {3, 5, 7, 11, 13, 17, 19, 23};

// Every path of up to `depth` steps over ±primes, breadth first, until
// `count` balls: a lattice.json root, and the paths' ratios.
QJsonObject latticeOf(int count, QList<LatticeRatio>* ratios)
{
    QList<QList<int>> frontier{{}};
    QList<QList<int>> paths;
    while (paths.size() < count && !frontier.isEmpty()) {
        QList<QList<int>> next;
        for (const QList<int>& path : frontier)
            for (int prime : primes)
                for (int step : {prime, -prime}) {
                    if (paths.size() >= count || path.size() >= LatticePath::maxSteps)
                        break;
                    QList<int> longer = path;
                    longer.append(step);
                    paths.append(longer);
                    next.append(longer);
                }
        frontier = next;
    }
    QJsonObject root;
    for (const QList<int>& path : paths) {
        // Rebuilt each time: simple, and only the set-up.
        std::function<QJsonObject(QJsonObject, int)> add = [&](QJsonObject node, int from) {
            if (from == path.size())
                return node;
            QJsonObject children = node.value("children").toObject();
            const QString key = QString::number(path.at(from));
            children.insert(key, add(children.value(key).toObject(), from + 1));
            node.insert("children", children);
            return node;
        };
        root = add(root, 0);
        LatticePath steps;
        for (int step : path)
            steps.append(step);
        if (ratios && steps.ratio())
            ratios->append(*steps.ratio());
    }
    return QJsonObject{{"root", root}};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::defaultCategory()->setEnabled(QtDebugMsg, false);
    QLoggingCategory::defaultCategory()->setEnabled(QtWarningMsg, false);

    // A scale of 1 000 distinct degrees: the lattice's ratios in one octave.
    QList<LatticeRatio> ratios;
    latticeOf(12000, &ratios);
    ScalaScale big = scaleOfRatios(ratios, "1000 degrees");
    while (big.pitches.size() > 1001)
        big.pitches.removeAt(big.pitches.size() - 2);
    const QByteArray text = big.write();
    TimedSamples imports;
    int keys = 0;
    for (int run = 0; run < 15; ++run)
        imports.time([&] {
            const auto scale = ScalaScale::parse(text, "big.scl", nullptr);
            keys = importScale(*scale, std::nullopt).midiMap.size();
        });

    Lattice lattice;
    lattice.read(latticeOf(5000, nullptr));
    int balls = 0;
    const std::function<void(const LatticeBall*)> count = [&](const LatticeBall* ball) {
        ++balls;
        for (const LatticeBall* child : ball->children())
            count(child);
    };
    count(lattice.root());
    TimedSamples exports;
    ScalaScale exported;
    for (int run = 0; run < 15; ++run)
        exports.time([&] {
            exported = scaleOfLattice(lattice, "big");
            exported.write();
        });

    const double importMs = median(imports.wallMs), exportMs = median(exports.wallMs);
    std::printf("Scala import, %d pitches (%d keys mapped): median %.2f ms (processor %.2f ms), "
                "target < 50 ms %s\n",
                int(big.pitches.size()), keys, importMs, median(imports.processorMs),
                importMs < 50 ? "met" : "MISSED");
    std::printf("Scala export, %d-ball lattice (%d degrees): median %.2f ms (processor %.2f ms), "
                "target < 50 ms %s\n",
                balls, int(exported.pitches.size()), exportMs, median(exports.processorMs),
                exportMs < 50 ? "met" : "MISSED");
    return importMs < 50 && exportMs < 50 ? 0 : 1;
}
