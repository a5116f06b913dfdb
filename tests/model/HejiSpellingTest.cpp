// Ratios written in the Helmholtz-Ellis notation. The rows over C are the
// harmonics of the notation's published legend (2020 commas).

#include "HejiSpelling.h"
#include "ScalaLattice.h"

#include <QtTest>
#include <cmath>

namespace {

// Pythagorean C4 and Bb4 from A4 = 440 Hz: pure ratios above them notate at 0 cents.
constexpr float c4 = 440.0f * 16 / 27;
constexpr float bFlat4 = 440.0f * 256 / 243;

void row(const char* ratio, float base, const char* written, double cents = 0.0,
         int calibration = 440)
{
    QTest::addRow("%s over %g", ratio, double(base))
        << ratio << base << calibration << QString(written) << cents;
}

} // namespace

class HejiSpellingTest : public QObject
{
    Q_OBJECT

private slots:
    // Name, then each prime's symbols: "^" raises by its comma, "v" lowers.
    void writesLetterAccidentalAndCommas_data()
    {
        QTest::addColumn<QString>("ratio");
        QTest::addColumn<float>("base");
        QTest::addColumn<int>("calibration");
        QTest::addColumn<QString>("written");
        QTest::addColumn<double>("cents");
        const char* const legend[][2] = {
            {"1/1", "C4"},         {"27/16", "A4"},    {"5/4", "E4 5v"},     {"7/4", "Bb4 7v"},
            {"11/8", "F4 11^"},    {"13/8", "A4 13v"}, {"15/8", "B4 5v"},    {"17/16", "C#4 17v"},
            {"19/16", "Eb4 19^"},  {"21/16", "F4 7v"}, {"23/16", "F#4 23^"}, {"25/16", "G#4 5vv"},
            {"35/32", "D4 5v 7v"}, {"8/5", "Ab4 5^"},  {"2/3", "F3"}};
        for (const auto& [ratio, written] : legend)
            row(ratio, c4, written);
        row("5/4", 440.0f, "C#5 5v");
        row("8/13", 440.0f, "C4 13^");
        row("5/4", bFlat4, "D5 5v"); // the black ball's flat counts
        row("3/2", 440.0f, "E5", 1200 * std::log2(440.0 / 442.0), 442);
        // Beyond double sharps and flats, a Pythagorean comma away.
        row("3125/2048", c4, "G#4 5vvvvv enh", 23.46);
        row("4096/3125", c4, "Fb4 5^^^^^ enh", -23.46);
    }

    void writesLetterAccidentalAndCommas()
    {
        QFETCH(QString, ratio);
        QFETCH(float, base);
        const QStringList terms = ratio.split('/');
        const LatticeRatio value(terms[0].toULongLong(), terms[1].toULongLong());
        const std::optional<QList<int>> steps = stepsForRatio(value);
        QVERIFY(steps);

        QFETCH(int, calibration);
        const HejiSpelling heji = spellHejiNote(base, calibration, *steps, base * value.toDouble());
        const QString enharmonic = heji.note.respelled ? QStringLiteral("enh") : QString();
        QFETCH(QString, written);
        QCOMPARE(
            QStringList({heji.note.name(), heji.symbolText(), enharmonic}).join(' ').simplified(),
            written);
        QFETCH(double, cents);
        QVERIFY2(std::abs(heji.note.cents - cents) < 0.01,
                 qPrintable(QString::number(heji.note.cents)));
    }
};

QTEST_APPLESS_MAIN(HejiSpellingTest)
#include "HejiSpellingTest.moc"
