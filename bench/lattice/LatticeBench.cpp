// LatticeBench: what the model does after every transposition, timed. The
// ball index is rebuilt, then the transpose panel asks canTransposeTo for each
// of its 18 directions (+-2 to +-23). Run for the built-in layout and for a
// generated lattice of 5000 balls, whose budget is 5 ms for both together,
// once untransposed and once so far transposed that some keys overflow.
//
//   LatticeBench [--runs N]
//   LatticeBench --write-generated PATH   writes the 5000-ball lattice.json
//
// Medians over N runs (default 301) after a few unmeasured warm-up runs.

#include "BenchTiming.h"
#include "Lattice.h"
#include "LatticeBall.h"

#include <QCoreApplication>
#include <QHash>
#include <QJsonObject>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

namespace {

constexpr int generatedBallCount = 5000;
constexpr double budgetMs = 5.0; // for 5000 balls, rebuild and all 18 queries
constexpr int warmUpRuns = 5;

const int transposeDirections[] = {-23, -19, -17, -13, -11, -7, -5, -3, -2,
                                   2,   3,   5,   7,   11,  13, 17, 19, 23};

struct GeneratedBall
{
    LatticePath path;
    LatticeRatio ratio;
    QMap<int, int> children; // step -> index into the ball list
    QMap<int, QString> links;
};

// A random tree of the given size, down to the six steps a path holds, grown
// from a fixed seed so that every run and every benchmark sees the same file.
// Balls get octave and fifth links where the tree has a ball one such step
// away that is not their child, the way the built-in layout links them.
std::vector<GeneratedBall> generateBalls(int count)
{
    std::mt19937 random(20240611u); // mt19937's output is fixed by the standard
    std::vector<GeneratedBall> balls{{LatticePath(), LatticeRatio(1), {}, {}}};
    std::vector<int> open{0}; // balls that may still grow a child
    while (int(balls.size()) < count && !open.empty()) {
        const std::size_t slot = random() % open.size();
        const int parent = open[slot];
        const int step = transposeDirections[random() % std::size(transposeDirections)];
        if (balls[std::size_t(parent)].children.contains(step))
            continue;
        GeneratedBall child;
        child.path = balls[std::size_t(parent)].path;
        child.path.append(step);
        child.ratio = balls[std::size_t(parent)].ratio * PrimeSteps::stepRatio(step);
        balls[std::size_t(parent)].children.insert(step, int(balls.size()));
        if (child.path.length() < LatticePath::maxSteps)
            open.push_back(int(balls.size()));
        balls.push_back(child);
        if (balls[std::size_t(parent)].children.size() == int(std::size(transposeDirections)))
            open.erase(open.begin() + std::ptrdiff_t(slot));
    }

    QHash<LatticeRatio, int> byRatio;
    for (std::size_t i = 0; i < balls.size(); ++i)
        byRatio.insert(balls[i].ratio, int(i));
    for (GeneratedBall& ball : balls) {
        for (int step : {-3, -2, 2, 3}) {
            const int target = byRatio.value(ball.ratio * PrimeSteps::stepRatio(step), -1);
            if (target >= 0 && !ball.children.contains(step))
                ball.links.insert(step, balls[std::size_t(target)].path.toString());
        }
    }
    return balls;
}

QJsonObject ballJson(const std::vector<GeneratedBall>& balls, int index)
{
    const GeneratedBall& ball = balls[std::size_t(index)];
    QJsonObject json;
    if (!ball.children.isEmpty()) {
        QJsonObject children;
        for (auto it = ball.children.cbegin(); it != ball.children.cend(); ++it)
            children.insert(QString::number(it.key()), ballJson(balls, it.value()));
        json.insert(QStringLiteral("children"), children);
    }
    if (!ball.links.isEmpty()) {
        QJsonObject links;
        for (auto it = ball.links.cbegin(); it != ball.links.cend(); ++it)
            links.insert(QString::number(it.key()), it.value());
        json.insert(QStringLiteral("links"), links);
    }
    return json;
}

// The generated tree with the built-in colours, read the way lattice.json is.
void loadGenerated(Lattice& lattice)
{
    lattice.setDefaults();
    QJsonObject json;
    lattice.write(json);
    json.insert(QStringLiteral("root"), ballJson(generateBalls(generatedBallCount), 0));
    lattice.read(json);
}

int countBalls(const LatticeBall* ball)
{
    int count = 1;
    for (const LatticeBall* child : ball->children())
        count += countBalls(child);
    return count;
}

// Wall-clock time is what the player feels; processor time is what the
// model costs, and stays meaningful when other processes share the machine.
// std::clock() counts the process's processor time on Linux and macOS (on
// Windows it is wall-clock time again).
struct Clocks
{
    std::chrono::steady_clock::time_point wall;
    std::clock_t processor;

    static Clocks now() { return {std::chrono::steady_clock::now(), std::clock()}; }
};

void add(TimedSamples& samples, const Clocks& from, const Clocks& to)
{
    samples.wallMs.push_back(
        std::chrono::duration<double, std::milli>(to.wall - from.wall).count());
    samples.processorMs.push_back(1000.0 * double(to.processor - from.processor) / CLOCKS_PER_SEC);
}

struct Measurement
{
    TimedSamples rebuild;
    TimedSamples queries;
    TimedSamples both;
};

Measurement measure(Lattice& lattice, int runs)
{
    Measurement result;
    const int queryCount = (runs + warmUpRuns) * int(std::size(transposeDirections));
    int allowed = 0; // keeps the queries from being optimised away
    for (int run = -warmUpRuns; run < runs; ++run) {
        const Clocks start = Clocks::now();
        lattice.rebuildIndex();
        const Clocks rebuilt = Clocks::now();
        for (int step : transposeDirections)
            allowed += lattice.canTransposeTo(PrimeSteps::stepRatio(step)) ? 1 : 0;
        const Clocks end = Clocks::now();
        if (run < 0)
            continue;
        add(result.rebuild, start, rebuilt);
        add(result.queries, rebuilt, end);
        add(result.both, start, end);
    }
    if (allowed != queryCount)
        std::printf("  (%d of %d queries allowed)\n", allowed, queryCount);
    return result;
}

void report(const char* name, Lattice& lattice, int runs, double budget)
{
    const Measurement result = measure(lattice, runs);
    std::printf("%s, %d balls, medians of %d runs:\n", name, countBalls(lattice.root()), runs);
    std::printf("  %-40s %12s %12s\n", "", "wall", "processor");
    printTimedRow("rebuild index", result.rebuild, 0.0);
    printTimedRow("canTransposeTo x18", result.queries, 0.0);
    printTimedRow("both", result.both, budget);
}

// The model's records about balls that cannot sound would otherwise be
// printed on every run and timed with the terminal.
void dropRecords(QtMsgType, const QMessageLogContext&, const QString&) {}

int usage()
{
    std::fprintf(stderr, "usage: LatticeBench [--runs N] | --write-generated PATH\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    int runs = 301;
    if (arguments.size() == 2 && arguments[0] == QLatin1String("--write-generated")) {
        Lattice lattice;
        loadGenerated(lattice);
        lattice.filePath = arguments[1];
        if (!lattice.save())
            return 1;
        std::printf("wrote %d balls to %s\n", countBalls(lattice.root()),
                    qPrintable(lattice.filePath));
        return 0;
    }
    if (arguments.size() == 2 && arguments[0] == QLatin1String("--runs")) {
        bool ok = false;
        runs = arguments[1].toInt(&ok);
        if (!ok || runs < 1)
            return usage();
    } else if (!arguments.isEmpty()) {
        return usage();
    }

    qInstallMessageHandler(dropRecords);
    Lattice builtIn;
    builtIn.setDefaults();
    report("built-in layout", builtIn, runs, 0.0);
    Lattice generated;
    loadGenerated(generated);
    report("generated lattice", generated, runs, budgetMs);
    // 24 fifths up and 38 octaves down, about 1.03: the largest keys no longer
    // fit, so canTransposeTo has to go through the index ball by ball.
    generated.onTransposed(LatticeRatio(282429536481u, 274877906944u), 3);
    report("generated lattice, transposed to 3^24/2^38", generated, runs, budgetMs);
    return 0;
}
