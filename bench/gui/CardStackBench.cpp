// card_stack_bench: what the note cards cost the GUI thread, timed on a real
// lattice layer (built-in layout, circles look) with the shipped style sheet
// and glyphs:
//
//   - adding a card: CardStackWidget::addCard for a sounding ball, the card
//     built, polished, placed and shown; target <= 2 ms. Also timed with the
//     event loop run until the card and the guide lines are painted;
//   - repositioning 64 cards on a resize: the stack's updatePositions() for
//     64 cards, and the whole view resize that triggers it (scene fitted,
//     resized() emitted, cards moved, guide lines scheduled); target <= 8 ms.
//     For scale, the same resize until everything is repainted, with and
//     without the cards: most of that is the scene's own repaint.
//
//   card_stack_bench [--runs N]
//
// Medians of N runs (default 301) after a few unmeasured warm-up runs,
// wall-clock and processor time. Runs on the offscreen platform in a
// temporary data folder, so it needs no display and touches no user data.

#include "BenchTiming.h"
#include "CardStackWidget.h"
#include "CardWidget.h"
#include "Lattice.h"
#include "LatticeBallWidget.h"
#include "LatticeLayer.h"
#include "LatticeView.h"
#include "LatticeWidget.h"
#include "TuningLatticeApplication.h"

#include <QSignalBlocker>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

namespace {

constexpr int warmUpRuns = 5;
constexpr int cardCount = 64;
constexpr double addBudgetMs = 2.0;
constexpr double repositionBudgetMs = 8.0;

// A budget of 0 marks a row given for scale only.
void printRow(const char* name, TimedSamples samples, double budget)
{
    samples.dropFirst(warmUpRuns);
    printTimedRow(name, samples, budget);
}

void settle()
{
    for (int pass = 0; pass < 3; ++pass)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// The lattice balls first (they are spread over the whole view), then leaves.
std::vector<LatticeBallWidget*> ballsToShow(const LatticeView& view)
{
    std::vector<LatticeBallWidget*> balls;
    for (LatticeBallWidget* ball : view.latticeWidget()->ballWidgets())
        balls.push_back(ball);
    std::stable_sort(balls.begin(), balls.end(), [](const auto* a, const auto* b) {
        return a->outerRadius() > b->outerRadius();
    });
    balls.resize(std::min<std::size_t>(balls.size(), cardCount));
    return balls;
}

void benchAdding(CardStackWidget& stack, const std::vector<LatticeBallWidget*>& balls, int runs)
{
    TimedSamples adding;
    TimedSamples addingPainted;
    for (int run = 0; run < runs + warmUpRuns; ++run) {
        LatticeBallWidget* ball = balls[std::size_t(run) % balls.size()];
        adding.time([&] { stack.addCard(ball); });
        stack.removeCard(ball);
        settle();
        addingPainted.time([&] {
            stack.addCard(ball);
            settle();
        });
        stack.removeCard(ball);
        settle();
    }
    printRow("addCard", adding, addBudgetMs);
    printRow("addCard, until painted", addingPainted, addBudgetMs);
}

// Alternates the view between two sizes, as a window resize does.
TimedSamples timeResizes(LatticeView& view, int runs, bool untilPainted)
{
    const QSize sizes[] = {view.size(), view.size() - QSize(40, 60)};
    TimedSamples resizes;
    for (int run = 0; run < runs + warmUpRuns; ++run) {
        resizes.time([&] {
            view.resize(sizes[(run + 1) % 2]);
            if (untilPainted)
                settle();
        });
        settle();
    }
    return resizes;
}

void benchResizing(LatticeLayer& layer, const std::vector<LatticeBallWidget*>& balls, int runs)
{
    LatticeView& view = *layer.view();
    // The scene's own repaint, for comparison: the cards' share is the rest.
    const TimedSamples withoutCards = timeResizes(view, runs, true);

    CardStackWidget& stack = *layer.cardStack();
    for (LatticeBallWidget* ball : balls)
        stack.addCard(ball);
    settle();
    std::printf("  (%d cards shown)\n", stack.cardCount());

    // The view resized behind the stack's back, so that every card moves.
    TimedSamples positions;
    const QSize sizes[] = {view.size(), view.size() - QSize(40, 60)};
    for (int run = 0; run < runs + warmUpRuns; ++run) {
        {
            const QSignalBlocker quiet(&view);
            view.resize(sizes[(run + 1) % 2]);
        }
        positions.time([&] { stack.updatePositions(); });
        settle();
    }
    printRow("updatePositions, 64 cards", positions, repositionBudgetMs);
    printRow("view resize, 64 cards", timeResizes(view, runs, false), repositionBudgetMs);
    printRow("view resize until painted, no cards", withoutCards, 0.0);
    printRow("view resize until painted, 64 cards", timeResizes(view, runs, true), 0.0);
}

int runCount(const QStringList& arguments)
{
    const int at = arguments.indexOf(QStringLiteral("--runs"));
    return at >= 0 && at + 1 < arguments.size() ? qMax(1, arguments.at(at + 1).toInt()) : 301;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TuningLatticeApplication app(argc, argv);
    app.setStyle(QStringLiteral("Fusion"));
    if (!app.loadStyleSheet())
        std::printf("(without the style sheet)\n");
    const int runs = runCount(app.arguments());
    app.lattice().setDefaults();

    LatticeLayer layer;
    // Cards and column at the size the program's sheet gives them, in case
    // the sheet beside this program does not give one.
    layer.setStyleSheet(QStringLiteral(
        "CardWidget { min-width: 150px; max-width: 150px; min-height: 72px; max-height: 72px; }"
        "CardStackWidget { min-width: 164px; }"));
    layer.initLayer(LatticeWidget::circlesLook, &app.lattice());
    layer.resize(1200, 700);
    layer.show();
    settle();

    const std::vector<LatticeBallWidget*> balls = ballsToShow(*layer.view());
    std::printf("card_stack_bench: medians of %d runs, wall-clock and processor time\n", runs);
    benchAdding(*layer.cardStack(), balls, runs);
    benchResizing(layer, balls, runs);
    return 0;
}
