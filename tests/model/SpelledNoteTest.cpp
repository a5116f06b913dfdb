#include "SpelledNote.h"
#include "LatticeRatio.h"
#include "NoteInterval.h"

#include <QtTest>

using Steps = QList<int>;

class SpelledNoteTest : public QObject
{
    Q_OBJECT

private slots:
    void spellsLatticeSteps_data()
    {
        QTest::addColumn<float>("base");
        QTest::addColumn<int>("calibration");
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<QString>("name"); // " enh" when respelled
        QTest::addColumn<double>("cents");
        auto row = [](const char* name, const Steps& steps, const char* note, double cents,
                      float base = 440.0f, int calibration = 440) {
            QTest::newRow(name) << base << calibration << steps << note << cents;
        };
        Steps seventeenFifthsDown = Steps::fromVector(QVector<int>(17, 3));
        seventeenFifthsDown += Steps::fromVector(QVector<int>(10, -2));
        row("fifth up", {3}, "E5", 1.955);
        row("fifth down", {-3}, "D4", -1.955);
        row("octave", {2}, "A5", 0.0);
        row("5", {5}, "C#5", -13.686);
        row("7", {7}, "G5", -31.174);
        row("11", {11}, "D#5", -48.682);
        row("four fifths", {3, 3, 3, 3}, "C#7", 7.820);
        row("seventeen fifths, octaves down", seventeenFifthsDown, "G#4 enh", 33.235);
        // Letter arithmetic would write C##; a respelled note follows its frequency.
        row("then 11 by frequency", seventeenFifthsDown + Steps{11}, "D5 enh", -15.447);
        row("calibration 432", {}, "A4", 31.767, 440.0f, 432);
        row("base 256", {}, "C4", -37.632, 256.0f);
    }
    void spellsLatticeSteps()
    {
        QFETCH(float, base);
        QFETCH(int, calibration);
        QFETCH(Steps, steps);
        QFETCH(QString, name);
        QFETCH(double, cents);
        double sounding = base;
        for (int step : steps)
            sounding *= PrimeSteps::stepRatio(step).toDouble();
        const SpelledNote note = spellLatticeNote(base, calibration, steps, float(sounding));
        QCOMPARE(note.name() + (note.respelled ? " enh" : ""), name);
        QVERIFY2(qAbs(note.cents - cents) < 0.01, qPrintable(QString::number(note.cents)));
    }

    void respellsWhereLetterArithmeticRunsOut()
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
    }

    // Rounds to the nearest name, a half rounding down, and reads back from
    // the frequency.
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
    }

    // (added cents, respelled) at the edges of (-49.5, 50.5]
    void addsCents()
    {
        const std::pair<float, bool> cases[] = {
            {-49.4f, false}, {-49.5f, true}, {50.5f, false}, {50.6f, true}};
        for (const auto& [added, respelled] : cases) {
            SpelledNote note = SpelledNote::fromSemitones(57, 0);
            note.addCents(added);
            QCOMPARE(note.respelled, respelled);
            QVERIFY(qAbs(note.semitoneNumber() - (57.0 + added / 100.0)) < 0.0001);
            if (respelled)
                QVERIFY(note.cents > -49.5f && note.cents <= 50.5f);
            else
                QCOMPARE(note.name(), QString("A4"));
        }
    }

    void refusesUnspellableFrequencies()
    {
        SpelledNote note = SpelledNote::fromFrequency(660.0f, 440);
        QVERIFY(!note.setFromFrequency(0.0f, 440));
        QVERIFY(!note.setFromFrequency(qInf(), 440));
        QVERIFY(!note.setFromFrequency(440.0f, 0));
        QVERIFY(!note.setFromSemitones(qQNaN()));
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

QTEST_APPLESS_MAIN(SpelledNoteTest)
#include "SpelledNoteTest.moc"
