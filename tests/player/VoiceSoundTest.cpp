#include "PlayerMetaTypes.h"
#include "RenderBlocks.h"
#include "TestPatch.h"
#include "ToneAnalysis.h"

#include <QtTest>
#include <cmath>
#include <complex>

namespace {

constexpr int sampleRate = 44100;
constexpr double pi = 3.14159265358979323846;

double rms(const std::vector<float>& x, std::size_t from, std::size_t count)
{
    double energy = 0.0;
    for (std::size_t i = from; i < from + count; ++i)
        energy += double(x[i]) * double(x[i]);
    return std::sqrt(energy / double(count));
}

double dB(double ratio)
{
    return 20.0 * std::log10(std::max(ratio, 1e-12));
}

void fft(std::vector<std::complex<double>>& a)
{
    const std::size_t half = a.size() / 2;
    if (half == 0)
        return;
    std::vector<std::complex<double>> even(half), odd(half);
    for (std::size_t i = 0; i < half; ++i)
        std::tie(even[i], odd[i]) = std::make_pair(a[2 * i], a[2 * i + 1]);
    fft(even);
    fft(odd);
    for (std::size_t k = 0; k < half; ++k) {
        const auto t = std::polar(1.0, -pi * double(k) / double(half)) * odd[k];
        a[k] = even[k] + t;
        a[k + half] = even[k] - t;
    }
}

// Magnitudes of the Blackman-Harris windowed spectrum of x (its size a power
// of two), bins 0..n/2: sidelobes below -92 dB, enough to see a component
// 60 dB under the strongest partial.
std::vector<double> spectrum(const std::vector<float>& x)
{
    const std::size_t n = x.size();
    std::vector<std::complex<double>> a(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double w = 2.0 * pi * double(i) / double(n - 1);
        a[i] = x[i] * (0.35875 - 0.48829 * std::cos(w) + 0.14128 * std::cos(2 * w) -
                       0.01168 * std::cos(3 * w));
    }
    fft(a);
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

// One row per shipped voice. (All 128 voices staying below full scale and
// reporting their release, and a voice shipped at all: tests/patches.)
void voiceRows()
{
    QTest::addColumn<QString>("voice");
    for (const QString& voice : TestPatch::shippedVoices())
        QTest::newRow(qPrintable(QFileInfo(voice).fileName())) << voice;
}

void append(std::vector<float>& to, const std::vector<float>& more)
{
    to.insert(to.end(), more.begin(), more.end());
}

using ToneAnalysis::largestStep;

// A failure message, printf-style.
template <typename... Values> QByteArray said(const char* format, Values... values)
{
    return QString::asprintf(format, values...).toUtf8();
}

} // namespace

// Each shipped voice through the shipped shell, its macros at their defaults.
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

    // A click is a jump. At 1 kHz a note's first millisecond (one period:
    // random phases do not matter) stays well below its loudest, and neither
    // its first 5 ms, its release down to silence, nor a steal step further
    // than the held notes do.
    void startsAndStopsWithoutClicks_data() { voiceRows(); }
    void startsAndStopsWithoutClicks()
    {
        QFETCH(QString, voice);
        QVERIFY(openShipped(voice));
        renderFrames(*player, sampleRate / 10); // the master volume's fade-in after a load
        const std::vector<float> onset = playRoot(1000.0f, 256 * 100).first;
        const std::size_t period = sampleRate / 1000, fiveMs = sampleRate / 200;
        double loudest = 0.0;
        for (std::size_t from = period; from + period <= onset.size(); from += period / 4)
            loudest = std::max(loudest, rms(onset, from, period));
        QVERIFY2(loudest > 1e-3 && rms(onset, 0, period) <= 0.5 * loudest,
                 said("first ms %g, loudest ms %g", rms(onset, 0, period), loudest));
        const float onStep = largestStep({onset.begin(), onset.begin() + fiveMs});
        const float onsetHeldStep = largestStep({onset.begin() + fiveMs, onset.end()});
        QVERIFY2(onStep <= 2.0f * onsetHeldStep, said("note on steps by %g, the held note by %g",
                                                      double(onStep), double(onsetHeldStep)));

        const auto [held, tail] = playRoot(220.0f, 256 * (sampleRate * 4 / 10 / 256));
        // The bus filters' last breath, one block after the slot was freed.
        QVERIFY(ToneAnalysis::peakLevel({tail.end() - 256, tail.end()}) < 1e-4f);
        const float heldStep =
            largestStep({held.begin() + std::ptrdiff_t(held.size() / 2), held.end()});
        std::vector<float> release{held.back()};
        append(release, tail);
        QVERIFY2(largestStep(release) <= 1.5f * heldStep,
                 said("release steps by %g, the held note by %g", double(largestStep(release)),
                      double(heldStep)));

        // A steal: slot 0 sounds 330 Hz at full volume, the other 127 slots
        // barely audible notes; one more note (220 Hz) takes slot 0 over.
        player->setVoiceVolume(1.0f);
        player->noteOn(LatticeRatio(3, 2));
        player->setVoiceVolume(1e-3f);
        for (std::uint64_t i = 1; i < PdPlayer::voiceCount; ++i)
            player->noteOn(LatticeRatio(256 + i, 256));
        player->setVoiceVolume(1.0f);
        const std::vector<float> before = renderLeft(*player, 256 * 86); // whole blocks: no gap
        const float stolenStep = largestStep({before.begin() + sampleRate / 4, before.end()});
        player->noteOn(LatticeRatio(1));
        const std::vector<float> after = renderLeft(*player, sampleRate / 4);
        std::vector<float> around{before.back()}; // the block edge, where a cut would fall
        around.insert(around.end(), after.begin(), after.begin() + fiveMs);
        const float stealStep = largestStep(around);
        const float newStep = largestStep({after.begin() + fiveMs, after.end()});
        QVERIFY2(stealStep <= 2.0f * std::max(stolenStep, newStep),
                 said("a steal steps by %g, the notes by %g and %g", double(stealStep),
                      double(stolenStep), double(newStep)));
    }

    // Every partial within 0.1 cent of a multiple of the note (or of half of
    // it, the organ's 16'), over 3 s; nothing between them within 60 dB of
    // the strongest. The pitches put Pluck's loop in each of its block tiers
    // (64, 16, 4), where a late delay read detunes; its upper partials run
    // sharp by at most 0.06 cent, inside the tolerance.
    void staysBandLimitedAndJust_data()
    {
        QTest::addColumn<QString>("voice");
        QTest::addColumn<double>("hertz");
        for (const QString& voice : TestPatch::shippedVoices())
            for (double hertz : {440.0, 1760.0, 3520.0})
                QTest::newRow(
                    qPrintable(QFileInfo(voice).baseName() + ' ' + QString::number(hertz) + " Hz"))
                    << voice << hertz;
    }
    void staysBandLimitedAndJust()
    {
        QFETCH(QString, voice);
        QFETCH(double, hertz);
        QVERIFY(openShipped(voice));
        queue(*player, LatticeEvent::BaseFrequencySet, float(hertz));
        run("/");
        renderLeft(*player, sampleRate / 2); // past the attack
        const std::vector<float> held = renderLeft(*player, 1 << 17);

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
        QVERIFY2(dB(alias / strongest) <= -60.0,
                 said("%g dB at %g Hz", dB(alias / strongest), aliasHertz));

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
                     said("a partial at %.2f Hz (%.1f dB) is %.2f cents from %g Hz", peak,
                          dB(s[i] / top), cents, partial));
        }
    }

    // Within 1.5 dB of Sine, alone and in a chord.
    void matchesSinesLoudness_data() { voiceRows(); }
    void matchesSinesLoudness()
    {
        QFETCH(QString, voice);
        const auto [single, chord] = loudness(voice);
        const auto [sineSingle, sineChord] = loudness(TestPatch::shippedFolder() + "/Sine.pd");
        QVERIFY2(std::fabs(single - sineSingle) <= 1.5 && std::fabs(chord - sineChord) <= 1.5,
                 said("A4 %.1f dB, the chord %.1f dB; Sine's %.1f and %.1f dB", single, chord,
                      sineSingle, sineChord));
    }

    // Each macro from one end of its range to the other, the rest at their
    // defaults, must move some level by 3 dB or more.
    void everyMacroAudiblyChangesTheVoice_data() { voiceRows(); }
    void everyMacroAudiblyChangesTheVoice()
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
            QVERIFY2(largest >= 3.0, said("macro %d (%s) moves no level by more than %.2f dB",
                                          macro + 1, qPrintable(names[macro]), largest));
        }
    }

    // The bus after the voices (DC blocker, master volume, compressor,
    // ceiling) adds nothing within 80 dB to a held chord of pure tones: a
    // compressor following the chord's beat puts sidebands on every tone.
    void masterChainIsTransparentForHeldChords_data()
    {
        QTest::addColumn<QString>("chord");
        QTest::newRow("D minor-ish triad") << "/-3 /-3/5 /";
        QTest::newRow("eight notes") << "/ /3 /5 /7 /-2 /3/3 /-3 /5/3";
    }
    void masterChainIsTransparentForHeldChords()
    {
        QFETCH(QString, chord);
        QVERIFY(openShipped(TestPatch::shippedFolder() + QStringLiteral("/Sine.pd")));
        std::vector<double> tones;
        for (const QString& path : chord.split(' ')) {
            run(path);
            tones.push_back(440.0 * LatticePath(path).ratio()->toDouble());
        }
        renderLeft(*player, sampleRate / 2); // past the attack
        const std::vector<double> s = spectrum(renderLeft(*player, 1 << 17));
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
        QVERIFY2(dB(other / strongest) <= -80.0,
                 said("%g dB at %g Hz", dB(other / strongest), otherHertz));
    }

private:
    void run(const QString& path)
    {
        toggle(*player, path);
        player->processCommandBuffers();
    }

    // Opens `voice` in the shipped shell, every macro at its default (0.5 where it has none)
    // kept in `macros`; false unless it opened and named one to eight macros.
    bool openShipped(const QString& voice)
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
            queue(*player, LatticeEvent::Macro1 + i, macros[i]);
        return !names.isEmpty() && names.size() <= 8 && macros.size() == names.size();
    }

    // The left channel of the root at `hertz` held for `heldFrames` (whole blocks), and of
    // its release until slot 0 is free and one block more.
    std::pair<std::vector<float>, std::vector<float>> playRoot(float hertz, int heldFrames)
    {
        queue(*player, LatticeEvent::BaseFrequencySet, hertz);
        run("/");
        const std::vector<float> held = renderLeft(*player, heldFrames);
        run("/");
        std::vector<float> release;
        for (int block = 0; block < 5 * sampleRate / 256 && !player->voiceSlot(0).isFree(); ++block)
            append(release, renderLeft(*player, 256));
        append(release, renderLeft(*player, 256));
        return {held, release};
    }

    // The level in dB of A4 alone and of the chord /, /3, /5, /7 over it: the loudest tenth
    // of a second in the first 1.3 s (a plucked note is judged by how loud it gets).
    std::pair<double, double> loudness(const QString& voice)
    {
        if (!openShipped(voice))
            return {};
        queue(*player, LatticeEvent::BaseFrequencySet, 440.0f);
        const auto loudest = [this]() {
            const std::vector<float> x = renderLeft(*player, sampleRate * 13 / 10);
            double level = 0.0;
            for (std::size_t from = 0; from + sampleRate / 10 <= x.size(); from += sampleRate / 40)
                level = std::max(level, rms(x, from, sampleRate / 10));
            return dB(level);
        };
        run("/");
        const double single = loudest();
        queue(*player, LatticeEvent::AllNotesOff, 1.0f);
        renderFrames(*player, 4 * sampleRate);
        for (const char* path : {"/", "/3", "/5", "/7"})
            run(QString::fromLatin1(path));
        return {single, loudest()};
    }

    // Levels in dB of a note at 220 Hz held 0.6 s and released, by tenths of a second, and of
    // the partials (and vibrato sidebands) of the held part: what a macro audibly changes.
    std::vector<double> noteFeatures(const QList<float>& settings)
    {
        for (int i = 0; i < settings.size(); ++i)
            queue(*player, LatticeEvent::Macro1 + i, settings[i]);
        auto [note, release] = playRoot(220.0f, 256 * (sampleRate * 6 / 10 / 256));
        const std::vector<float> held(note.begin() + sampleRate / 10, note.end());
        release.resize(sampleRate * 6 / 10); // silence after the slot is free
        append(note, release);

        const auto level = [](double value) { return dB(std::max(value, 1e-5)); };
        std::vector<double> features;
        const std::size_t window = sampleRate / 10;
        for (std::size_t start = 0; start + window <= note.size(); start += window)
            features.push_back(level(rms(note, start, window)));
        const double scale = 2.0 / double(held.size());
        for (double multiple : {0.5, 1.0, 1.5, 2.0, 3.0, 4.0, 5.0, 6.0, 8.0})
            for (double offset : {-6.0, 0.0, 6.0})
                features.push_back(level(scale * ToneAnalysis::magnitudeAt(
                                                     held, 220.0 * multiple + offset, sampleRate)));
        return features;
    }

    std::unique_ptr<TestPatch> patch;
    std::unique_ptr<PdPlayer> player;
    QStringList names;
    QList<float> macros;
};

QTEST_GUILESS_MAIN(VoiceSoundTest)
#include "VoiceSoundTest.moc"
