#pragma once

#include "LatticePath.h"
#include "LatticeRatio.h"
#include "SerializableRoot.h"

#include <QColor>
#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <cstdint>
#include <type_traits>

class LatticeBall;
class PdPlayer;
class Settings;
class SpelledNote;

// The model of the on-screen instrument: the tree of balls from lattice.json,
// one colour per prime, and what the player reports back (transposition, base
// frequency, sounding ratios, enabled primes). It never plays anything; the
// player's signals drive its slots, and it passes the results on to the
// balls, whose signals the widgets follow.
//
// The ball index maps each sounding ratio (path ratio times transposition) to
// one ball, so that a ratio the player reports finds its ball. Two balls that
// sound the same ratio share an entry; the one visited last depth-first, in
// ascending step order, gets it.
//
// lattice.json is written only when it is created with the built-in layout;
// autoSave is off.
//
// GUI thread only. The player emits on the audio thread; init() connects it
// with queued connections.
class Lattice : public SerializableRoot
{
    Q_OBJECT

public:
    explicit Lattice(QObject* parent = nullptr);

    // Replaces the tree (the old one stays owned by the lattice) and merges the
    // colours into the ones already known. Entries the tree cannot hold are
    // skipped with a warning (see LatticeBall::read), as are links to paths
    // where the file has no ball. Rebuilds the ball index.
    void read(const QJsonObject& json) override;
    void write(QJsonObject& json) const override;
    // The built-in layout: ten colours, a skeleton of octaves and fifths, and
    // the fourteen leaves of primes 5 to 23 on each skeleton ball (285 balls).
    void setDefaults() override;

    using SerializableRoot::init;
    // Loads or creates lattice.json, then follows the player's reports. The
    // player is connected by its signal names, so the model needs none of the
    // sound engine's headers; the conversion to QObject happens where the
    // caller knows PdPlayer. False, with nothing connected, when the file
    // cannot be created, read or parsed.
    template <typename Player = PdPlayer,
              std::enable_if_t<std::is_base_of_v<QObject, Player>, int> = 0>
    bool init(Player* player)
    {
        return initFollowing(player);
    }

    LatticeBall* root() const { return root_; }
    const LatticeRatio& transposition() const { return transposition_; }
    // Hz of 1/1 as the player reports it.
    float baseFrequency() const { return baseFrequency_; }
    // Signed prime steps making up the transposition, opposite steps
    // cancelled.
    const QList<int>& transposeSteps() const { return transposeSteps_; }
    // The colour of |step|'s prime, white when there is none; key 1 is the
    // root's.
    QColor colorForPrime(int step) const;
    // Null when no ball sounds ratio.
    LatticeBall* ballForRatio(const LatticeRatio& ratio) const;
    // Every ratio the player reports sounding, whether a ball sounds it or
    // not: a transposition can take a held note's ball away, and a wand tag
    // can play a path the tree does not hold.
    const QSet<LatticeRatio>& playingRatios() const { return playing_; }
    // Null when the tree has no ball at path.
    LatticeBall* ballAtPath(const LatticePath& path) const;

    // Whether the transposition may be multiplied by step: the 1/1 must stay
    // within 20 to 20000 Hz, both included, and every indexed ratio times
    // step must fit in 64 bits (a miss writes a debug record naming the
    // ball).
    bool canTransposeTo(const LatticeRatio& step) const;

    // Spells ball as its note card writes it when it sounds at frequency Hz.
    // The letters follow the transposition steps and then the ball's path,
    // starting from the base frequency *setting*: the player's reported base
    // frequency may differ from it while a change is under way.
    SpelledNote noteForBall(const LatticeBall& ball, float frequency,
                            const Settings& settings) const;

    // Empties the index and fills it again from the tree, then sets playing
    // the balls whose new sounding ratio is in the playing set. A ball whose
    // ratio cannot be formed, or does not fit in 64 bits once transposed, is
    // left out. Called after reading, after the defaults and after every
    // transposition.
    void rebuildIndex();

signals:
    void transposeOrBaseFrequencyChanged();
    // The sounding ratios, or the balls that sound them, may have changed:
    // after every note toggled and every rebuild of the index.
    void soundingChanged();

public slots:
    void onNoteToggled(const LatticeRatio& ratio, bool on);
    // ratio is the new total transposition; prime 0 is a reset.
    void onTransposed(const LatticeRatio& ratio, int prime);
    void onBaseFrequencyChanged(float freq);
    // Prime 1 stands for the root, so it switches every ball.
    void onPrimeEnabledToggled(int prime, bool enabled);

private:
    bool initFollowing(QObject* player);
    bool everyKeyClearlyMultipliesWith(const LatticeRatio& step) const;
    void appendTransposeStep(int step);
    void indexSubtree(LatticeBall* ball, int& leftOut);
    void dropDanglingLinks(LatticeBall* ball);
    void setPrimeEnabledBelow(LatticeBall* ball, int prime, bool enabled);
    void addDefaultBall(const QString& pathText, const QString& linkTarget);

    LatticeBall* root_;
    LatticeRatio transposition_{1};
    float baseFrequency_ = 440.0f; // Hz
    QList<int> transposeSteps_;
    QMap<int, QColor> colors_;
    QHash<LatticeRatio, LatticeBall*> ballIndex_;
    // Bounds over the index keys, kept by rebuildIndex() for canTransposeTo().
    std::uint64_t largestKeyNumerator_ = 0;
    std::uint64_t largestKeyDenominator_ = 0;
    double largestKeyValue_ = 0.0;
    QSet<LatticeRatio> playing_;
};
