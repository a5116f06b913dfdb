#include "Lattice.h"
#include "LatticeBall.h"
#include "LogCapture.h"
#include "ModelFixtures.h"
#include "Settings.h"
#include "SpelledNote.h"

#include <QtTest>

// Emits what the player reports, under the player's signal names.
class FakePlayer : public QObject
{
    Q_OBJECT

signals:
    void noteToggled(LatticeRatio ratio, bool on);
    void transposed(LatticeRatio ratio, int prime);
    void baseFrequencyChanged(float freq);
    void primeEnabledToggled(int prime, bool enabled);
};

namespace {

const LatticeRatio bigTransposition(4052555153018976267u, 4611686018427387904u); // 3^39 / 2^62

void fromJson(Lattice& lattice, const QByteArray& text)
{
    lattice.read(QJsonDocument::fromJson(text).object());
}

LatticeBall* ball(const Lattice& lattice, const QString& path)
{
    return lattice.ballAtPath(LatticePath(path));
}

int countBalls(const LatticeBall* ball, bool disabledOnly = false)
{
    int count = disabledOnly && ball->isEnabled() ? 0 : 1;
    for (const LatticeBall* child : ball->children())
        count += countBalls(child, disabledOnly);
    return count;
}

} // namespace

class LatticeTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<LatticeRatio>("LatticeRatio"); }

    void initWritesDefaultsAndFollowsPlayer()
    {
        QTemporaryDir dataHome;
        QVERIFY(Fixtures::useDataFolderIn(dataHome));
        FakePlayer player;
        Lattice lattice;
        QVERIFY(lattice.init(&player));
        const QJsonObject json =
            QJsonDocument::fromJson(Fixtures::readData("lattice.json")).object();
        Lattice copy;
        QJsonObject written;
        copy.read(json);
        copy.write(written);
        QCOMPARE(written, json);
        QCOMPARE(ball(copy, "/2/-3/-17")->color(), QColor(7, 116, 7));
        QCOMPARE(json["colors"].toArray().size(), 10);
        QCOMPARE(json.value("root")["children"].toObject().size(), 18); // every step up and down
        QCOMPARE(countBalls(lattice.root()), 285);
        QCOMPARE(ball(lattice, "/-3/-3")->links().value(2).path, LatticePath(QString("/2/-3/-3")));
        QCOMPARE(lattice.ballForRatio(LatticeRatio(9, 8)), ball(lattice, "/-2/3/3"));

        // The player's signals arrive through queued connections.
        QSignalSpy changed(&lattice, &Lattice::transposeOrBaseFrequencyChanged);
        emit player.noteToggled(LatticeRatio(3, 2), true);
        emit player.transposed(LatticeRatio(2), 2);
        emit player.baseFrequencyChanged(440.0f); // unchanged: no signal
        emit player.baseFrequencyChanged(220.0f);
        emit player.primeEnabledToggled(5, false);
        QVERIFY(changed.isEmpty());
        QTRY_VERIFY(!ball(lattice, "/5")->isEnabled());
        QCOMPARE(changed.count(), 2);
        QCOMPARE(lattice.baseFrequency(), 220.0f);
        QVERIFY(ball(lattice, "/-2/3")->isPlaying()); // 3/4 transposed by 2
        QVERIFY(!ball(lattice, "/3")->isPlaying());
        // The letters follow the base frequency setting, 440 Hz, not the
        // player's report: from 220 Hz the note would be respelled.
        const SpelledNote note = lattice.noteForBall(*ball(lattice, "/3"), 1320.0f, Settings());
        QCOMPARE(note.name(), QString("E6"));
        QVERIFY2(!note.respelled && std::abs(note.cents - 1.955f) < 0.01f,
                 qPrintable(QString::number(note.cents)));
    }

    // One file with every kind of entry the tree cannot hold: the rest loads.
    void skipsWhatTheTreeCannotHold()
    {
        QByteArray deepest = R"({"children":{"5":{}},"links":{"-3":"/3"}})";
        for (int depth = 1; depth < LatticePath::maxSteps; ++depth)
            deepest = R"({"children":{"3":)" + deepest + "}}";
        Lattice lattice;
        LogCapture log;
        fromJson(lattice,
                 R"({"root":{"children":{"3":)" + deepest + R"(,"3 ":{},"+3":{},"03":{}," 3":{},
            "0":{"children":{"5":{}}},"4":{},"-31":{},"three":{},"-2147483648":{}},
            "links":{"2":"/3","3":"/9","5":"/5","-2":3,"7":"/-2147483648","-2147483648":"/3"}}})");
        QCOMPARE(countBalls(lattice.root()), 7); // the root and the chain of six fifths
        QCOMPARE(lattice.root()->links().keys(), QList<int>{2});
        QCOMPARE(ball(lattice, "/3/3/3/3/3/3")->links().value(-3).path, LatticePath(3));
        const QStringList warnings = log.texts(QtWarningMsg);
        QCOMPARE(warnings.size(), 15);
        QCOMPARE(warnings.filter("Dropped the link at key").size(), 5);
        QCOMPARE(warnings.filter("not a prime step.").size(), 6);
        QCOMPARE(warnings.filter("both name step 3").size(), 4);
        QCOMPARE(warnings.filter("under ball \"/3/3/3/3/3/3\": deeper than 6 steps.").size(), 1);
        // Without a key written as the file writes it, the first is kept. A
        // colour's prime is truncated and names both directions.
        fromJson(lattice, R"({"colors":[{"prime":3.7,"color":"red"}],
                              "root":{"children":{"+5":{"children":{"3":{}}},"05":{}}}})");
        QVERIFY(ball(lattice, "/5/3"));
        QCOMPARE(lattice.colorForPrime(-3), QColor(Qt::red));
        fromJson(lattice, "{}"); // all defaults, the tree of before gone
        QVERIFY(lattice.root()->color() == Qt::white && lattice.root()->children().isEmpty());
    }

    // Depth-first in ascending step order: of root, /-3/3 and /3/-3, all at
    // 1/1, the last visited holds the entry. A ratio that cannot be formed,
    // from a bad step or from overflow, is left out.
    void indexesSoundingRatios()
    {
        Lattice lattice;
        fromJson(lattice, R"({"root":{"children":{"3":{"children":{"-3":{},"3":{}}},
                                                  "-3":{"children":{"3":{}}}}}})");
        QCOMPARE(lattice.ballForRatio(LatticeRatio(1)), ball(lattice, "/3/-3"));
        LatticePath four;
        four.append(4);
        lattice.root()->addChild(4, new LatticeBall(lattice, four, Qt::red, nullptr));
        LogCapture log;
        lattice.onTransposed(bigTransposition, 3);
        QCOMPARE(log.texts(QtWarningMsg).filter("Left 2 lattice ball(s) out").size(), 1);
        QCOMPARE(lattice.ballForRatio(bigTransposition * LatticeRatio(3, 2)), ball(lattice, "/3"));
        QVERIFY(!lattice.ballForRatio(LatticeRatio()));
        QVERIFY(!lattice.ballForRatio(LatticeRatio(9, 4))); // /3/3 before the transposition
    }

    // Each case: the primes transposed by in turn (0 resets), the steps left.
    void transposes()
    {
        const std::pair<QList<int>, QList<int>> cases[] = {{{3, 5, -3}, {5}},
                                                           {{3, 5, 0}, {}},
                                                           {{3, 5, 3, -3}, {3, 5}}, // the last one
                                                           {{-3, 5, -5, 3, 7}, {7}},
                                                           {{3, 0, -3}, {-3}}};
        for (const auto& [primes, steps] : cases) {
            Lattice lattice;
            QSignalSpy changed(&lattice, &Lattice::transposeOrBaseFrequencyChanged);
            LatticeRatio total(1);
            for (int prime : primes) {
                total = prime == 0 ? LatticeRatio(1) : total * PrimeSteps::stepRatio(prime);
                lattice.onTransposed(total, prime);
            }
            QCOMPARE(lattice.transposeSteps(), steps);
            QCOMPARE(lattice.transposition(), total);
            QCOMPARE(changed.count(), primes.size());
        }
        // Each case: base frequency, transposition, step, whether it may be taken: the
        // sounding range is 20 Hz to 20 kHz; 3^41 at the ball /3 overflows.
        const LatticeRatio one(1), up(2), down(1, 2);
        const std::tuple<float, LatticeRatio, LatticeRatio, bool> limits[] = {
            {39.98f, one, down, false},
            {40.0f, one, down, true},
            {10000.0f, one, up, true},
            {10000.25f, one, up, false},
            {440.0f, bigTransposition, LatticeRatio(2, 3), true},
            {440.0f, bigTransposition, LatticeRatio(3, 2), false}};
        for (const auto& [base, transposition, step, allowed] : limits) {
            Lattice lattice;
            fromJson(lattice, R"({"root":{"children":{"3":{}}}})");
            lattice.onBaseFrequencyChanged(base);
            lattice.onTransposed(transposition, 3);
            QVERIFY2(lattice.canTransposeTo(step) == allowed,
                     qPrintable(QString::number(base) + " * " + step.toString()));
        }
    }

    // Each case: toggles (+p enables p, -p disables it), the number of balls
    // disabled, and balls that must be enabled ("+path") or disabled ("-path").
    // The subtree rule brings /3/5 back although /3 stays off.
    void primeEnablingFollowsSubtrees()
    {
        const std::tuple<QList<int>, int, QStringList> cases[] = {
            {{-5}, 38, {"+/", "+/3/7", "-/5", "-/-2/3/3/-5"}},
            {{-1}, 285, {"-/", "-/2/3/3/23"}},
            {{-3, -5, 5}, 195, {"+/3/5", "+/5", "-/3", "-/3/7"}}};
        for (const auto& [toggles, disabled, checks] : cases) {
            Lattice lattice;
            lattice.setDefaults();
            for (int toggle : toggles)
                lattice.onPrimeEnabledToggled(std::abs(toggle), toggle > 0);
            QCOMPARE(countBalls(lattice.root(), true), disabled);
            for (const QString& check : checks)
                QVERIFY2(ball(lattice, check.mid(1))->isEnabled() == check.startsWith('+'),
                         qPrintable(check));
        }
    }
};

QTEST_GUILESS_MAIN(LatticeTest)
#include "LatticeTest.moc"
