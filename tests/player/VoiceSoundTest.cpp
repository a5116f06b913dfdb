#include "LatticeNoteEvent.h"
#include "PlayerMetaTypes.h"
#include "RenderBlocks.h"
#include "TestAudioOutput.h"
#include "TestPatch.h"
#include "ToneAnalysis.h"

#include <QtTest>
#include <cmath>
#include <complex>

namespace {

constexpr int sampleRate = 44100;

double rms(const std::vector<float>& x, std::size_t from, std::size_t count)
{
    double energy = 0.0;
    for (std::size_t i = from; i < from + count; ++i)
        energy += double(x[i]) * double(x[i]);
    return std::sqrt(energy / double(count));
}

// Magnitudes of the Blackman-Harris windowed spectrum of x (its size a power
// of two), bins 0..n/2: sidelobes below -92 dB, enough to see a component
// 60 dB under the strongest partial.
std::vector<double> spectrum(const std::vector<float>& x)
{
    const std::size_t n = x.size();
    const double pi = 3.14159265358979323846;
    std::vector<std::complex<double>> a(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double w = 2.0 * pi * double(i) / double(n - 1);
        a[i] = x[i] * (0.35875 - 0.48829 * std::cos(w) + 0.14128 * std::cos(2 * w) -
                       0.01168 * std::cos(3 * w));
    }
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1)
        for (std::size_t i = 0; i < n; i += len)
            for (std::size_t k = 0; k < len / 2; ++k) {
                const auto t =
                    std::polar(1.0, -2.0 * pi * double(k) / double(len)) * a[i + k + len / 2];
                a[i + k + len / 2] = a[i + k] - t;
                a[i + k] += t;
            }
    std::vector<double> magnitude(n / 2 + 1);
    for (std::size_t i = 0; i < magnitude.size(); ++i)
        magnitude[i] = std::abs(a[i]);
    return magnitude;
}

// How far `hertz` lies from the nearest partial a voice may have: a multiple
// of the note's frequency, or half of it (the organ's 16' drawbar).
double offHarmonic(double hertz, double note)
{
    return std::min(std::fabs(hertz - std::round(hertz / note) * note),
                    std::fabs(hertz - note / 2.0));
}

using ToneAnalysis::largestStep;

} // namespace

// What each shipped voice sounds like through the shipped shell: in tune,
// below full scale with every voice sounding, free of clicks, and changed
// audibly by each of its macros; and the shell's bus, which must leave a
// held chord untouched. Each test opens one voice with its macros
// at their defaults; the test's thread plays the audio thread.
class VoiceSoundTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        registerPlayerMetaTypes();
        patch = std::make_unique<TestPatch>();
        player = std::make_unique<PdPlayer>();
        QVERIFY(patch->isValid() && player->init());
        player->initAudio(2, sampleRate);
    }
    void cleanup()
    {
        if (player)
            player->term();
        player.reset();
        patch.reset();
    }

    void pluckIsInTuneInEveryTier_data();
    void pluckIsInTuneInEveryTier();
    void shippedVoicesOpenAndStayBelowFullScale_data();
    void shippedVoicesOpenAndStayBelowFullScale();
    void everyMacroAudiblyChangesTheVoice_data() { shippedVoicesOpenAndStayBelowFullScale_data(); }
    void everyMacroAudiblyChangesTheVoice();
    void startsAndStopsWithoutClicks_data() { shippedVoicesOpenAndStayBelowFullScale_data(); }
    void startsAndStopsWithoutClicks();
    void staysBandLimitedAndJust_data();
    void staysBandLimitedAndJust();
    void matchesSinesLoudness_data() { shippedVoicesOpenAndStayBelowFullScale_data(); }
    void matchesSinesLoudness();
    void masterChainIsTransparentForHeldChords_data();
    void masterChainIsTransparentForHeldChords();

private:
    void run(const QString& path)
    {
        const LatticeNoteEvent event(path);
        player->queueEventGui(&event);
        player->processCommandBuffers();
    }
    // Opens `voice` in the shipped shell with every macro at its default (0.5
    // where it has none), kept in `macros`; false unless it opened and named
    // one to eight macros.
    bool openShipped(const QString& voice);
    std::vector<double> noteFeatures(const QList<float>& macros);
    std::pair<double, double> loudness(const QString& voice);
    void queue(int type, float value)
    {
        const LatticeEvent event(type, value);
        player->queueEventGui(&event);
    }
    std::vector<float> leftChannel(int frames)
    {
        return ToneAnalysis::channel(renderFrames(*player, frames), 0);
    }
    // Plays the root at `hertz`, held for `heldFrames` (whole blocks), then
    // released until slot 0 is free, and one block more: the left channel
    // of the held note and of its release.
    std::pair<std::vector<float>, std::vector<float>> playRoot(float hertz, int heldFrames)
    {
        queue(LatticeEvent::BaseFrequencySet, hertz);
        run("/");
        const std::vector<float> held = leftChannel(heldFrames);
        run("/");
        std::vector<float> release;
        for (int block = 0; block < 5 * sampleRate / 256 && !player->voiceSlot(0).isFree(); ++block)
            append(release, leftChannel(256));
        append(release, leftChannel(256));
        return {held, release};
    }
    static void append(std::vector<float>& to, const std::vector<float>& more)
    {
        to.insert(to.end(), more.begin(), more.end());
    }

    std::unique_ptr<TestPatch> patch;
    std::unique_ptr<PdPlayer> player;
    QStringList names;
    QList<float> macros;
};

bool VoiceSoundTest::openShipped(const QString& voice)
{
    connect(player.get(), &PdPlayer::macroNamesReceived, this,
            [this](const QStringList& values) { names = values; });
    connect(player.get(), &PdPlayer::macroDefaultsReceived, this,
            [this](const QList<float>& values) {
                macros.clear();
                for (float value : values)
                    macros.append(value < 0.0f ? 0.5f : value);
            });
    if (!patch->useShipped(voice) || !player->loadPatch(patch->mainPatch()))
        return false;
    for (int i = 0; i < macros.size(); ++i)
        queue(LatticeEvent::Macro1 + i, macros[i]);
    return !names.isEmpty() && names.size() <= 8 && macros.size() == names.size();
}

// The plucked string runs its loop in blocks of 64, 16 or 4 samples by the
// length of the period; a tier that reads its delay a block late would be
// out of tune.
void VoiceSoundTest::pluckIsInTuneInEveryTier_data()
{
    QTest::addColumn<float>("hertz");
    QTest::newRow("blocks of 64") << 110.0f;
    QTest::newRow("blocks of 16") << 1000.0f;
    QTest::newRow("blocks of 4") << 3000.0f;
}

void VoiceSoundTest::pluckIsInTuneInEveryTier()
{
    QFETCH(float, hertz);
    QVERIFY(patch->useShipped(TestPatch::shippedFolder() + QStringLiteral("/Pluck.pd")));
    QVERIFY(player->loadPatch(patch->mainPatch()));
    queue(LatticeEvent::BaseFrequencySet, hertz);
    run("/");
    leftChannel(sampleRate / 20); // past the burst
    const std::vector<float> steady = leftChannel(sampleRate / 2);
    const double found =
        ToneAnalysis::dominantFrequency(steady, sampleRate, 0.97 * hertz, 1.03 * hertz);
    const double cents = 1200.0 * std::log2(found / double(hertz));
    QVERIFY2(std::fabs(cents) <= 2.0, qPrintable(QStringLiteral("%1 cents").arg(cents)));
}

void VoiceSoundTest::shippedVoicesOpenAndStayBelowFullScale_data()
{
    QTest::addColumn<QString>("voice");
    const QStringList voices = TestPatch::shippedVoices();
    for (const QString& voice : voices)
        QTest::newRow(qPrintable(QFileInfo(voice).fileName())) << voice;
    if (voices.isEmpty())
        QTest::newRow("no voices shipped") << QString();
}

void VoiceSoundTest::shippedVoicesOpenAndStayBelowFullScale()
{
    QFETCH(QString, voice);
    QVERIFY(openShipped(voice));

    // Every voice at once, loudest master volume, from 220 Hz upward.
    queue(LatticeEvent::MasterVolumeSet, 1.0f);
    player->processCommandBuffers();
    for (int i = 0; i < PdPlayer::voiceCount; ++i)
        player->noteOn(LatticeRatio(std::uint64_t(32 + i), 64));
    const float peak = ToneAnalysis::peakLevel(renderFrames(*player, 2 * sampleRate));
    QVERIFY2(peak > 0.01f && peak < std::pow(10.0f, -0.1f / 20.0f),
             qPrintable(QString("peak %1 dBFS").arg(20.0 * std::log10(double(peak)))));

    // Gate off: every voice reports itself silent and frees its slot.
    queue(LatticeEvent::AllNotesOff, 1.0f);
    int busy = PdPlayer::voiceCount;
    for (int second = 0; second < 10 && busy > 0; ++second) {
        renderFrames(*player, sampleRate);
        busy = 0;
        for (int i = 0; i < PdPlayer::voiceCount; ++i)
            busy += player->voiceSlot(i).isFree() ? 0 : 1;
    }
    QCOMPARE(busy, 0);
}

// A click is a jump. A note has to rise over milliseconds: at 1 kHz its
// first millisecond (one period, so the oscillators' random phases do not
// matter) must be well below its loudest millisecond. Its release, down to
// the silence after the slot is freed, must never step from one sample to
// the next by more than the held note does.
void VoiceSoundTest::startsAndStopsWithoutClicks()
{
    QFETCH(QString, voice);
    QVERIFY(openShipped(voice));
    renderFrames(*player, sampleRate / 10); // the master volume's fade-in after a load
    const std::vector<float> onset = playRoot(1000.0f, 256 * 100).first;
    const std::size_t period = sampleRate / 1000;
    double loudest = 0.0;
    for (std::size_t from = period; from + period <= onset.size(); from += period / 4)
        loudest = std::max(loudest, rms(onset, from, period));
    QVERIFY2(
        loudest > 1e-3 && rms(onset, 0, period) <= 0.5 * loudest,
        qPrintable(
            QStringLiteral("first ms %1, loudest ms %2").arg(rms(onset, 0, period)).arg(loudest)));

    // Its first 5 ms must not step further than the rest of the note does.
    const float onsetHeldStep = largestStep({onset.begin() + sampleRate / 200, onset.end()});
    QVERIFY2(largestStep({onset.begin(), onset.begin() + sampleRate / 200}) <= 2.0f * onsetHeldStep,
             qPrintable(QStringLiteral("note on steps by %1, the held note by %2")
                            .arg(largestStep({onset.begin(), onset.begin() + sampleRate / 200}))
                            .arg(onsetHeldStep)));

    const auto [held, tail] = playRoot(220.0f, 256 * (sampleRate * 4 / 10 / 256));
    QVERIFY(player->voiceSlot(0).isFree());
    // The bus filters' last breath, one block after the slot was freed.
    QVERIFY(ToneAnalysis::peakLevel({tail.end() - 256, tail.end()}) < 1e-4f);
    const float heldStep =
        largestStep({held.begin() + std::ptrdiff_t(held.size() / 2), held.end()});
    std::vector<float> release{held.back()};
    append(release, tail);
    QVERIFY2(largestStep(release) <= 1.5f * heldStep,
             qPrintable(QStringLiteral("release steps by %1, the held note by %2")
                            .arg(largestStep(release))
                            .arg(heldStep)));

    // A steal: slot 0 sounds 330 Hz at full volume, the other 127 slots
    // barely audible notes; one more note (220 Hz) takes slot 0 over. Its
    // first 5 ms must not step further than either note does when held.
    const auto volume = [this](float value) {
        queue(LatticeEvent::VoiceVolumeSet, value);
        player->processCommandBuffers();
    };
    volume(1.0f);
    player->noteOn(LatticeRatio(3, 2));
    volume(1e-3f);
    for (std::uint64_t i = 1; i < PdPlayer::voiceCount; ++i)
        player->noteOn(LatticeRatio(256 + i, 256));
    volume(1.0f);
    const std::vector<float> before = leftChannel(256 * 86); // whole blocks: no gap
    const float stolenStep = largestStep({before.begin() + sampleRate / 4, before.end()});
    player->noteOn(LatticeRatio(1));
    const std::vector<float> after = leftChannel(sampleRate / 4);
    std::vector<float> around{before.back()}; // the block edge, where a cut would fall
    around.insert(around.end(), after.begin(), after.begin() + sampleRate / 200);
    const float stealStep = largestStep(around);
    const float newStep = largestStep({after.begin() + sampleRate / 200, after.end()});
    QVERIFY2(stealStep <= 2.0f * std::max(stolenStep, newStep),
             qPrintable(QStringLiteral("a steal steps by %1, the notes by %2 and %3")
                            .arg(stealStep)
                            .arg(stolenStep)
                            .arg(newStep)));
}

// Every partial within 0.1 cent of a multiple of the note's frequency (or
// of half of it, for the organ's 16'), seen over 3 s for resolution: no
// detuned layers or vibrato at the default macros. And no alias, nothing
// between the partials, within 60 dB of the strongest partial. The plucked
// string's upper partials run sharp by at most 0.06 cent here, inside the
// tolerance.
void VoiceSoundTest::staysBandLimitedAndJust_data()
{
    QTest::addColumn<QString>("voice");
    QTest::addColumn<double>("hertz");
    for (const QString& voice : TestPatch::shippedVoices())
        for (double hertz : {440.0, 1760.0, 3520.0})
            QTest::newRow(
                qPrintable(QStringLiteral("%1 %2 Hz").arg(QFileInfo(voice).baseName()).arg(hertz)))
                << voice << hertz;
}

void VoiceSoundTest::staysBandLimitedAndJust()
{
    QFETCH(QString, voice);
    QFETCH(double, hertz);
    QVERIFY(openShipped(voice));
    queue(LatticeEvent::BaseFrequencySet, float(hertz));
    run("/");
    leftChannel(sampleRate / 2); // past the attack
    const std::vector<float> held = leftChannel(1 << 17);
    const auto dB = [](double ratio) { return 20.0 * std::log10(std::max(ratio, 1e-12)); };

    // The alias level on 0.37 s from the first second on, where a decaying
    // note changes little and a slow attack has ended.
    const auto from = held.begin() + sampleRate / 2;
    const std::vector<double> shortSpectrum = spectrum({from, from + (1 << 14)});
    const double bin = double(sampleRate) / double(1 << 14);
    const double strongest = *std::max_element(shortSpectrum.begin(), shortSpectrum.end());
    double alias = 0.0, aliasHertz = 0.0;
    for (std::size_t i = std::size_t(20.0 / bin); i < shortSpectrum.size(); ++i)
        if (offHarmonic(double(i) * bin, hertz) > 20.0 && shortSpectrum[i] > alias)
            std::tie(alias, aliasHertz) = std::make_pair(shortSpectrum[i], double(i) * bin);
    QVERIFY2(
        dB(alias / strongest) <= -60.0,
        qPrintable(QStringLiteral("%1 dB at %2 Hz").arg(dB(alias / strongest)).arg(aliasHertz)));

    // Every peak within 40 dB of the strongest, placed by a parabola
    // through the log magnitudes of its bin and its neighbours.
    const std::vector<double> s = spectrum(held);
    const double fine = double(sampleRate) / double(held.size());
    const double top = *std::max_element(s.begin(), s.end());
    for (std::size_t i = 2; i + 1 < s.size(); ++i) {
        if (s[i] <= s[i - 1] || s[i] < s[i + 1] || dB(s[i] / top) < -40.0)
            continue;
        const double a = std::log(s[i - 1]), b = std::log(s[i]), c = std::log(s[i + 1]);
        const double peak = (double(i) + 0.5 * (a - c) / (a - 2.0 * b + c)) * fine;
        const double partial = std::max(1.0, std::round(2.0 * peak / hertz)) * hertz / 2.0;
        const double cents = 1200.0 * std::log2(peak / partial);
        QVERIFY2(std::fabs(cents) <= 0.1,
                 qPrintable(QStringLiteral("a partial at %1 Hz (%2 dB) is %3 cents from %4 Hz")
                                .arg(peak, 0, 'f', 2)
                                .arg(dB(s[i] / top), 0, 'f', 1)
                                .arg(cents, 0, 'f', 2)
                                .arg(partial)));
    }
}

// The level of A4 alone and of the chord /, /3, /5, /7 over it: the loudest
// tenth of a second in the first 1.3 s (a plucked or struck note is judged
// by how loud it gets, a held one by its held level).
std::pair<double, double> VoiceSoundTest::loudness(const QString& voice)
{
    if (!openShipped(voice))
        return {};
    queue(LatticeEvent::BaseFrequencySet, 440.0f);
    const auto loudest = [this]() {
        const std::vector<float> x = leftChannel(sampleRate * 13 / 10);
        double level = 0.0;
        for (std::size_t from = 0; from + sampleRate / 10 <= x.size(); from += sampleRate / 40)
            level = std::max(level, rms(x, from, sampleRate / 10));
        return 20.0 * std::log10(level);
    };
    run("/");
    const double single = loudest();
    queue(LatticeEvent::AllNotesOff, 1.0f);
    renderFrames(*player, 4 * sampleRate);
    for (const char* path : {"/", "/3", "/5", "/7"})
        run(QString::fromLatin1(path));
    return {single, loudest()};
}

void VoiceSoundTest::matchesSinesLoudness()
{
    QFETCH(QString, voice);
    const auto [single, chord] = loudness(voice);
    const auto [sineSingle, sineChord] = loudness(TestPatch::shippedFolder() + "/Sine.pd");
    QVERIFY2(std::fabs(single - sineSingle) <= 1.5 && std::fabs(chord - sineChord) <= 1.5,
             qPrintable(QStringLiteral("A4 %1 dB, the chord %2 dB; Sine's %3 and %4 dB")
                            .arg(single, 0, 'f', 1)
                            .arg(chord, 0, 'f', 1)
                            .arg(sineSingle, 0, 'f', 1)
                            .arg(sineChord, 0, 'f', 1)));
}

// Levels in dB of one note at 220 Hz held for 0.6 s and released: its level
// over time in tenths of a second, and the partials (and vibrato sidebands)
// of the held part. What a listener would hear change when a macro moves.
std::vector<double> VoiceSoundTest::noteFeatures(const QList<float>& settings)
{
    for (int i = 0; i < settings.size(); ++i)
        queue(LatticeEvent::Macro1 + i, settings[i]);
    auto [note, release] = playRoot(220.0f, 256 * (sampleRate * 6 / 10 / 256));
    const std::vector<float> held(note.begin() + sampleRate / 10, note.end());
    release.resize(sampleRate * 6 / 10); // silence after the slot is free
    append(note, release);

    const auto dB = [](double level) { return 20.0 * std::log10(std::max(level, 1e-5)); };
    std::vector<double> features;
    const std::size_t window = sampleRate / 10;
    for (std::size_t start = 0; start + window <= note.size(); start += window)
        features.push_back(dB(rms(note, start, window)));
    const double scale = 2.0 / double(held.size());
    for (double multiple : {0.5, 1.0, 1.5, 2.0, 3.0, 4.0, 5.0, 6.0, 8.0})
        for (double offset : {-6.0, 0.0, 6.0})
            features.push_back(
                dB(scale * ToneAnalysis::magnitudeAt(held, 220.0 * multiple + offset, sampleRate)));
    return features;
}

// Each macro from one end of its range to the other, the rest at their
// defaults, must move some level by 3 dB or more.
void VoiceSoundTest::everyMacroAudiblyChangesTheVoice()
{
    QFETCH(QString, voice);
    QVERIFY(openShipped(voice));
    for (int macro = 0; macro < names.size(); ++macro) {
        QList<float> low = macros, high = macros;
        low[macro] = 0.0f;
        high[macro] = 1.0f;
        const std::vector<double> a = noteFeatures(low);
        const std::vector<double> b = noteFeatures(high);
        double largest = 0.0;
        for (std::size_t i = 0; i < a.size(); ++i)
            largest = std::max(largest, std::fabs(a[i] - b[i]));
        QVERIFY2(largest >= 3.0, qPrintable(QStringLiteral("%1: macro %2 (%3) moves no level by "
                                                           "more than %4 dB")
                                                .arg(QFileInfo(voice).fileName())
                                                .arg(macro + 1)
                                                .arg(names[macro])
                                                .arg(largest, 0, 'f', 2)));
    }
}

// The bus after the voices (DC blocker, master volume, compressor, ceiling)
// must neither distort nor modulate a held chord of pure tones at the
// default settings: nothing but the tones within 80 dB of the strongest,
// over 3 s after the attack. A compressor whose detector follows the
// chord's own beat puts sidebands around every tone.
void VoiceSoundTest::masterChainIsTransparentForHeldChords_data()
{
    QTest::addColumn<QString>("chord");
    QTest::newRow("D minor-ish triad") << "/-3 /-3/5 /";
    QTest::newRow("major triad") << "/ /5 /3";
    QTest::newRow("harmonic seventh") << "/ /5 /3 /7";
    QTest::newRow("eight notes") << "/ /3 /5 /7 /-2 /3/3 /-3 /5/3";
}

void VoiceSoundTest::masterChainIsTransparentForHeldChords()
{
    QFETCH(QString, chord);
    QVERIFY(openShipped(TestPatch::shippedFolder() + QStringLiteral("/Sine.pd")));
    std::vector<double> tones;
    for (const QString& path : chord.split(' ')) {
        run(path);
        tones.push_back(440.0 * LatticePath(path).ratio()->toDouble());
    }
    leftChannel(sampleRate / 2); // past the attack
    const std::vector<double> s = spectrum(leftChannel(1 << 17));
    const double bin = double(sampleRate) / double(1 << 17);
    double strongest = 0.0, other = 0.0, otherHertz = 0.0;
    for (std::size_t i = std::size_t(20.0 / bin); i < s.size(); ++i) {
        const double hertz = double(i) * bin;
        const bool tone = std::any_of(tones.begin(), tones.end(),
                                      [hertz](double t) { return std::fabs(hertz - t) < 5.0; });
        if (tone)
            strongest = std::max(strongest, s[i]);
        else if (s[i] > other)
            std::tie(other, otherHertz) = std::make_pair(s[i], hertz);
    }
    const double dB = 20.0 * std::log10(std::max(other, 1e-12) / strongest);
    QVERIFY2(dB <= -80.0, qPrintable(QStringLiteral("%1 dB at %2 Hz").arg(dB).arg(otherHertz)));
}

QTEST_GUILESS_MAIN(VoiceSoundTest)
#include "VoiceSoundTest.moc"
