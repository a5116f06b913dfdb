#include "CardStackWidget.h"

#include "CardConnectorOverlay.h"
#include "CardWidget.h"
#include "LatticeBallWidget.h"
#include "LatticeView.h"
#include "TuningLatticeApplication.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>

namespace {

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

QString glyphFolder()
{
    if (const TuningLatticeApplication* app = TuningLatticeApplication::instance())
        return app->resourceDirectory();
    return QCoreApplication::applicationDirPath();
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
    positionCard(ballWidget, card);
    card->show();
    if (overlay_)
        overlay_->addConnection(ballWidget, card);
    cards_.insert(ballWidget, card);
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
}

void CardStackWidget::onBallWidgetDestroyed(QObject* object)
{
    for (auto it = cards_.constBegin(); it != cards_.constEnd(); ++it) {
        if (static_cast<QObject*>(it.key()) == object) {
            removeCard(it.key());
            return;
        }
    }
}

void CardStackWidget::raiseCard(LatticeBallWidget* ballWidget)
{
    if (CardWidget* card = cards_.value(ballWidget))
        card->raise();
}

void CardStackWidget::positionCard(LatticeBallWidget* ballWidget, CardWidget* card)
{
    if (!view_)
        return;
    const int ballY = view_->mapFromScene(ballWidget->scenePos()).y();
    int y = ballY - card->height() / 2;
    if (y < 0)
        y = 0;
    const int lowest = view_->height() - margin_ - card->height();
    if (y > lowest)
        y = lowest;
    card->move(0, y);
}

void CardStackWidget::updatePositions()
{
    for (auto it = cards_.constBegin(); it != cards_.constEnd(); ++it)
        positionCard(it.key(), it.value());
}
