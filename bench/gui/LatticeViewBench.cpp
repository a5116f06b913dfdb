// lattice_view_bench: what the lattice view costs the GUI thread, timed.
//
//   - building the scene (LatticeView::buildScene) for the built-in layout,
//     target <= 20 ms, and for generated lattices of 5000 balls, target
//     <= 300 ms, in both looks: LatticeBench's, of which few balls are drawn,
//     and one whose balls are all drawn;
//   - a transposition with the 5000 balls on screen and a chord sounding:
//     the model's index rebuild plus every ball widget, card and repaint it
//     causes, until the event loop has nothing left to do; target <= 16 ms.
//
//   lattice_view_bench [--runs N] [--generated PATH]
//
// Without --generated, LatticeBench (built beside this program) writes the
// generated lattice.json into a temporary folder. Medians of N runs (default
// 51; the transposition runs 4 N times) after a few unmeasured warm-up runs,
// wall-clock and processor time. Runs on the offscreen platform in a
// temporary data folder, so it needs no display and touches no user data.

#include "BenchTiming.h"
#include "CardStackWidget.h"
#include "Lattice.h"
#include "LatticeBall.h"
#include "LatticeBallWidget.h"
#include "LatticeLayer.h"
#include "LatticeLeavesWidget.h"
#include "LatticeView.h"
#include "LatticeWidget.h"
#include "PlayerMetaTypes.h"
#include "TuningLatticeApplication.h"

#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

namespace {

constexpr int warmUpRuns = 4; // even, so that the transpositions end where they began
constexpr double builtInBudgetMs = 20.0;
constexpr double generatedBudgetMs = 300.0;
constexpr double transposeBudgetMs = 16.0;

// Until the event loop would wait: scene updates, card moves and the
// viewport's repaint are all posted events, each possibly posting the next.
void settle()
{
    for (int pass = 0; pass < 3; ++pass)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

int countBalls(const LatticeBall* ball)
{
    int count = 1;
    for (const LatticeBall* child : ball->children())
        count += countBalls(child);
    return count;
}

bool readLattice(Lattice& lattice, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    lattice.setDefaults(); // the colours
    lattice.read(QJsonDocument::fromJson(file.readAll()).object());
    return true;
}

// LatticeBench's random tree steps by every prime, so most of its balls lie
// beneath leaves and are not drawn. This one is drawn in full, like the
// built-in layout: lattice balls breadth first without stepping back, each
// with the fourteen leaves of 5 to 23 (the last one with fewer), count balls
// in all. 334 lattice balls reach five steps from the root.
QJsonObject drawnLatticeJson(int count)
{
    struct Node
    {
        int lastStep;
        QMap<int, int> children; // step -> node
    };
    std::vector<Node> nodes{{0, {}}};
    const int latticeBalls = (count + 14) / 15;
    for (std::size_t i = 0; i < nodes.size() && int(nodes.size()) < latticeBalls; ++i) {
        for (int step : {-3, -2, 2, 3}) {
            if (step == -nodes[i].lastStep || int(nodes.size()) == latticeBalls)
                continue;
            nodes[i].children.insert(step, int(nodes.size()));
            nodes.push_back({step, {}});
        }
    }
    int leavesLeft = count - latticeBalls;
    std::function<QJsonObject(int)> ballJson = [&](int index) {
        QJsonObject children;
        for (int prime : {5, 7, 11, 13, 17, 19, 23}) {
            for (int leaf : {-prime, prime}) {
                if (leavesLeft-- > 0)
                    children.insert(QString::number(leaf), QJsonObject());
            }
        }
        const Node& node = nodes[std::size_t(index)];
        for (auto it = node.children.cbegin(); it != node.children.cend(); ++it)
            children.insert(QString::number(it.key()), ballJson(it.value()));
        return QJsonObject{{QStringLiteral("children"), children}};
    };
    return QJsonObject{{QStringLiteral("root"), ballJson(0)}};
}

QString writeGenerated(const QTemporaryDir& folder)
{
    const QString path = folder.filePath(QStringLiteral("lattice.json"));
    const int status =
        QProcess::execute(QCoreApplication::applicationDirPath() + QStringLiteral("/LatticeBench"),
                          {QStringLiteral("--write-generated"), path});
    return status == 0 ? path : QString();
}

void benchBuild(const char* name, Lattice& lattice, int runs, double budget)
{
    std::printf("%s, %d balls, medians of %d runs:\n", name, countBalls(lattice.root()), runs);
    for (int look : {LatticeWidget::circlesLook, LatticeWidget::grapesLook}) {
        LatticeLayer layer;
        layer.initLayer(look, &lattice);
        layer.resize(1000, 600);
        layer.show();
        settle();
        TimedSamples build;
        TimedSamples shown;
        for (int run = -warmUpRuns; run < runs; ++run) {
            build.time([&] { layer.view()->buildScene(look); });
            shown.time(settle);
        }
        build.dropFirst(warmUpRuns);
        shown.dropFirst(warmUpRuns);
        std::printf("  %d balls drawn:\n", layer.view()->latticeWidget()->ballWidgets().size());
        printTimedRow(look == LatticeWidget::circlesLook ? "buildScene, flowers"
                                                         : "buildScene, grapes",
                      build, budget);
        std::printf("  %-34s %9.3f ms (then, until idle with the first paint)\n", "",
                    median(shown.wallMs));
    }
}

// The ratios of the first chordSize drawn balls, in path order, of at most
// three steps.
QList<LatticeRatio> chordOf(const LatticeWidget& scene, int chordSize)
{
    QList<LatticePath> paths = scene.ballWidgets().keys();
    std::sort(paths.begin(), paths.end(),
              [](const LatticePath& a, const LatticePath& b) { return a.bytes() < b.bytes(); });
    QList<LatticeRatio> chord;
    for (const LatticePath& path : qAsConst(paths)) {
        if (chord.size() == chordSize)
            break;
        if (path.ratio() && path.length() <= 3)
            chord.append(*path.ratio());
    }
    return chord;
}

// A chord sounds; each run transposes by a fifth up, the next by a fifth
// down, so that the chord moves to other balls and back. With withCards
// false the view stands alone, to tell its own share from the cards'.
void benchTranspose(Lattice& lattice, int runs, int chordSize, bool withCards)
{
    LatticeLayer layer;
    LatticeView bareView;
    LatticeView* view = &bareView;
    if (withCards) {
        layer.initLayer(LatticeWidget::circlesLook, &lattice);
        layer.resize(1000, 600);
        layer.show();
        view = layer.view();
    } else {
        bareView.initView(LatticeWidget::circlesLook, &lattice, nullptr);
        bareView.resize(800, 600);
        bareView.show();
    }
    settle();
    const QList<LatticeRatio> chord = chordOf(*view->latticeWidget(), chordSize);
    for (const LatticeRatio& ratio : chord)
        lattice.onNoteToggled(ratio, true);
    settle();

    const LatticeRatio up(3, 2);
    TimedSamples transpose;
    TimedSamples signalled; // the part before the event loop runs
    int cardsReplaced = 0;
    const int measured = 4 * runs;
    for (int run = -warmUpRuns; run < measured; ++run) {
        const bool goUp = (run & 1) == 0;
        const int cardsBefore = layer.cardStack()->cardCount();
        transpose.time([&] {
            signalled.time(
                [&] { lattice.onTransposed(goUp ? up : LatticeRatio(1), goUp ? 3 : -3); });
            settle();
        });
        if (run >= 0)
            cardsReplaced += cardsBefore + layer.cardStack()->cardCount();
    }
    transpose.dropFirst(warmUpRuns);
    signalled.dropFirst(warmUpRuns);
    for (const LatticeRatio& ratio : chord)
        lattice.onNoteToggled(ratio, false);

    std::printf("transposition by +-3, %d balls, %d ratios sounding, %s, %d cards removed and "
                "added per run, medians of %d runs:\n",
                countBalls(lattice.root()), chord.size(),
                withCards ? "lattice layer" : "view alone", cardsReplaced / measured, measured);
    printTimedRow("index, widgets, cards, repaint", transpose, transposeBudgetMs);
    std::printf("  %-34s %9.3f ms %9.3f ms   of which index, ball widgets and cards\n", "",
                median(signalled.wallMs), median(signalled.processorMs));
    if (!withCards) {
        TimedSamples full;
        for (int run = 0; run < runs; ++run)
            full.time([&] { view->viewport()->repaint(); });
        std::printf("  %-34s %9.3f ms %9.3f ms   (for reference: repainting the whole view)\n", "",
                    median(full.wallMs), median(full.processorMs));
    }
}

void dropRecords(QtMsgType, const QMessageLogContext&, const QString&) {}

int usage()
{
    std::fprintf(stderr, "usage: lattice_view_bench [--runs N] [--generated PATH]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir scratch;
    qputenv("XDG_DATA_HOME", scratch.filePath(QStringLiteral("data")).toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TuningLatticeApplication app(argc, argv);
    registerPlayerMetaTypes();

    QStringList arguments = QCoreApplication::arguments().mid(1);
    int runs = 51;
    QString generatedPath;
    while (arguments.size() >= 2) {
        const QString option = arguments.takeFirst();
        const QString value = arguments.takeFirst();
        bool ok = true;
        if (option == QLatin1String("--runs"))
            runs = value.toInt(&ok);
        else if (option == QLatin1String("--generated"))
            generatedPath = value;
        else
            return usage();
        if (!ok || runs < 1)
            return usage();
    }
    if (!arguments.isEmpty())
        return usage();
    if (generatedPath.isEmpty())
        generatedPath = writeGenerated(scratch);

    // Cards spell their notes from the application's model.
    Lattice& lattice = app.lattice();
    qInstallMessageHandler(dropRecords);
    lattice.setDefaults();
    benchBuild("built-in layout", lattice, runs, builtInBudgetMs);
    if (generatedPath.isEmpty() || !readLattice(lattice, generatedPath)) {
        std::fprintf(stderr, "no generated lattice to read\n");
        return 1;
    }
    LatticeLeavesWidget::clearLeafPositions();
    benchBuild("LatticeBench's generated lattice", lattice, runs, generatedBudgetMs);
    lattice.setDefaults();
    lattice.read(drawnLatticeJson(5000));
    benchBuild("generated lattice drawn in full", lattice, std::max(1, runs / 3),
               generatedBudgetMs);
    benchTranspose(lattice, runs, 0, true);
    benchTranspose(lattice, runs, 8, false);
    benchTranspose(lattice, runs, 8, true);
    return 0;
}
