#include "LatticePath.h"
#include "LatticeRatio.h"
#include "NoteInterval.h"
#include "SpelledNote.h"

#include <QtTest>
#include <limits>

// Lattice paths, the exact ratios they stand for, and the notes they are spelled as.
class LatticePathTest : public QObject
{
    Q_OBJECT

private slots:
    // Each row: text|how the path prints|its ratio. Anything after the sixth
    // step is cut, also when appended. Refused text leaves the invalid
    // path; an appended step is not checked against the prime table.
    void parsesPrintsAndEdits()
    {
        for (const QString row :
             {"|/|1/1", "2/-3/3|/2/-3/3|2/1", "//2/-3//-3/-3/|/2/-3/-3/-3|16/27",
              "/3/5/7/11/13/17/3|/3/5/7/11/13/17|255255/32768",
              "/-23/-23/-23/-23/-23/-23/x|/-23/-23/-23/-23/-23/-23|16777216/148035889"}) {
            const QStringList parts = row.split('|');
            LatticePath path(QStringLiteral("/3/5"));
            QVERIFY(path.storeFromString(parts[0]));
            QCOMPARE(path.toString(), parts[1]);
            QCOMPARE(path.length(), parts[1].count('/') - (parts[1] == "/" ? 1 : 0));
            QCOMPARE(LatticePath(path.toString()), path);
            QCOMPARE(path.ratio().value_or(LatticeRatio()).toString(), parts[2]);
        }
        for (const char* text :
             {"/4", "/2/x", "/0", "/29", "/3/1", "/+-3", "/3.0", "/-2147483648"}) {
            LatticePath path(QStringLiteral("/3/5"));
            QVERIFY2(!path.storeFromString(text), text);
            QVERIFY(path == LatticePath::invalid() && !path.ratio());
            QCOMPARE(path.toString(), QString("/127"));
        }
        LatticePath path; // the root
        path.removeLast();
        QCOMPARE(path, LatticePath());
        for (int step : {2, -3, 5, 7, -11, 13, 17})
            path.append(step);
        QCOMPARE(path.toString(), QString("/2/-3/5/7/-11/13"));
        path.removeLast();
        QCOMPARE(path.toList(), (QList<int>{2, -3, 5, 7, -11}));
        path.append(-4);
        QVERIFY(path.isValid() && !path.ratio().has_value());
    }

    // Products that would overflow 64 bits are refused. Equal ratios hash
    // alike; ratios that differ only above the low 32 bits of a term hash
    // apart and are both found in a hash. A path's order counts, but not the
    // bytes behind its terminator.
    void ratiosMultiplyStepAndHash()
    {
        QCOMPARE(LatticeRatio(6, 4).toString(), QString("3/2"));
        QCOMPARE(LatticeRatio(5, 0).toString(), QString("0/1")); // never raises
        QCOMPARE(LatticeRatio(18446744073709551615ull, 3).toString(),
                 QString("6148914691236517205/1"));
        const LatticeRatio fifth(3, 2);
        QCOMPARE(fifth * fifth.reciprocal(), LatticeRatio(1));
        QCOMPARE((fifth * LatticeRatio(4, 3)).toDouble(), 2.0);
        QCOMPARE(PrimeSteps::stepRatio(-7), LatticeRatio(4, 7));
        // The reciprocal of 0/1 and an unsupported step would divide by zero.
        QCOMPARE(LatticeRatio().reciprocal(), LatticeRatio());
        QCOMPARE(PrimeSteps::stepRatio(-4), LatticeRatio());
        QCOMPARE(PrimeSteps::stepRatio(std::numeric_limits<int>::min()), LatticeRatio());
        for (int step : {0, 1, -1, 4, -9, 24, -29, 127, 1000, std::numeric_limits<int>::min(),
                         std::numeric_limits<int>::max()})
            QVERIFY2(!isValidStep(step), qPrintable(QString::number(step)));
        // The single-precision table must agree with the exact one.
        int valid = 0;
        for (int magnitude = 0; magnitude < PrimeSteps::tableSize; ++magnitude) {
            if (!isValidStep(magnitude))
                continue;
            ++valid;
            QVERIFY(isValidStep(-magnitude));
            const double interval = PrimeSteps::exactInterval(magnitude).toDouble();
            QVERIFY(interval > 1.0 && interval <= 2.0);
            QCOMPARE(PrimeSteps::floatInterval(magnitude), float(interval));
        }
        QCOMPARE(valid, 9);
        const std::tuple<quint64, quint64, bool> products[] = {
            {1ull << 32, (1ull << 32) - 1, true},
            {1ull << 33, 1ull << 32, false},
            {4294967311ull, 4294967357ull, false}};
        for (const auto& [a, b, fits] : products)
            QCOMPARE(LatticeRatio(a, 1).canMultiplyWith(LatticeRatio(b, 1)), fits);
        const LatticePath a(QStringLiteral("/2/-3")), b(QStringLiteral("/-3/2"));
        QCOMPARE(*a.ratio(), *b.ratio());
        QVERIFY(a != b && qHash(a, 0) != qHash(b, 0));
        QCOMPARE(LatticePath::fromBytes({3, 0, 5, 7, 0, 0, 0}), LatticePath(3));
        QCOMPARE(qHash(LatticeRatio(6, 4)), qHash(LatticeRatio(3, 2)));
        const LatticeRatio high((std::uint64_t(1) << 32) + 3, 2);
        QVERIFY(qHash(high) != qHash(LatticeRatio(3, 2)));
        QVERIFY(qHash(LatticeRatio(3, (std::uint64_t(1) << 33) + 1)) != qHash(LatticeRatio(3)));
        QHash<LatticeRatio, int> index{{LatticeRatio(3, 2), 1}, {high, 2}};
        QCOMPARE(index.value(LatticeRatio(3, 2)), 1);
        QCOMPARE(index.value(high), 2);
    }

    // Each case: base, calibration, steps, the name (" enh" when respelled),
    // the cents. A respelled note follows its frequency: letter arithmetic
    // would write C## for the last.
    void spellsLatticeSteps()
    {
        const QList<int> fifthsDown = QVector<int>(17, 3).toList() + QVector<int>(10, -2).toList();
        const std::tuple<float, int, QList<int>, const char*, double> cases[] = {
            {440.0f, 440, {3}, "E5", 1.955},
            {440.0f, 440, {-3}, "D4", -1.955},
            {440.0f, 440, {2}, "A5", 0.0},
            {440.0f, 440, {5}, "C#5", -13.686},
            {440.0f, 440, {7}, "G5", -31.174},
            {440.0f, 440, {11}, "D#5", -48.682},
            {440.0f, 440, {3, 3, 3, 3}, "C#7", 7.820},
            {440.0f, 432, {}, "A4", 31.767},
            {256.0f, 440, {}, "C4", -37.632},
            {440.0f, 440, fifthsDown, "G#4 enh", 33.235},
            {440.0f, 440, fifthsDown + QList<int>{11}, "D5 enh", -15.447}};
        for (const auto& [base, calibration, steps, name, cents] : cases) {
            double sounding = base;
            for (int step : steps)
                sounding *= PrimeSteps::stepRatio(step).toDouble();
            const SpelledNote note = spellLatticeNote(base, calibration, steps, float(sounding));
            QCOMPARE(note.name() + (note.respelled ? " enh" : ""), QString(name));
            QVERIFY2(qAbs(note.cents - cents) < 0.01, qPrintable(QString::number(note.cents)));
        }
    }

    // Letter arithmetic runs out past double sharps; added cents beyond (-49.5, 50.5] too.
    void respellsWhereSpellingRunsOut()
    {
        SpelledNote note = SpelledNote::fromSemitones(57, 0);
        for (int i = 0; i < 16; ++i)
            note.transposeBy(3, 440);
        QCOMPARE(note.name(), QString("B##13"));
        QVERIFY(!note.respelled);
        note.transposeBy(3, 440); // F### is out of reach
        QCOMPARE(note.name(), QString("G#14"));
        QVERIFY(note.respelled);
        note.transposeBy(4, 440); // not a prime: nothing moves
        QCOMPARE(note.name(), QString("G#14"));
        const std::pair<float, bool> cases[] = {
            {-49.4f, false}, {-49.5f, true}, {50.5f, false}, {50.6f, true}};
        for (const auto& [added, respelled] : cases) {
            note = SpelledNote::fromSemitones(57, 0);
            note.addCents(added);
            QCOMPARE(note.respelled, respelled);
            QVERIFY(qAbs(note.semitoneNumber() - (57.0 + added / 100.0)) < 0.0001);
            if (respelled)
                QVERIFY(note.cents > -49.5f && note.cents <= 50.5f);
            else
                QCOMPARE(note.name(), QString("A4"));
        }
    }

    // Rounds to the nearest name, a half rounding down, and reads back from
    // the frequency. What cannot be spelled leaves the note as it was.
    void setsFromSemitones()
    {
        const std::tuple<float, const char*, double> cases[] = {
            {59.7f, "C5", -30.0}, {57.5f, "A4", 50.0}, {58.6f, "B4", -40.0}, {70.2f, "Bb5", 20.0}};
        for (const auto& [semitones, name, cents] : cases) {
            SpelledNote note, back;
            QVERIFY(note.setFromSemitones(semitones));
            QCOMPARE(note.name(), QString(name));
            QVERIFY(qAbs(note.cents - cents) < 0.001);
            QVERIFY(back.setFromFrequency(note.frequency(), 440));
            QCOMPARE(back.name(), QString(name));
            QVERIFY(qAbs(back.semitoneNumber() - double(semitones)) < 0.0001);
        }
        SpelledNote note = SpelledNote::fromFrequency(660.0f, 440);
        QVERIFY(!note.setFromFrequency(0.0f, 440) && !note.setFromFrequency(qInf(), 440));
        QVERIFY(!note.setFromFrequency(440.0f, 0) && !note.setFromSemitones(qQNaN()));
        QCOMPARE(note.name(), QString("E5"));
    }

    void namesIntervals()
    {
        // Every step's name reads back as the same interval.
        for (int step = -24; step <= 24; ++step) {
            const NoteInterval interval = NoteInterval::fromStep(step);
            const NoteInterval parsed = NoteInterval::fromName(interval.toString());
            QCOMPARE(parsed.toString(), interval.toString());
            QCOMPARE(parsed.semitones(), interval.semitones());
        }
        QCOMPARE(NoteInterval::fromStep(-5).toString(), QString("-M3"));
        QCOMPARE(NoteInterval::fromStep(9).toString(), QString("p1"));
        // "dim" is one below a perfect interval but two below a major one.
        QCOMPARE(NoteInterval::fromName("dim5").semitones(), 6);
        QCOMPARE(NoteInterval::fromName("-dim7").semitones(), -9);
        QCOMPARE(NoteInterval::fromName("x5").toString(), QString("p5"));
    }
};

QTEST_APPLESS_MAIN(LatticePathTest)
#include "LatticePathTest.moc"
