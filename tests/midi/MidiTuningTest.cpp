#include "MidiTuning.h"
#include "MidiNoteAllocator.h"

#include <QtTest>
#include <cmath>

using namespace MidiTuning;
using R = LatticeRatio;
using Bytes = std::vector<std::uint8_t>;
using Pitch = std::tuple<double, double, bool, bool>; // Hz, A4, has a key, has an MTS pitch
Q_DECLARE_METATYPE(Pitch)

class MidiTuningTest : public QObject
{
    Q_OBJECT

    static double cents(double hz, double other) { return std::abs(1200 * std::log2(hz / other)); }
    static double at440(double semitones) { return 440 * std::pow(2.0, semitones / 12); }

private slots:
    void encodesAndDecodes_data()
    {
        QTest::addColumn<Pitch>("pitch");
        const int ratios[][2] = {{1, 1}, {81, 80}, {7, 4}, {3, 8}, {6, 1}, {13, 32}};
        for (double base : {220.0, 261.63, 432.0})
            for (double a4 : {440.0, 442.0})
                for (const auto& [n, d] : ratios)
                    QTest::addRow("%g * %d/%d at %g", base, n, d, a4)
                        << Pitch(base * n / d, a4, true, true);
        // Semitones from A4 440: half-way, a hair below a key (the fraction carries), the
        // ends of the keys and of MTS, which stops a fraction step short of key 128.
        const double step = 1 / 16384.0;
        const double edges[][3] = {{0.5, 1, 1},    {-1e-7, 1, 1},         {-69, 1, 1},
                                   {-69.01, 1, 0}, {-69.6, 0, 0},         {58, 1, 1},
                                   {58.6, 0, 1},   {59 - 2 * step, 0, 1}, {59 - step, 0, 0}};
        for (const auto& [semitones, hasKey, hasMts] : edges)
            QTest::addRow("%.9g semitones", semitones)
                << Pitch(at440(semitones), 440, hasKey, hasMts);
        for (double hz : {0.0, -440.0, double(NAN), HUGE_VAL})
            QTest::addRow("%g Hz", hz) << Pitch(hz, 440, false, false);
    }

    // Round trips within 0.6 cent by MPE at bend range 48, 0.03 at range 2, 0.01 by MTS.
    void encodesAndDecodes()
    {
        QFETCH(Pitch, pitch);
        const auto [hz, a4, hasKey, hasMts] = pitch;
        const std::optional<int> key = nearestKey(hz, a4);
        QCOMPARE(key.has_value(), hasKey);
        QVERIFY(!key || std::abs(12 * std::log2(hz / a4) - (*key - 69)) <= 0.5 + 1e-9);
        for (const auto& [range, tolerance] : {std::pair(48, 0.6), std::pair(2, 0.03)}) {
            const std::optional<BentNote> bent = bentNote(hz, a4, range);
            QCOMPARE(bent.has_value(), hasKey);
            QVERIFY(!bent ||
                    (bent->key == *key && cents(frequencyOf(*bent, a4, range), hz) < tolerance));
        }
        const std::optional<MtsPitch> mts = mtsPitch(hz, a4);
        QCOMPARE(mts.has_value(), hasMts);
        QVERIFY(!mts || (mts->fraction >= 0 && mts->fraction < 16384 &&
                         cents(frequencyOf(*mts, a4), hz) < 0.01));
    }

    // 495 Hz, 9/8 of A4 440, is 12 * log2(1.125) = 2.03910 semitones up: semitone 71 (0x47),
    // fraction 0.03910 * 16384 = 640.6 -> 641 = 5 * 128 + 1, bytes 0x05 0x01; on key 60 (0x3c).
    void encodesMessages()
    {
        QVERIFY(singleNoteTuning(60, mtsPitch(495, 440).value()) ==
                SingleNoteTuning({0xF0, 0x7F, 0x7F, 8, 2, 0, 1, 0x3C, 0x47, 0x05, 0x01, 0xF7}));
        QVERIFY(!bentNote(440, 440, 0) && !bentNote(440, 440, 97));
        QVERIFY(bentNote(440, 440, 1) && bentNote(440, 440, 96));
        // MPE: the manager's 3rd message sets the zone size, each member's 3rd of 6 its range.
        for (int members : {15, 7, 0}) {
            const auto sent = mpeConfiguration(members, members + 2);
            QCOMPARE(int(sent.size()), 5 + 6 * members);
            QVERIFY(sent[2] == Bytes({0xB0, 6, std::uint8_t(members)}));
            for (int c = 1; c <= members; ++c)
                QVERIFY(sent[std::size_t(6 * c + 1)] ==
                        Bytes({std::uint8_t(0xB0 + c), 6, std::uint8_t(members + 2)}));
        }
    }

    // Channels fill in order, keys outwards from 60; then a note takes the oldest's place.
    void fillsAndSteals()
    {
        for (bool byKey : {false, true}) {
            auto places = byKey ? MidiNoteAllocator::keys() : MidiNoteAllocator::memberChannels();
            const int count = byKey ? 128 : 15;
            QSet<int> taken;
            for (int n = 1, last = 60; n <= count; ++n) {
                const int place = places.noteOn(R(n), 60).place;
                QVERIFY(byKey ? unsigned(place) < 128 && std::abs(place - 60) >= std::abs(last - 60)
                              : place == n);
                taken << (last = place);
            }
            QVERIFY(taken.size() == count && places.soundingCount() == count);
            for (int oldest : {1, 2}) {
                const std::optional<int> place = places.placeOf(R(oldest));
                const auto grant = places.noteOn(R(count + oldest), 60);
                QVERIFY(grant.stolen == R(oldest) && grant.place == place &&
                        !places.placeOf(R(oldest)));
            }
        }
    }

    // Steps: note n on preferring key p (p -1: its note off), and the key it takes or
    // frees (-1: none). Nearest first, then the key free longest, never used first.
    void prefersNearestKey()
    {
        const int steps[][3] = {{1, 60, 60}, {2, 60, 59},    {3, 60, 61},   {3, -1, 61},
                                {3, -1, -1}, {2, -1, 59},    {5, 60, 61},   {6, 60, 59},
                                {7, 60, 58}, {7, -1, 58},    {8, 60, 62},   {9, 60, 58},
                                {1, 20, 60}, {10, 127, 127}, {11, 127, 126}};
        MidiNoteAllocator keys = MidiNoteAllocator::keys();
        for (const auto& [n, p, place] : steps)
            QCOMPARE(p < 0 ? keys.noteOff(R(n)).value_or(-1) : keys.noteOn(R(n), p).place, place);
    }
};

QTEST_APPLESS_MAIN(MidiTuningTest)
#include "MidiTuningTest.moc"
