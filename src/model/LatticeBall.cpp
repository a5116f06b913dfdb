#include "LatticeBall.h"

#include "Lattice.h"
#include "QuotedText.h"

#include <QDebug>
#include <QHash>
#include <QJsonObject>

namespace {

const QString childrenKey = QStringLiteral("children");
const QString linksKey = QStringLiteral("links");

// A JSON member name as a step: the whole name must be a decimal number, so
// "3x" or "" are not read as 0 and then appended to a path.
bool stepFromKey(const QString& key, int& step)
{
    bool ok = false;
    step = key.toInt(&ok, 10);
    return ok && isValidStep(step);
}

void warnSkippedChild(const QString& key, const LatticePath& parent, const QString& reason)
{
    if (SerializableNode::mayWarnWhileReading())
        qWarning().noquote() << QStringLiteral("Skipped the ball at key %1 under ball %2: %3.")
                                    .arg(quotedText(key), quotedText(parent.toString()), reason);
}

void warnDroppedLink(const QString& key, const LatticePath& ball, const QString& reason)
{
    if (SerializableNode::mayWarnWhileReading())
        qWarning().noquote() << QStringLiteral("Dropped the link at key %1 of ball %2: %3.")
                                    .arg(quotedText(key), quotedText(ball.toString()), reason);
}

} // namespace

LatticeBall::LatticeBall(const Lattice& lattice, const LatticePath& path, const QColor& color,
                         QObject* parent)
    : SerializableNode(parent), lattice_(&lattice), path_(path), ratio_(path.ratio()), color_(color)
{
}

void LatticeBall::read(const QJsonObject& json)
{
    const QJsonObject children = json.value(childrenKey).toObject();
    for (const QString& key : keysReadOnce(children, QStringLiteral("ball")))
        readChild(key, children.value(key).toObject());

    const QJsonObject links = json.value(linksKey).toObject();
    for (const QString& key : keysReadOnce(links, QStringLiteral("link")))
        readLink(key, links.value(key));
}

// "3", "+3", "03" and " 3" all read as step 3. One of them is kept: the one
// written as the file writes it, or else the first; the others are reported
// rather than let replace it (with a whole subtree) in silence.
QStringList LatticeBall::keysReadOnce(const QJsonObject& members, const QString& what) const
{
    QStringList keys;
    QHash<int, int> keptAt; // step -> index in keys
    for (auto it = members.constBegin(); it != members.constEnd(); ++it) {
        int step = 0;
        if (!stepFromKey(it.key(), step)) {
            keys.append(it.key()); // refused, with its warning, by the reader
            continue;
        }
        const auto kept = keptAt.constFind(step);
        if (kept == keptAt.constEnd()) {
            keptAt.insert(step, keys.size());
            keys.append(it.key());
            continue;
        }
        QString& keptKey = keys[kept.value()];
        const bool canonical = it.key() == QString::number(step);
        const QString dropped = canonical ? keptKey : it.key();
        if (canonical)
            keptKey = it.key();
        if (mayWarnWhileReading())
            qWarning().noquote() << QStringLiteral("Keys %1 and %2 of ball %3 both name step %4: "
                                                   "the %5 at %1 is read, the one at %2 skipped.")
                                        .arg(quotedText(keptKey), quotedText(dropped),
                                             quotedText(path_.toString()), QString::number(step),
                                             what);
    }
    return keys;
}

// Skipping keeps the rest of a hand-edited file usable: a ball whose path
// cannot hold its step would have no ratio, and one past the sixth step would
// silently take its parent's path.
void LatticeBall::readChild(const QString& key, const QJsonObject& json)
{
    int step = 0;
    if (!stepFromKey(key, step)) {
        warnSkippedChild(key, path_, QStringLiteral("not a prime step"));
        return;
    }
    if (path_.length() >= LatticePath::maxSteps) {
        warnSkippedChild(key, path_,
                         QStringLiteral("deeper than %1 steps").arg(LatticePath::maxSteps));
        return;
    }
    LatticePath childPath = path_;
    childPath.append(step);
    auto* child = new LatticeBall(*lattice_, childPath, lattice_->colorForPrime(step), this);
    child->read(json);
    addChild(step, child);
}

void LatticeBall::readLink(const QString& key, const QJsonValue& value)
{
    int step = 0;
    if (!stepFromKey(key, step))
        warnDroppedLink(key, path_, QStringLiteral("not a prime step"));
    else if (!value.isString()) // it would read as "", the root
        warnDroppedLink(key, path_, QStringLiteral("the target is not a path string"));
    else
        addLink(step, value.toString());
}

void LatticeBall::write(QJsonObject& json) const
{
    if (!children_.isEmpty()) {
        QJsonObject children;
        for (auto it = children_.constBegin(); it != children_.constEnd(); ++it) {
            QJsonObject child;
            it.value()->write(child);
            children.insert(QString::number(it.key()), child);
        }
        json.insert(childrenKey, children);
    }
    if (!links_.isEmpty()) {
        QJsonObject links;
        for (auto it = links_.constBegin(); it != links_.constEnd(); ++it)
            links.insert(QString::number(it.key()), it.value().path.toString());
        json.insert(linksKey, links);
    }
}

void LatticeBall::addChild(int step, LatticeBall* child)
{
    child->setParent(this);
    LatticeBall*& slot = children_[step];
    if (slot != child)
        delete slot;
    slot = child;
}

bool LatticeBall::addLink(int step, const QString& pathText)
{
    const QString key = QString::number(step);
    if (!isValidStep(step)) {
        warnDroppedLink(key, path_, QStringLiteral("not a prime step"));
        return false;
    }
    LatticePath target;
    if (!target.storeFromString(pathText)) {
        warnDroppedLink(key, path_,
                        quotedText(pathText) + QStringLiteral(" is not a lattice path"));
        return false;
    }
    links_.insert(step, {lattice_->colorForPrime(step), target});
    return true;
}

void LatticeBall::setPlaying(bool playing)
{
    if (playing == playing_)
        return;
    playing_ = playing;
    emit playingChanged(playing);
}

void LatticeBall::setEnabled(bool enabled)
{
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    for (LatticeBall* child : qAsConst(children_))
        child->setEnabled(enabled);
    emit enabledChanged(enabled);
}
