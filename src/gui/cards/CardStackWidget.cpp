#include "CardStackWidget.h"

#include "CardConnectorOverlay.h"
#include "CardWidget.h"
#include "HejiGlyphs.h"
#include "Lattice.h"
#include "LatticeBall.h"
#include "LatticeBallWidget.h"
#include "LatticeView.h"
#include "LatticeWidget.h"
#include "ResourceLocation.h"
#include "TuningLatticeApplication.h"

#include <QDebug>
#include <QFile>
#include <algorithm>

namespace {

constexpr int cardGap = 4; // pixels between cards that do not overlap

const char* const glyphFileNames[CardStackWidget::GlyphCount] = {
    "trebleclef.svg", "bassclef.svg",    "doubleflat.svg", "flat.svg",
    "sharp.svg",      "doublesharp.svg", "note.svg"};

using GlyphSet = std::array<QByteArray, CardStackWidget::GlyphCount>;

// Glyphs already read, by folder. Both lattice looks have a stack, and a
// missing file should be reported once, not once per stack.
QHash<QString, GlyphSet>& glyphCache()
{
    static QHash<QString, GlyphSet> cache;
    return cache;
}

// Helmholtz-Ellis glyphs read so far, by folder and name; empty when missing.
QHash<QString, QByteArray>& hejiGlyphCache()
{
    static QHash<QString, QByteArray> cache;
    return cache;
}

QString glyphFolder()
{
    if (const TuningLatticeApplication* app = TuningLatticeApplication::instance())
        return app->resourceDirectory();
    return ResourceLocation::directory();
}

} // namespace

CardStackWidget::CardStackWidget(QWidget* parent) : QWidget(parent) {}

void CardStackWidget::init(CardConnectorOverlay* overlay, LatticeView* view)
{
    overlay_ = overlay;
    view_ = view;
    connect(view, &LatticeView::resized, this, &CardStackWidget::updatePositions,
            Qt::DirectConnection);
    loadGlyphs();
}

void CardStackWidget::loadGlyphs()
{
    const QString folder = glyphFolder();
    auto cached = glyphCache().constFind(folder);
    if (cached == glyphCache().constEnd()) {
        GlyphSet glyphs;
        for (int i = 0; i < GlyphCount; ++i)
            loadSvgFile(QLatin1String(glyphFileNames[i]), glyphs[std::size_t(i)]);
        cached = glyphCache().insert(folder, glyphs);
    }
    glyphs_ = *cached;
}

QByteArray CardStackWidget::hejiAccidentals(const HejiSpelling& spelling) const
{
    QList<QPair<QString, QByteArray>> glyphs;
    for (const QString& name : HejiGlyphs::names(spelling)) {
        const QString key = glyphFolder() + QLatin1Char('/') + name;
        auto cached = hejiGlyphCache().constFind(key);
        if (cached == hejiGlyphCache().constEnd()) {
            QByteArray data;
            loadSvgFile(QStringLiteral("heji/%1.svg").arg(name), data);
            cached = hejiGlyphCache().insert(key, data);
        }
        if (!cached->isEmpty())
            glyphs.append({name, *cached});
    }
    return HejiGlyphs::joined(glyphs);
}

bool CardStackWidget::loadSvgFile(const QString& fileName, QByteArray& data)
{
    QFile file(glyphFolder() + QLatin1Char('/') + fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        qCritical().noquote() << QStringLiteral("Failed to load %1.").arg(fileName);
        return false;
    }
    data = file.readAll();
    return true;
}

void CardStackWidget::addCard(LatticeBallWidget* ballWidget)
{
    // A second card for the same ball replaces the first.
    removeCard(ballWidget);
    auto* card = new CardWidget(ballWidget->ball(), this);
    card->adjustSize();
    cards_.insert(ballWidget, card);
    if (overlay_)
        overlay_->addConnection(ballWidget, card);
    updatePositions();
    card->show();
    // Normally the ball widget removes its card as it goes; this covers a
    // scene torn down without that. The widget is only a key by then.
    connect(ballWidget, &QObject::destroyed, this, &CardStackWidget::onBallWidgetDestroyed,
            Qt::UniqueConnection);
}

void CardStackWidget::removeCard(LatticeBallWidget* ballWidget)
{
    CardWidget* card = cards_.take(ballWidget);
    if (!card)
        return;
    card->hide();
    if (overlay_)
        overlay_->removeConnection(ballWidget);
    delete card;
    updatePositions();
}

// The scene is going when a ball widget goes: the other balls may be gone
// already, so the card leaves without the stack being laid out again.
void CardStackWidget::onBallWidgetDestroyed(QObject* object)
{
    for (auto it = cards_.begin(); it != cards_.end(); ++it) {
        if (static_cast<QObject*>(it.key()) == object) {
            CardWidget* card = it.value();
            if (overlay_)
                overlay_->removeConnection(it.key());
            cards_.erase(it);
            card->hide();
            delete card;
            return;
        }
    }
}

void CardStackWidget::raiseCard(LatticeBallWidget* ballWidget)
{
    if (CardWidget* card = cards_.value(ballWidget)) {
        card->raise();
        card->setShownHeight(QWIDGETSIZE_MAX);
    }
}

void CardStackWidget::followLattice(Lattice* lattice)
{
    if (lattice != lattice_) {
        if (lattice_)
            disconnect(lattice_, nullptr, this, nullptr);
        lattice_ = lattice;
        if (lattice) {
            connect(lattice, &Lattice::soundingChanged, this, [this] { syncOffLatticeCards(); });
            connect(lattice, &Lattice::transposeOrBaseFrequencyChanged, this,
                    [this] { syncOffLatticeCards(true); });
        }
    }
    syncOffLatticeCards();
}

// A ball the view does not draw (one beneath a leaf) has no widget to carry
// a card either. Between two scenes nothing is drawn, and nothing is decided.
bool CardStackWidget::soundsOffTheView(const LatticeRatio& ratio) const
{
    const LatticeBall* ball = lattice_->ballForRatio(ratio);
    if (!ball)
        return true;
    return view_ && !view_->latticeWidget()->ballWidget(ball->path());
}

void CardStackWidget::syncOffLatticeCards(bool replace)
{
    if (!lattice_ || (view_ && !view_->latticeWidget()))
        return;
    bool changed = false;
    const QList<LatticeRatio> shown = offLatticeCards_.keys();
    for (const LatticeRatio& ratio : shown) {
        if (replace || !lattice_->playingRatios().contains(ratio) || !soundsOffTheView(ratio)) {
            removeOffLatticeCard(ratio);
            changed = true;
        }
    }
    for (const LatticeRatio& ratio : lattice_->playingRatios()) {
        if (offLatticeCards_.contains(ratio) || !soundsOffTheView(ratio))
            continue;
        auto* card = new CardWidget(ratio, *lattice_, this);
        card->adjustSize();
        offLatticeCards_.insert(ratio, card);
        card->show();
        changed = true;
    }
    if (changed)
        updatePositions();
}

void CardStackWidget::rebuildCards()
{
    const QList<LatticeBallWidget*> ballWidgets = cards_.keys();
    for (LatticeBallWidget* ballWidget : ballWidgets)
        addCard(ballWidget);
    syncOffLatticeCards(true);
}

void CardStackWidget::removeOffLatticeCard(const LatticeRatio& ratio)
{
    CardWidget* card = offLatticeCards_.take(ratio);
    card->hide();
    delete card;
}

QVector<int> CardStackWidget::stackTops(const QVector<int>& wanted, int cardHeight,
                                        int headingHeight, int bottom)
{
    const int count = wanted.size();
    const int lowestTop = std::max(0, bottom - cardHeight);
    int step = cardHeight + cardGap;
    if (count > 1 && (count - 1) * step > lowestTop)
        step = std::max(std::min(headingHeight, cardHeight), lowestTop / (count - 1));
    if (count > 1 && (count - 1) * step > lowestTop)
        step = lowestTop / (count - 1);

    // Runs of cards that touch, each as one piece at the mean of the places
    // its cards want, measured at its first card.
    struct Run
    {
        int first;
        int size;
        double wantedSum;
    };
    const auto topOf = [&](const Run& run) {
        const double highest = std::max(0, lowestTop - (run.size - 1) * step);
        return std::clamp(run.wantedSum / run.size, 0.0, highest);
    };
    QVector<Run> runs;
    for (int i = 0; i < count; ++i) {
        runs.append({i, 1, double(wanted[i])});
        while (runs.size() > 1) {
            Run& above = runs[runs.size() - 2];
            const Run& below = runs.last();
            if (topOf(above) + above.size * step <= topOf(below))
                break;
            above.wantedSum += below.wantedSum - double(below.size) * above.size * step;
            above.size += below.size;
            runs.removeLast();
        }
    }
    QVector<int> tops;
    tops.reserve(count);
    for (const Run& run : qAsConst(runs)) {
        const int top = qRound(topOf(run));
        for (int i = 0; i < run.size; ++i)
            tops.append(top + i * step);
    }
    return tops;
}

void CardStackWidget::updatePositions()
{
    struct Placed
    {
        CardWidget* card;
        int wanted;
    };
    QVector<Placed> order;
    order.reserve(cardCount());
    const int bottom = (view_ ? view_->height() : height()) - margin_;
    for (auto it = cards_.constBegin(); it != cards_.constEnd(); ++it) {
        int ballY = 0;
        if (view_) {
            const QPoint inView = view_->mapFromScene(it.key()->scenePos());
            ballY = mapFromGlobal(view_->viewport()->mapToGlobal(inView)).y();
        }
        order.append({it.value(), ballY - it.value()->height() / 2});
    }
    for (CardWidget* card : qAsConst(offLatticeCards_))
        order.append({card, bottom});
    if (order.isEmpty())
        return;
    // Higher notes above lower ones where the heights tie.
    std::sort(order.begin(), order.end(), [](const Placed& a, const Placed& b) {
        if (a.wanted != b.wanted)
            return a.wanted < b.wanted;
        return a.card->soundingRatio().toDouble() > b.card->soundingRatio().toDouble();
    });

    QVector<int> wanted;
    wanted.reserve(order.size());
    int headingHeight = 0;
    for (const Placed& placed : qAsConst(order)) {
        wanted.append(placed.wanted);
        headingHeight = std::max(headingHeight, placed.card->headingHeight());
    }
    const int cardHeight = order.first().card->height();
    const QVector<int> tops = stackTops(wanted, cardHeight, headingHeight, bottom);
    // Each card in front of the one above it, whose heading stays in sight.
    for (int i = 0; i < order.size(); ++i) {
        CardWidget* card = order[i].card;
        card->move(0, tops[i]);
        card->setShownHeight(i + 1 < order.size() ? tops[i + 1] - tops[i] : QWIDGETSIZE_MAX);
        card->raise();
    }
    if (overlay_)
        overlay_->updateConnections();
}
