#include "SpelledNote.h"
#include "LatticeRatio.h"
#include "NoteInterval.h"

#include <QtTest>

class SpelledNoteTest : public QObject
{
    Q_OBJECT

private slots:
    void spellsLatticeSteps_data();
    void spellsLatticeSteps();
    void respellsWhereLetterArithmeticRunsOut();
    void setsFromSemitones_data();
    void setsFromSemitones();
    void addsCents_data();
    void addsCents();
    void refusesUnspellableFrequencies();
    void intervalNamesRoundTrip_data();
    void intervalNamesRoundTrip();
    void parsesOtherIntervalNames();
};

using Steps = QList<int>;

static Steps repeated(int step, int count)
{
    return Steps::fromVector(QVector<int>(count, step));
}

void SpelledNoteTest::spellsLatticeSteps_data()
{
    QTest::addColumn<float>("base");
    QTest::addColumn<int>("calibration");
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("cents");
    QTest::addColumn<bool>("respelled");
    const Steps seventeenFifthsDown = repeated(3, 17) + repeated(-2, 10);
    QTest::newRow("root") << 440.0f << 440 << Steps{} << "A4" << 0.0 << false;
    QTest::newRow("fifth up") << 440.0f << 440 << Steps{3} << "E5" << 1.955 << false;
    QTest::newRow("fifth down") << 440.0f << 440 << Steps{-3} << "D4" << -1.955 << false;
    QTest::newRow("octave") << 440.0f << 440 << Steps{2} << "A5" << 0.0 << false;
    QTest::newRow("5") << 440.0f << 440 << Steps{5} << "C#5" << -13.686 << false;
    QTest::newRow("7") << 440.0f << 440 << Steps{7} << "G5" << -31.174 << false;
    QTest::newRow("11") << 440.0f << 440 << Steps{11} << "D#5" << -48.682 << false;
    QTest::newRow("four fifths") << 440.0f << 440 << Steps{3, 3, 3, 3} << "C#7" << 7.820 << false;
    QTest::newRow("seventeen fifths, octaves down")
        << 440.0f << 440 << seventeenFifthsDown << "G#4" << 33.235 << true;
    // Letter arithmetic would write C##; a respelled note follows its frequency.
    QTest::newRow("then 11 by frequency")
        << 440.0f << 440 << seventeenFifthsDown + Steps{11} << "D5" << -15.447 << true;
    QTest::newRow("calibration 432") << 440.0f << 432 << Steps{} << "A4" << 31.767 << false;
    QTest::newRow("base 256") << 256.0f << 440 << Steps{} << "C4" << -37.632 << false;
}

void SpelledNoteTest::spellsLatticeSteps()
{
    QFETCH(float, base);
    QFETCH(int, calibration);
    QFETCH(Steps, steps);
    QFETCH(QString, name);
    QFETCH(double, cents);
    QFETCH(bool, respelled);
    double sounding = base;
    for (int step : steps)
        sounding *= PrimeSteps::stepRatio(step).toDouble();

    const SpelledNote note = spellLatticeNote(base, calibration, steps, float(sounding));
    QCOMPARE(note.name(), name);
    QVERIFY2(qAbs(note.cents - cents) < 0.01, qPrintable(QString::number(note.cents)));
    QCOMPARE(note.respelled, respelled);
}

void SpelledNoteTest::respellsWhereLetterArithmeticRunsOut()
{
    SpelledNote note = SpelledNote::fromSemitones(57, 0);
    for (int i = 0; i < 16; ++i)
        note.transposeBy(3, 440);
    QCOMPARE(note.name(), QString("B##13"));
    QVERIFY(!note.respelled);
    note.transposeBy(3, 440); // F### is out of reach
    QCOMPARE(note.name(), QString("G#14"));
    QVERIFY(note.respelled);
    note.transposeBy(-2, 440);
    QCOMPARE(note.name(), QString("G#13"));
    QVERIFY(qAbs(note.cents) < 0.01f);
    note.transposeBy(4, 440); // not a prime: nothing moves
    QCOMPARE(note.name(), QString("G#13"));
}

void SpelledNoteTest::setsFromSemitones_data()
{
    QTest::addColumn<float>("semitones");
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("cents");
    QTest::newRow("rounds up to C5") << 59.7f << "C5" << -30.0;
    QTest::newRow("half stays below") << 57.5f << "A4" << 50.0;
    QTest::newRow("octave from rounded number") << 11.9f << "C1" << -10.0;
    QTest::newRow("flat spelling") << 70.2f << "Bb5" << 20.0;
}

void SpelledNoteTest::setsFromSemitones()
{
    QFETCH(float, semitones);
    QFETCH(QString, name);
    QFETCH(double, cents);
    SpelledNote note;
    QVERIFY(note.setFromSemitones(semitones));
    QCOMPARE(note.name(), name);
    QVERIFY(qAbs(note.cents - cents) < 0.001);
    QVERIFY(!note.respelled);

    SpelledNote back;
    QVERIFY(back.setFromFrequency(note.frequency(), 440));
    QCOMPARE(back.name(), name);
    QVERIFY(qAbs(back.semitoneNumber() - double(semitones)) < 0.0001);
}

void SpelledNoteTest::addsCents_data()
{
    QTest::addColumn<float>("added");
    QTest::addColumn<bool>("respelled");
    QTest::newRow("just inside below") << -49.4f << false;
    QTest::newRow("exactly -49.5") << -49.5f << true;
    QTest::newRow("exactly 50.5") << 50.5f << false;
    QTest::newRow("just beyond above") << 50.6f << true;
}

void SpelledNoteTest::addsCents()
{
    QFETCH(float, added);
    QFETCH(bool, respelled);
    SpelledNote note = SpelledNote::fromSemitones(57, 0);
    note.addCents(added);
    QCOMPARE(note.respelled, respelled);
    QVERIFY(qAbs(note.semitoneNumber() - (57.0 + added / 100.0)) < 0.0001);
    if (respelled)
        QVERIFY(note.cents > -49.5f && note.cents <= 50.5f);
    else
        QCOMPARE(note.name(), QString("A4"));
}

void SpelledNoteTest::refusesUnspellableFrequencies()
{
    SpelledNote note = SpelledNote::fromFrequency(660.0f, 440);
    QVERIFY(!note.setFromFrequency(0.0f, 440));
    QVERIFY(!note.setFromFrequency(-1.0f, 440));
    QVERIFY(!note.setFromFrequency(qInf(), 440));
    QVERIFY(!note.setFromFrequency(440.0f, 0));
    QVERIFY(!note.setFromSemitones(qQNaN()));
    QCOMPARE(note.name(), QString("E5"));
}

void SpelledNoteTest::intervalNamesRoundTrip_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("semitones");
    const QStringList names{"p8", "p5", "M3", "m7", "aug4", "m6", "m2", "m3", "aug4"};
    const QList<int> primes{2, 3, 5, 7, 11, 13, 17, 19, 23}, sizes{12, 7, 4, 10, 6, 8, 1, 3, 6};
    for (int i = 0; i < primes.size(); ++i) {
        QTest::addRow("%d", primes[i]) << primes[i] << names[i] << sizes[i];
        QTest::addRow("%d", -primes[i]) << -primes[i] << '-' + names[i] << -sizes[i];
    }
    QTest::newRow("unknown magnitude") << 9 << "p1" << 0;
    QTest::newRow("unknown, downwards") << -4 << "-p1" << 0;
}

void SpelledNoteTest::intervalNamesRoundTrip()
{
    QFETCH(int, step);
    QFETCH(QString, text);
    QFETCH(int, semitones);
    const NoteInterval interval = NoteInterval::fromStep(step);
    QCOMPARE(interval.toString(), text);
    QCOMPARE(interval.semitones(), semitones);
    const NoteInterval parsed = NoteInterval::fromName(text);
    QCOMPARE(parsed.toString(), text);
    QCOMPARE(parsed.semitones(), semitones);
}

void SpelledNoteTest::parsesOtherIntervalNames()
{
    // "dim" is one below a perfect interval but two below a major one.
    QCOMPARE(NoteInterval::fromName("dim5").semitones(), 6);
    QCOMPARE(NoteInterval::fromName("-dim7").semitones(), -9);
    QCOMPARE(NoteInterval::fromName("dim7").toString(), QString("dim7"));
    QCOMPARE(NoteInterval::fromName("x5").toString(), QString("p5"));
    QCOMPARE(NoteInterval::fromName("M").toString(), QString("p1"));
}

QTEST_APPLESS_MAIN(SpelledNoteTest)
#include "SpelledNoteTest.moc"
