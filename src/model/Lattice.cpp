#include "Lattice.h"

#include "LatticeBall.h"
#include "QuotedText.h"
#include "Settings.h"
#include "SpelledNote.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonObject>
#include <QVariant>
#include <algorithm>
#include <boost/integer/common_factor_rt.hpp>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

const QColor white(255, 255, 255);

constexpr double lowestRootFrequency = 20.0;     // Hz
constexpr double highestRootFrequency = 20000.0; // Hz

// LatticeRatio::canMultiplyWith() refuses a product whose exact value and
// double-precision value differ by more than 1e-5. Below this size, and when
// the product cannot overflow, rounding keeps that difference under 1e-7.
constexpr double clearlyExactLimit = 1e8;

bool productFits(std::uint64_t a, std::uint64_t b)
{
    return a == 0 || b <= std::numeric_limits<std::uint64_t>::max() / a;
}

// The exact product, or nothing when it does not fit in 64 bits. Cancels
// across the fractions first, as boost::rational does, so that no product
// that fits once reduced is refused.
std::optional<LatticeRatio> exactProduct(const LatticeRatio& a, const LatticeRatio& b)
{
    const std::uint64_t acrossA = boost::integer::gcd(a.numerator(), b.denominator());
    const std::uint64_t acrossB = boost::integer::gcd(b.numerator(), a.denominator());
    if (acrossA == 0 || acrossB == 0) // needs a zero denominator: a wrapped product
        return std::nullopt;
    const std::uint64_t numeratorA = a.numerator() / acrossA;
    const std::uint64_t numeratorB = b.numerator() / acrossB;
    const std::uint64_t denominatorA = a.denominator() / acrossB;
    const std::uint64_t denominatorB = b.denominator() / acrossA;
    if (!productFits(numeratorA, numeratorB) || !productFits(denominatorA, denominatorB))
        return std::nullopt;
    return LatticeRatio(numeratorA * numeratorB, denominatorA * denominatorB);
}

} // namespace

Lattice::Lattice(QObject* parent)
    : SerializableRoot(parent), root_(new LatticeBall(*this, LatticePath(), white, this))
{
    autoSave = false;
}

void Lattice::read(const QJsonObject& json)
{
    const QJsonArray colors = json.value(QStringLiteral("colors")).toArray();
    for (const QJsonValue& entry : colors) {
        const QJsonObject object = entry.toObject();
        const double prime = object.value(QStringLiteral("prime")).toDouble();
        // Truncating a number beyond int would be undefined; no prime is that
        // large, so such an entry can only be a typing slip.
        if (!(std::fabs(prime) < 2147483648.0)) {
            if (mayWarnWhileReading())
                qWarning().noquote()
                    << QStringLiteral("Skipped the colour of prime %1: not a prime.").arg(prime);
            continue;
        }
        // Any name QColor knows works; anything else gives an invalid colour.
        colors_.insert(static_cast<int>(prime),
                       object.value(QStringLiteral("color")).toVariant().value<QColor>());
    }
    root_ = new LatticeBall(*this, LatticePath(), colorForPrime(1), this);
    root_->read(json.value(QStringLiteral("root")).toObject());
    dropDanglingLinks(root_);
    rebuildIndex();
}

void Lattice::write(QJsonObject& json) const
{
    QJsonArray colors;
    for (auto it = colors_.constBegin(); it != colors_.constEnd(); ++it) {
        colors.append(QJsonObject{
            {QStringLiteral("prime"), it.key()},
            {QStringLiteral("color"), QJsonValue::fromVariant(QVariant::fromValue(it.value()))}});
    }
    json.insert(QStringLiteral("colors"), colors);
    QJsonObject root;
    root_->write(root);
    json.insert(QStringLiteral("root"), root);
}

void Lattice::setDefaults()
{
    colors_ = {{1, QColor(32, 32, 32)},   {2, QColor(91, 91, 91)},  {3, QColor(81, 115, 182)},
               {5, QColor(156, 4, 4)},    {7, QColor(40, 56, 208)}, {11, QColor(180, 97, 16)},
               {13, QColor(113, 0, 113)}, {17, QColor(7, 116, 7)},  {19, QColor(153, 153, 0)},
               {23, QColor(0, 91, 91)}};
    root_ = new LatticeBall(*this, LatticePath(), colorForPrime(1), this);

    // The octave-and-fifth skeleton, each ball after its parent. The links
    // join balls an octave apart that the tree does not join.
    const QString none;
    addDefaultBall(QStringLiteral("/-2"), none);
    addDefaultBall(QStringLiteral("/-2/-2"), none);
    addDefaultBall(QStringLiteral("/-2/-2/3"), QStringLiteral("/-2/3"));
    addDefaultBall(QStringLiteral("/-2/-2/3/3"), QStringLiteral("/-2/3/3"));
    addDefaultBall(QStringLiteral("/-2/-3"), QStringLiteral("/-3"));
    addDefaultBall(QStringLiteral("/-2/3"), QStringLiteral("/3"));
    addDefaultBall(QStringLiteral("/-2/3/3"), QStringLiteral("/3/3"));
    addDefaultBall(QStringLiteral("/2"), none);
    addDefaultBall(QStringLiteral("/2/-3"), none);
    addDefaultBall(QStringLiteral("/2/-3/-3"), none);
    addDefaultBall(QStringLiteral("/2/-3/-3/-3"), none);
    addDefaultBall(QStringLiteral("/2/3"), none);
    addDefaultBall(QStringLiteral("/2/3/3"), none);
    addDefaultBall(QStringLiteral("/-3"), QStringLiteral("/2/-3"));
    addDefaultBall(QStringLiteral("/-3/-3"), QStringLiteral("/2/-3/-3"));
    addDefaultBall(QStringLiteral("/-3/-3/-3"), QStringLiteral("/2/-3/-3/-3"));
    addDefaultBall(QStringLiteral("/3"), QStringLiteral("/2/3"));
    addDefaultBall(QStringLiteral("/3/3"), QStringLiteral("/2/3/3"));

    // Every skeleton ball, the root included, carries the higher primes as
    // leaves, down before up.
    QList<LatticeBall*> skeleton{root_};
    for (int i = 0; i < skeleton.size(); ++i)
        for (LatticeBall* child : skeleton[i]->children())
            skeleton.append(child);
    for (LatticeBall* ball : qAsConst(skeleton)) {
        for (int prime : {5, 7, 11, 13, 17, 19, 23}) {
            for (int step : {-prime, prime}) {
                LatticePath path = ball->path();
                path.append(step);
                ball->addChild(step, new LatticeBall(*this, path, colorForPrime(prime), ball));
            }
        }
    }
    rebuildIndex();
}

void Lattice::addDefaultBall(const QString& pathText, const QString& linkTarget)
{
    const LatticePath path(pathText);
    LatticePath parentPath = path;
    parentPath.removeLast();
    LatticeBall* parent = ballAtPath(parentPath);
    const int step = path.lastStep();
    auto* ball = new LatticeBall(*this, path, colorForPrime(step), parent);
    parent->addChild(step, ball);
    if (!linkTarget.isEmpty())
        ball->addLink(2, linkTarget);
}

bool Lattice::initFollowing(QObject* player)
{
    if (!SerializableRoot::init(QStringLiteral("lattice.json")))
        return false;
    // Queued: the player emits on the audio thread, and the model must see
    // the reports in the order they were made.
    connect(player, SIGNAL(noteToggled(LatticeRatio, bool)), this,
            SLOT(onNoteToggled(LatticeRatio, bool)), Qt::QueuedConnection);
    connect(player, SIGNAL(transposed(LatticeRatio, int)), this,
            SLOT(onTransposed(LatticeRatio, int)), Qt::QueuedConnection);
    connect(player, SIGNAL(baseFrequencyChanged(float)), this, SLOT(onBaseFrequencyChanged(float)),
            Qt::QueuedConnection);
    connect(player, SIGNAL(primeEnabledToggled(int, bool)), this,
            SLOT(onPrimeEnabledToggled(int, bool)), Qt::QueuedConnection);
    return true;
}

QColor Lattice::colorForPrime(int step) const
{
    // The most negative int has no magnitude as an int; it is no prime anyway.
    return step == std::numeric_limits<int>::min() ? white : colors_.value(std::abs(step), white);
}

LatticeBall* Lattice::ballForRatio(const LatticeRatio& ratio) const
{
    return ballIndex_.value(ratio, nullptr);
}

LatticeBall* Lattice::ballAtPath(const LatticePath& path) const
{
    if (!path.isValid())
        return nullptr;
    LatticeBall* ball = root_;
    for (int i = 0, n = path.length(); ball && i < n; ++i)
        ball = ball->child(path.step(i));
    return ball;
}

bool Lattice::canTransposeTo(const LatticeRatio& step) const
{
    const LatticeRatio transposed = transposition_ * step;
    const double rootFrequency = transposed.toDouble() * baseFrequency_;
    if (rootFrequency < lowestRootFrequency || rootFrequency > highestRootFrequency)
        return false;
    if (everyKeyClearlyMultipliesWith(step))
        return true;
    for (auto it = ballIndex_.constBegin(); it != ballIndex_.constEnd(); ++it) {
        if (it.key().canMultiplyWith(step))
            continue;
        const LatticeBall* ball = it.value();
        // Indexed balls always have a ratio; see rebuildIndex().
        qDebug().noquote() << quotedText(
            QStringLiteral("canTransposeTo fail on %1 to %2:\n  ball: %3 at %4 can't be played")
                .arg(transposition_.toString(), step.toString(), ball->path().toString(),
                     ball->ratio().value_or(LatticeRatio()).toString()));
        return false;
    }
    return true;
}

// The transpose panel asks this for 18 directions after every transposition;
// bounding all keys at once spares it a pass over the whole index when, as
// nearly always, no key is anywhere near overflowing.
bool Lattice::everyKeyClearlyMultipliesWith(const LatticeRatio& step) const
{
    return productFits(largestKeyNumerator_, step.numerator()) &&
           productFits(largestKeyDenominator_, step.denominator()) &&
           largestKeyValue_ * step.toDouble() <= clearlyExactLimit;
}

SpelledNote Lattice::noteForBall(const LatticeBall& ball, float frequency,
                                 const Settings& settings) const
{
    return spellLatticeNote(settings.baseFrequency, settings.calibrationFrequency,
                            transposeSteps_ + ball.path().toList(), frequency);
}

void Lattice::rebuildIndex()
{
    ballIndex_.clear();
    largestKeyNumerator_ = 0;
    largestKeyDenominator_ = 0;
    largestKeyValue_ = 0.0;
    int leftOut = 0;
    indexSubtree(root_, leftOut);
    if (leftOut > 0)
        qWarning().noquote() << QStringLiteral("Left %1 lattice ball(s) out of the ball index: "
                                               "their ratios cannot be formed at transposition %2.")
                                    .arg(leftOut)
                                    .arg(transposition_.toString());
    for (const LatticeRatio& ratio : qAsConst(playing_))
        if (LatticeBall* ball = ballIndex_.value(ratio, nullptr))
            ball->setPlaying(true);
    emit soundingChanged();
}

// Depth-first, a ball before its children and children in ascending step
// order: a later ball with the same sounding ratio takes over the entry.
void Lattice::indexSubtree(LatticeBall* ball, int& leftOut)
{
    const std::optional<LatticeRatio> key =
        ball->ratio() ? exactProduct(*ball->ratio(), transposition_) : std::nullopt;
    if (key) {
        ballIndex_.insert(*key, ball);
        largestKeyNumerator_ = std::max(largestKeyNumerator_, key->numerator());
        largestKeyDenominator_ = std::max(largestKeyDenominator_, key->denominator());
        largestKeyValue_ = std::max(largestKeyValue_, key->toDouble());
    } else {
        ++leftOut;
    }
    ball->setPlaying(false);
    for (LatticeBall* child : ball->children())
        indexSubtree(child, leftOut);
}

void Lattice::dropDanglingLinks(LatticeBall* ball)
{
    const QMap<int, LatticeLink> links = ball->links();
    for (auto it = links.constBegin(); it != links.constEnd(); ++it) {
        if (ballAtPath(it.value().path))
            continue;
        if (mayWarnWhileReading())
            qWarning().noquote() << QStringLiteral("Dropped the link at key %1 of ball %2: "
                                                   "no ball at %3.")
                                        .arg(quotedText(QString::number(it.key())),
                                             quotedText(ball->path().toString()),
                                             quotedText(it.value().path.toString()));
        ball->removeLink(it.key());
    }
    for (LatticeBall* child : ball->children())
        dropDanglingLinks(child);
}

void Lattice::onNoteToggled(const LatticeRatio& ratio, bool on)
{
    if (on == playing_.contains(ratio))
        return;
    if (on)
        playing_.insert(ratio);
    else
        playing_.remove(ratio);
    if (LatticeBall* ball = ballForRatio(ratio))
        ball->setPlaying(on);
    emit soundingChanged();
}

void Lattice::onTransposed(const LatticeRatio& ratio, int prime)
{
    transposition_ = ratio;
    if (prime == 0)
        transposeSteps_.clear();
    else
        appendTransposeStep(prime);
    rebuildIndex();
    emit transposeOrBaseFrequencyChanged();
}

// Walks from the front; an entry whose opposite occurs at or before it
// cancels with the last such occurrence, and the walk resumes one place back.
// Run after every append, this keeps the list free of opposite pairs.
void Lattice::appendTransposeStep(int step)
{
    transposeSteps_.append(step);
    int i = 0;
    while (i < transposeSteps_.size()) {
        const int opposite = -transposeSteps_[i];
        // Position i itself could only match a 0, which is never appended.
        int j = i - 1;
        while (j >= 0 && transposeSteps_[j] != opposite)
            --j;
        if (j < 0) {
            ++i;
            continue;
        }
        transposeSteps_.removeAt(i);
        transposeSteps_.removeAt(j);
        i = qMax(i - 1, 0);
    }
}

void Lattice::onBaseFrequencyChanged(float freq)
{
    if (freq == baseFrequency_)
        return;
    baseFrequency_ = freq;
    emit transposeOrBaseFrequencyChanged();
}

void Lattice::onPrimeEnabledToggled(int prime, bool enabled)
{
    if (prime == 1)
        root_->setEnabled(enabled);
    else
        setPrimeEnabledBelow(root_, prime, enabled);
}

// Each step of the prime switches the whole subtree behind it, so enabling a
// prime also brings back what lies beyond it under other primes that are
// still disabled.
void Lattice::setPrimeEnabledBelow(LatticeBall* ball, int prime, bool enabled)
{
    for (int step : {prime, -prime})
        if (LatticeBall* child = ball->child(step))
            child->setEnabled(enabled);
    for (LatticeBall* child : ball->children())
        setPrimeEnabledBelow(child, prime, enabled);
}
