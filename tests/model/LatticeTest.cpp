#include "Lattice.h"
#include "LatticeBall.h"
#include "LogCapture.h"
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

QJsonObject toJson(const Lattice& lattice)
{
    QJsonObject json;
    lattice.write(json);
    return json;
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
    void initTestCase()
    {
        QCoreApplication::setApplicationName("Elsted Tuning Lattice");
        qRegisterMetaType<LatticeRatio>("LatticeRatio");
    }

    void initWritesDefaultsAndFollowsPlayer()
    {
        QTemporaryDir dataHome;
        qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
        QVERIFY(QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::DataLocation)));
        FakePlayer player;
        Lattice lattice;
        QVERIFY(lattice.init(&player));
        QFile file(lattice.filePath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();
        Lattice copy;
        copy.read(json);
        QCOMPARE(toJson(copy), json);
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
        emit player.baseFrequencyChanged(432.0f);
        emit player.primeEnabledToggled(5, false);
        QVERIFY(changed.isEmpty());
        QTRY_VERIFY(!ball(lattice, "/5")->isEnabled());
        QCOMPARE(changed.count(), 2);
        QCOMPARE(lattice.baseFrequency(), 432.0f);
        QVERIFY(ball(lattice, "/-2/3")->isPlaying()); // 3/4 transposed by 2
        QVERIFY(!ball(lattice, "/3")->isPlaying());
    }

    void readsSparseFiles()
    {
        Lattice lattice;
        fromJson(lattice, "{}");
        QCOMPARE(lattice.root()->color(), QColor(Qt::white));
        QVERIFY(lattice.root()->children().isEmpty());
        fromJson(lattice, R"({"colors":[{"prime":3.7,"color":"red"}]})");
        QCOMPARE(lattice.colorForPrime(-3), QColor(Qt::red));
    }

    // One file with every kind of entry the tree cannot hold: the rest loads.
    void skipsWhatTheTreeCannotHold()
    {
        QByteArray deepest = R"({"children":{"5":{}},"links":{"-3":"/3"}})";
        for (int depth = 1; depth < LatticePath::maxSteps; ++depth)
            deepest = R"({"children":{"3":)" + deepest + "}}";
        Lattice lattice;
        LogCapture log;
        fromJson(lattice, R"({"root":{"children":{"3":)" + deepest + R"(,"3 ":{},
            "0":{"children":{"5":{}}},"4":{},"-31":{},"three":{},"-2147483648":{}},
            "links":{"2":"/3","3":"/9","5":"/5","-2":3,"7":"/-2147483648"}}})");
        QCOMPARE(countBalls(lattice.root()), 7); // the root and the chain of six fifths
        QCOMPARE(lattice.root()->links().keys(), QList<int>{2});
        QCOMPARE(ball(lattice, "/3/3/3/3/3/3")->links().value(-3).path, LatticePath(3));
        const QStringList warnings = log.texts(QtWarningMsg);
        QCOMPARE(warnings.size(), 11);
        QCOMPARE(warnings.filter("Dropped the link at key").size(), 4);
        QCOMPARE(warnings.filter("not a prime step.").size(), 5);
        QCOMPARE(warnings.filter("both name step 3").size(), 1);
        // Without a key written as the file writes it, the first is kept.
        fromJson(lattice, R"({"root":{"children":{"+5":{"children":{"3":{}}},"05":{}}}})");
        QVERIFY(ball(lattice, "/5/3"));
        QCOMPARE(warnings.filter("under ball \"/3/3/3/3/3/3\": deeper than 6 steps.").size(), 1);
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

    void cancelsOppositeTransposeSteps_data()
    {
        QTest::addColumn<QList<int>>("primes");
        QTest::addColumn<QList<int>>("steps");
        QTest::newRow("3 5 -3") << QList<int>{3, 5, -3} << QList<int>{5};
        QTest::newRow("reset") << QList<int>{3, 5, 0} << QList<int>{};
        QTest::newRow("last occurrence") << QList<int>{3, 5, 3, -3} << QList<int>{3, 5};
        QTest::newRow("nested") << QList<int>{-3, 5, -5, 3, 7} << QList<int>{7};
        QTest::newRow("after reset") << QList<int>{3, 0, -3} << QList<int>{-3};
    }
    void cancelsOppositeTransposeSteps()
    {
        QFETCH(QList<int>, primes);
        QFETCH(QList<int>, steps);
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

    void canTransposeTo_data()
    {
        QTest::addColumn<float>("base");
        QTest::addColumn<LatticeRatio>("transposition");
        QTest::addColumn<LatticeRatio>("step");
        QTest::addColumn<bool>("allowed");
        const LatticeRatio one(1), up(2), down(1, 2);
        QTest::newRow("19.99 Hz") << 39.98f << one << down << false;
        QTest::newRow("20 Hz") << 40.0f << one << down << true;
        QTest::newRow("20000 Hz") << 10000.0f << one << up << true;
        QTest::newRow("20000.5 Hz") << 10000.25f << one << up << false;
        QTest::newRow("near overflow") << 440.0f << bigTransposition << LatticeRatio(2, 3) << true;
        // 3^41 at the ball /3
        QTest::newRow("overflow") << 440.0f << bigTransposition << LatticeRatio(3, 2) << false;
    }
    void canTransposeTo()
    {
        QFETCH(float, base);
        QFETCH(LatticeRatio, transposition);
        QFETCH(LatticeRatio, step);
        QFETCH(bool, allowed);
        Lattice lattice;
        fromJson(lattice, R"({"root":{"children":{"3":{}}}})");
        lattice.onBaseFrequencyChanged(base);
        lattice.onTransposed(transposition, 3);
        QCOMPARE(lattice.canTransposeTo(step), allowed);
    }

    void primeEnablingFollowsSubtrees_data()
    {
        QTest::addColumn<QList<int>>("toggles"); // +p enables p, -p disables it
        QTest::addColumn<int>("disabled");
        QTest::addColumn<QStringList>("checks"); // "+path" enabled, "-path" disabled
        QTest::newRow("5 off") << QList<int>{-5} << 38
                               << QStringList{"+/", "+/3/7", "-/5", "-/-2/3/3/-5"};
        QTest::newRow("1 off") << QList<int>{-1} << 285 << QStringList{"-/", "-/2/3/3/23"};
        // The subtree rule brings /3/5 back although /3 stays off.
        QTest::newRow("5 back behind 3")
            << QList<int>{-3, -5, 5} << 195 << QStringList{"+/3/5", "+/5", "-/3", "-/3/7"};
    }
    void primeEnablingFollowsSubtrees()
    {
        QFETCH(QList<int>, toggles);
        QFETCH(int, disabled);
        QFETCH(QStringList, checks);
        Lattice lattice;
        lattice.setDefaults();
        for (int toggle : toggles)
            lattice.onPrimeEnabledToggled(std::abs(toggle), toggle > 0);
        QCOMPARE(countBalls(lattice.root(), true), disabled);
        for (const QString& check : checks)
            QVERIFY2(ball(lattice, check.mid(1))->isEnabled() == check.startsWith('+'),
                     qPrintable(check));
    }

    // The base frequency setting is 440 Hz; the player's report of 220 Hz
    // must not move the letters.
    void spellsBalls()
    {
        Settings settings;
        Lattice lattice;
        lattice.setDefaults();
        lattice.onBaseFrequencyChanged(220.0f);
        lattice.onTransposed(LatticeRatio(3, 2), 3);
        const SpelledNote note = lattice.noteForBall(*ball(lattice, "/3"), 990.0f, settings);
        QCOMPARE(note.name(), QString("B5"));
        QVERIFY2(std::abs(note.cents - 3.91f) < 0.01f, qPrintable(QString::number(note.cents)));
    }
};

QTEST_GUILESS_MAIN(LatticeTest)
#include "LatticeTest.moc"
