#include "Lattice.h"
#include "LatticeBall.h"
#include "LogCapture.h"
#include "Settings.h"
#include "SpelledNote.h"

#include <QtTest>
#include <algorithm>
#include <functional>
#include <memory>

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

class LatticeTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void createsDefaultFileOnFirstInit();
    void initFollowsPlayerThroughQueuedConnections();
    void readsColours_data();
    void readsColours();
    void roundTripsThroughJson();
    void skipsWhatTheTreeCannotHold_data();
    void skipsWhatTheTreeCannotHold();
    void indexesSoundingRatios();
    void cancelsOppositeTransposeSteps_data();
    void cancelsOppositeTransposeSteps();
    void recomputesPlayingAfterTransposition();
    void canTransposeTo_data();
    void canTransposeTo();
    void primeEnablingFollowsSubtrees_data();
    void primeEnablingFollowsSubtrees();
    void spellsBalls_data();
    void spellsBalls();

private:
    std::unique_ptr<QTemporaryDir> dataHome;
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

void forEachBall(LatticeBall* ball, const std::function<void(LatticeBall*)>& visit)
{
    visit(ball);
    for (LatticeBall* child : ball->children())
        forEachBall(child, visit);
}

// Every ball as its path, every link as "path 2>target", in tree order.
QStringList describeTree(const Lattice& lattice)
{
    QStringList entries;
    forEachBall(lattice.root(), [&](LatticeBall* ball) {
        entries << ball->path().toString();
        for (auto it = ball->links().cbegin(); it != ball->links().cend(); ++it)
            entries << QStringLiteral("%1 %2>%3")
                           .arg(ball->path().toString())
                           .arg(it.key())
                           .arg(it.value().path.toString());
    });
    return entries;
}

} // namespace

void LatticeTest::initTestCase()
{
    QCoreApplication::setApplicationName("Elsted Tuning Lattice");
    qRegisterMetaType<LatticeRatio>("LatticeRatio");
}

// Every case starts from an empty data folder of its own.
void LatticeTest::init()
{
    dataHome = std::make_unique<QTemporaryDir>();
    QVERIFY(dataHome->isValid());
    qputenv("XDG_DATA_HOME", dataHome->path().toUtf8());
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DataLocation);
    QVERIFY(folder.startsWith(dataHome->path() + '/'));
    QVERIFY(QDir().mkpath(folder));
}

void LatticeTest::createsDefaultFileOnFirstInit()
{
    FakePlayer player;
    Lattice lattice;
    QVERIFY(lattice.init(&player));
    QFile file(lattice.filePath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();
    QCOMPARE(json["colors"].toArray().size(), 10);
    const QJsonObject root = json["root"].toObject();
    QStringList names = root["children"].toObject().keys();
    std::sort(names.begin(), names.end(), [](auto& a, auto& b) { return a.toInt() < b.toInt(); });
    QCOMPARE(names.join(' '), QString("-23 -19 -17 -13 -11 -7 -5 -3 -2 2 3 5 7 11 13 17 19 23"));
    QVERIFY(!root.contains("links"));

    int balls = 0;
    forEachBall(lattice.root(), [&](LatticeBall*) { ++balls; });
    QCOMPARE(balls, 285);
    QCOMPARE(lattice.root()->color(), QColor(32, 32, 32));
    QCOMPARE(ball(lattice, "/-2/-3/13")->color(), QColor(113, 0, 113));
    QCOMPARE(ball(lattice, "/-3/-3")->links().value(2).path, LatticePath(QString("/2/-3/-3")));
    QCOMPARE(lattice.ballForRatio(LatticeRatio(9, 8)), ball(lattice, "/-2/3/3"));
}

void LatticeTest::initFollowsPlayerThroughQueuedConnections()
{
    FakePlayer player;
    Lattice lattice;
    QVERIFY(lattice.init(&player));
    QSignalSpy changed(&lattice, &Lattice::transposeOrBaseFrequencyChanged);
    emit player.noteToggled(LatticeRatio(3, 2), true);
    emit player.transposed(LatticeRatio(2), 2);
    emit player.baseFrequencyChanged(440.0f); // unchanged: no signal
    emit player.baseFrequencyChanged(432.0f);
    emit player.primeEnabledToggled(5, false);
    QVERIFY(changed.isEmpty()); // nothing arrives before the event loop runs
    QTRY_VERIFY(!ball(lattice, "/5")->isEnabled());
    QCOMPARE(changed.count(), 2);
    QCOMPARE(lattice.transposition(), LatticeRatio(2));
    QCOMPARE(lattice.baseFrequency(), 432.0f);
    QVERIFY(ball(lattice, "/-2/3")->isPlaying()); // 3/4 transposed by 2
    QVERIFY(!ball(lattice, "/5")->isEnabled());
}

void LatticeTest::readsColours_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("step");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("empty object") << QByteArray("{}") << 1 << QColor(Qt::white);
    QTest::newRow("3.7 is 3") << QByteArray(R"({"colors":[{"prime":3.7,"color":"#010203"}]})") << -3
                              << QColor(1, 2, 3);
    QTest::newRow("named") << QByteArray(R"({"colors":[{"prime":1,"color":"red"}]})") << 1
                           << QColor(Qt::red);
    QTest::newRow("unknown name") << QByteArray(R"({"colors":[{"prime":7,"color":"blurple"}]})")
                                  << 7 << QColor();
}

void LatticeTest::readsColours()
{
    QFETCH(QByteArray, file);
    QFETCH(int, step);
    QFETCH(QColor, expected);
    Lattice lattice;
    fromJson(lattice, file);
    QCOMPARE(lattice.colorForPrime(step), expected);
    QCOMPARE(lattice.root()->color(), lattice.colorForPrime(1));
    QVERIFY(lattice.root()->children().isEmpty());
}

void LatticeTest::roundTripsThroughJson()
{
    Lattice defaults;
    defaults.setDefaults();
    Lattice copy;
    copy.read(toJson(defaults));
    QCOMPARE(toJson(copy), toJson(defaults));
    QCOMPARE(ball(copy, "/2/-3/-17")->color(), QColor(7, 116, 7));
}

void LatticeTest::skipsWhatTheTreeCannotHold_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QString>("warning");
    auto skipped = [](const char* key, const char* under, const char* why) {
        return QStringLiteral("Skipped the ball at key \"%1\" under ball \"%2\": %3.")
            .arg(key, under, why);
    };
    auto dropped = [](const char* key, const char* why) {
        return QStringLiteral("Dropped the link at key \"%1\" of ball \"/\": %2.").arg(key, why);
    };
    const QStringList rootAndThree{"/", "/3"};
    for (const char* key : {"0", "4", "29", "-31", "three", "", "3.0"}) {
        QTest::addRow("child key \"%s\"", key)
            << QStringLiteral(R"({"root":{"children":{"3":{},"%1":{"children":{"5":{}}}}}})")
                   .arg(key)
                   .toUtf8()
            << rootAndThree << skipped(key, "/", "not a prime step");
    }
    QByteArray deepest = R"({"children":{"5":{}},"links":{"-3":"/3"}})";
    for (int depth = 0; depth < LatticePath::maxSteps; ++depth)
        deepest = R"({"children":{"3":)" + deepest + "}}";
    QTest::newRow("seventh step")
        << QByteArray(R"({"root":)" + deepest + "}")
        << QStringList{"/",        "/3",         "/3/3",         "/3/3/3",
                       "/3/3/3/3", "/3/3/3/3/3", "/3/3/3/3/3/3", "/3/3/3/3/3/3 -3>/3"}
        << skipped("5", "/3/3/3/3/3/3", "deeper than 6 steps");
    auto link = [](const char* key, const char* value) {
        return QStringLiteral(R"({"root":{"children":{"3":{}},"links":{"2":"/3","%1":%2}}})")
            .arg(key, value)
            .toUtf8();
    };
    const QStringList keptLink{"/", "/ 2>/3", "/3"};
    QTest::newRow("link to bad path")
        << link("3", "\"/9\"") << keptLink << dropped("3", "\"/9\" is not a lattice path");
    QTest::newRow("link to no ball")
        << link("5", "\"/5\"") << keptLink << dropped("5", "no ball at \"/5\"");
    QTest::newRow("link key not a step")
        << link("4", "\"/3\"") << keptLink << dropped("4", "not a prime step");
    QTest::newRow("link not a string")
        << link("-2", "3") << keptLink << dropped("-2", "the target is not a path string");
}

void LatticeTest::skipsWhatTheTreeCannotHold()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, tree);
    QFETCH(QString, warning);
    Lattice lattice;
    LogCapture log;
    fromJson(lattice, file);
    QCOMPARE(describeTree(lattice), tree);
    QCOMPARE(log.texts(QtWarningMsg), QStringList{warning});
}

// Depth-first in ascending step order: of root, /-3/3 and /3/-3, all at
// 1/1, the last visited holds the entry. A ratio that cannot be formed, from
// a bad step or from overflow, is left out.
void LatticeTest::indexesSoundingRatios()
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
    QCOMPARE(log.texts(QtWarningMsg),
             QStringList{"Left 2 lattice ball(s) out of the ball index: their ratios cannot be "
                         "formed at transposition 4052555153018976267/4611686018427387904."});
    QCOMPARE(lattice.ballForRatio(bigTransposition * LatticeRatio(3, 2)), ball(lattice, "/3"));
    QVERIFY(!lattice.ballForRatio(LatticeRatio()));
    QVERIFY(!lattice.ballForRatio(LatticeRatio(9, 4))); // /3/3 before the transposition
}

void LatticeTest::cancelsOppositeTransposeSteps_data()
{
    QTest::addColumn<QList<int>>("primes");
    QTest::addColumn<QList<int>>("steps");
    QTest::newRow("3 -3") << QList<int>{3, -3} << QList<int>{};
    QTest::newRow("3 5 -3") << QList<int>{3, 5, -3} << QList<int>{5};
    QTest::newRow("reset") << QList<int>{3, 5, 0} << QList<int>{};
    QTest::newRow("last occurrence") << QList<int>{3, 5, 3, -3} << QList<int>{3, 5};
    QTest::newRow("nested") << QList<int>{-3, 5, -5, 3, 7} << QList<int>{7};
    QTest::newRow("after reset") << QList<int>{3, 0, -3} << QList<int>{-3};
}

void LatticeTest::cancelsOppositeTransposeSteps()
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

void LatticeTest::recomputesPlayingAfterTransposition()
{
    Lattice lattice;
    lattice.setDefaults();
    LatticeBall* fifth = ball(lattice, "/3");
    QSignalSpy fifthPlaying(fifth, &LatticeBall::playingChanged);
    lattice.onNoteToggled(LatticeRatio(3, 2), true);
    lattice.onTransposed(LatticeRatio(3, 2), 3);
    QVERIFY(!fifth->isPlaying() && lattice.root()->isPlaying()); // the 1/1 now sounds 3/2
    lattice.onTransposed(LatticeRatio(1), 0);
    QVERIFY(fifth->isPlaying() && !lattice.root()->isPlaying());
    lattice.onNoteToggled(LatticeRatio(3, 2), false);
    QCOMPARE(fifthPlaying.count(), 4);
    QVERIFY(!fifth->isPlaying());
}

void LatticeTest::canTransposeTo_data()
{
    QTest::addColumn<float>("base");
    QTest::addColumn<LatticeRatio>("transposition");
    QTest::addColumn<LatticeRatio>("step");
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<QString>("record"); // the debug record it must write, if any
    const LatticeRatio one(1), up(2), down(1, 2);
    QTest::newRow("19.99 Hz") << 39.98f << one << down << false << QString();
    QTest::newRow("20 Hz") << 40.0f << one << down << true << QString();
    QTest::newRow("20000 Hz") << 10000.0f << one << up << true << QString();
    QTest::newRow("20000.5 Hz") << 10000.25f << one << up << false << QString();
    QTest::newRow("near overflow")
        << 440.0f << bigTransposition << LatticeRatio(2, 3) << true << QString();
    QTest::newRow("overflow") // 3^41 at the ball /3
        << 440.0f << bigTransposition << LatticeRatio(3, 2) << false
        << "\"canTransposeTo fail on 4052555153018976267/4611686018427387904 to 3/2:\n"
           "  ball: /3 at 3/2 can't be played\"";
}

void LatticeTest::canTransposeTo()
{
    QFETCH(float, base);
    QFETCH(LatticeRatio, transposition);
    QFETCH(LatticeRatio, step);
    QFETCH(bool, allowed);
    QFETCH(QString, record);
    Lattice lattice;
    fromJson(lattice, R"({"root":{"children":{"3":{}}}})");
    lattice.onBaseFrequencyChanged(base);
    lattice.onTransposed(transposition, 3);
    LogCapture log;
    QCOMPARE(lattice.canTransposeTo(step), allowed);
    const QStringList records = log.texts(QtDebugMsg).filter("canTransposeTo");
    QCOMPARE(records, record.isEmpty() ? QStringList() : QStringList{record});
}

void LatticeTest::primeEnablingFollowsSubtrees_data()
{
    QTest::addColumn<QList<int>>("toggles"); // +p enables p, -p disables it
    QTest::addColumn<int>("disabled");
    QTest::addColumn<QStringList>("checks"); // "+path" enabled, "-path" disabled
    QTest::newRow("5 off") << QList<int>{-5} << 38
                           << QStringList{"+/", "+/3", "+/3/7", "-/5", "-/-2/3/3/-5"};
    QTest::newRow("1 off") << QList<int>{-1} << 285 << QStringList{"-/", "-/2/3/3/23"};
    QTest::newRow("1 off and on") << QList<int>{-1, 1} << 0 << QStringList{"+/-3/-3/-3/7"};
    QTest::newRow("3 and 5 off") << QList<int>{-3, -5} << 233
                                 << QStringList{"+/-2/7", "-/3", "-/3/7", "-/-2/5"};
    // The subtree rule brings /3/5 back although /3 stays off.
    QTest::newRow("5 back behind 3")
        << QList<int>{-3, -5, 5} << 195 << QStringList{"+/3/5", "+/5", "-/3", "-/3/7"};
}

void LatticeTest::primeEnablingFollowsSubtrees()
{
    QFETCH(QList<int>, toggles);
    QFETCH(int, disabled);
    QFETCH(QStringList, checks);
    Lattice lattice;
    lattice.setDefaults();
    for (int toggle : toggles)
        lattice.onPrimeEnabledToggled(std::abs(toggle), toggle > 0);
    int count = 0;
    forEachBall(lattice.root(), [&](LatticeBall* ball) { count += ball->isEnabled() ? 0 : 1; });
    QCOMPARE(count, disabled);
    for (const QString& check : checks)
        QVERIFY2(ball(lattice, check.mid(1))->isEnabled() == check.startsWith('+'),
                 qPrintable(check));
}

void LatticeTest::spellsBalls_data()
{
    QTest::addColumn<QList<int>>("transposeSteps");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::addColumn<float>("cents");
    QTest::newRow("/3 up a fifth") << QList<int>{3} << "/3"
                                   << "B5" << 3.91f;
    QTest::newRow("/-5 up a third") << QList<int>{5} << "/-5"
                                    << "A4" << 0.0f;
}

// The base frequency setting is 440 Hz; the player's report of 220 Hz must
// not move the letters.
void LatticeTest::spellsBalls()
{
    QFETCH(QList<int>, transposeSteps);
    QFETCH(QString, path);
    QFETCH(QString, name);
    QFETCH(float, cents);
    Settings settings;
    Lattice lattice;
    lattice.setDefaults();
    lattice.onBaseFrequencyChanged(220.0f);
    LatticeRatio total(1);
    for (int step : transposeSteps)
        lattice.onTransposed(total *= PrimeSteps::stepRatio(step), step);
    const LatticeBall* target = ball(lattice, path);
    const float frequency = float(440.0 * target->ratio()->toDouble() * total.toDouble());
    const SpelledNote note = lattice.noteForBall(*target, frequency, settings);
    QCOMPARE(note.name(), name);
    QVERIFY2(std::abs(note.cents - cents) < 0.01f, qPrintable(QString::number(note.cents)));
}

QTEST_GUILESS_MAIN(LatticeTest)
#include "LatticeTest.moc"
