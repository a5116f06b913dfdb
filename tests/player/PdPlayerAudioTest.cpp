#include "LatticeNoteEvent.h"
#include "LogCapture.h"
#include "PdPlayer.h"
#include "PlayerFixture.h"
#include "RenderBlocks.h"
#include "ToneAnalysis.h"

#include <QtTest>
#include <cmath>

// What the rendered blocks hold: pitches, silence, and the shipped patch set
// under full load.
class PdPlayerAudioTest : public QObject, private PlayerFixture
{
    Q_OBJECT

private slots:
    // Each test opens the patch it needs.
    void init() { QVERIFY(start(false)); }
    void cleanup() { stop(); }

    void playsTheRatioAboveTheBase_data();
    void playsTheRatioAboveTheBase();
    void pluckIsInTuneInEveryTier_data();
    void pluckIsInTuneInEveryTier();
    void mutedOrPatchlessBlocksAreSilent();
    void framesAreAlignedToPdBlocks_data();
    void framesAreAlignedToPdBlocks();
    void shippedVoicesOpenAndStayBelowFullScale_data();
    void shippedVoicesOpenAndStayBelowFullScale();
    void everyMacroAudiblyChangesTheVoice_data() { shippedVoicesOpenAndStayBelowFullScale_data(); }
    void everyMacroAudiblyChangesTheVoice();
    void startsAndStopsWithoutClicks_data() { shippedVoicesOpenAndStayBelowFullScale_data(); }
    void startsAndStopsWithoutClicks();

private:
    std::vector<double> noteFeatures(const QList<float>& macros);
    void queue(int type, float value)
    {
        const LatticeEvent event(type, value);
        player->queueEventGui(&event);
    }
    void toggle(const QString& path)
    {
        const LatticeNoteEvent event(path);
        player->queueEventGui(&event);
    }
    std::vector<float> leftChannel(int frames)
    {
        return ToneAnalysis::channel(renderFrames(*player, frames), 0);
    }
};

constexpr int sampleRate = 44100;

void PdPlayerAudioTest::playsTheRatioAboveTheBase_data()
{
    QTest::addColumn<float>("base");
    QTest::addColumn<int>("transpose");
    QTest::addColumn<QString>("path");
    QTest::addColumn<double>("hertz");
    QTest::newRow("root") << 440.0f << 0 << "/" << 440.0;
    QTest::newRow("fifth") << 440.0f << 0 << "/3" << 660.0;
    QTest::newRow("root transposed by 5") << 440.0f << 5 << "/" << 550.0;
    QTest::newRow("two fifths down over 300 Hz") << 300.0f << 0 << "/-3/-3" << 133.333;
}

void PdPlayerAudioTest::playsTheRatioAboveTheBase()
{
    QFETCH(float, base);
    QFETCH(int, transpose);
    QFETCH(QString, path);
    QFETCH(double, hertz);
    QVERIFY(player->loadPatch(patch->mainPatch()));
    queue(LatticeEvent::BaseFrequencySet, base);
    queue(LatticeEvent::Transpose, float(transpose));
    toggle(path);
    leftChannel(sampleRate / 10); // past the attack
    const std::vector<float> steady = leftChannel(sampleRate / 2);
    QVERIFY(ToneAnalysis::peakLevel(steady) > 0.5f);
    const double found = ToneAnalysis::dominantFrequency(steady, sampleRate, 50.0, 2000.0);
    QVERIFY2(std::fabs(found - hertz) <= 0.5, qPrintable(QString::number(found)));
}

// The plucked string runs its loop in blocks of 64, 16 or 4 samples by the
// length of the period; a tier that reads its delay a block late would be
// out of tune.
void PdPlayerAudioTest::pluckIsInTuneInEveryTier_data()
{
    QTest::addColumn<float>("hertz");
    QTest::newRow("blocks of 64") << 110.0f;
    QTest::newRow("blocks of 16") << 1000.0f;
    QTest::newRow("blocks of 4") << 3000.0f;
}

void PdPlayerAudioTest::pluckIsInTuneInEveryTier()
{
    QFETCH(float, hertz);
    QVERIFY(patch->useShipped(TestPatch::shippedFolder() + QStringLiteral("/Pluck.pd")));
    QVERIFY(player->loadPatch(patch->mainPatch()));
    queue(LatticeEvent::BaseFrequencySet, hertz);
    toggle(QStringLiteral("/"));
    leftChannel(sampleRate / 20); // past the burst
    const std::vector<float> steady = leftChannel(sampleRate / 2);
    const double found =
        ToneAnalysis::dominantFrequency(steady, sampleRate, 0.97 * hertz, 1.03 * hertz);
    const double cents = 1200.0 * std::log2(found / double(hertz));
    QVERIFY2(std::fabs(cents) <= 2.0, qPrintable(QStringLiteral("%1 cents").arg(cents)));
}

void PdPlayerAudioTest::mutedOrPatchlessBlocksAreSilent()
{
    QVERIFY(player->loadPatch(patch->mainPatch()));
    toggle("/");
    leftChannel(sampleRate / 10);
    QCOMPARE(ToneAnalysis::peakLevel(renderFrames(*player, 4096, true)), 0.0f);
    // The patch ran on while muted.
    QVERIFY(ToneAnalysis::peakLevel(renderFrames(*player, 256)) > 0.9f);

    // Without a patch the output is silent, yet events still run.
    player->unloadPatch();
    QSignalSpy base(player.get(), &PdPlayer::baseFrequencyChanged);
    queue(LatticeEvent::BaseFrequencySet, 200.0f);
    std::vector<float> block(512, 7.0f);
    player->processBlock(block.data(), 256, false);
    QCOMPARE(ToneAnalysis::peakLevel(block), 0.0f);
    QCOMPARE(base.size(), 1);
}

void PdPlayerAudioTest::framesAreAlignedToPdBlocks_data()
{
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("used");
    QTest::newRow("64") << 64 << 64;
    QTest::newRow("100") << 100 << 128;
    QTest::newRow("negative") << -512 << 64;
    QTest::newRow("huge") << 2147483647 << 2147483584;
}

void PdPlayerAudioTest::framesAreAlignedToPdBlocks()
{
    QFETCH(int, requested);
    QFETCH(int, used);
    LogCapture log;
    QCOMPARE(PdPlayer::blockAlignedFrames(requested), used);
    QCOMPARE(log.texts(QtWarningMsg).size(), requested == used ? 0 : 1);
}

void PdPlayerAudioTest::shippedVoicesOpenAndStayBelowFullScale_data()
{
    QTest::addColumn<QString>("voice");
    const QStringList voices = TestPatch::shippedVoices();
    for (const QString& voice : voices)
        QTest::newRow(qPrintable(QFileInfo(voice).fileName())) << voice;
    if (voices.isEmpty())
        QTest::newRow("no voices shipped") << QString();
}

void PdPlayerAudioTest::shippedVoicesOpenAndStayBelowFullScale()
{
    QFETCH(QString, voice);
    QVERIFY2(!voice.isEmpty(), "no voice patches beside the executable");
    QVERIFY(patch->useShipped(voice));
    QSignalSpy names(player.get(), &PdPlayer::macroNamesReceived);
    QList<float> defaults;
    connect(player.get(), &PdPlayer::macroDefaultsReceived,
            [&defaults](const QList<float>& values) { defaults = values; });
    QVERIFY(player->loadPatch(patch->mainPatch()));
    QCOMPARE(names.size(), 1);
    const QStringList macroNames = names.first().first().toStringList();
    QVERIFY(!macroNames.isEmpty() && macroNames.size() <= 8);
    for (int i = 0; i < defaults.size() && i < 8; ++i)
        if (defaults[i] > -0.5f)
            queue(LatticeEvent::Macro1 + i, defaults[i]);

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
void PdPlayerAudioTest::startsAndStopsWithoutClicks()
{
    QFETCH(QString, voice);
    QVERIFY2(!voice.isEmpty(), "no voice patches beside the executable");
    QVERIFY(patch->useShipped(voice));
    QList<float> defaults;
    connect(player.get(), &PdPlayer::macroDefaultsReceived,
            [&defaults](const QList<float>& values) { defaults = values; });
    QVERIFY(player->loadPatch(patch->mainPatch()));
    for (int i = 0; i < defaults.size(); ++i)
        queue(LatticeEvent::Macro1 + i, defaults[i] < 0.0f ? 0.5f : defaults[i]);
    const auto rms = [](const std::vector<float>& x, std::size_t from, std::size_t count) {
        double energy = 0.0;
        for (std::size_t i = from; i < from + count; ++i)
            energy += double(x[i]) * double(x[i]);
        return std::sqrt(energy / double(count));
    };
    const auto largestStep = [](const std::vector<float>& x) {
        float step = 0.0f;
        for (std::size_t i = 1; i < x.size(); ++i)
            step = std::max(step, std::fabs(x[i] - x[i - 1]));
        return step;
    };

    const std::size_t period = sampleRate / 1000;
    renderFrames(*player, sampleRate / 10); // the master volume's fade-in after a load
    queue(LatticeEvent::BaseFrequencySet, 1000.0f);
    toggle(QStringLiteral("/"));
    const std::vector<float> onset = leftChannel(256 * 100);
    double loudest = 0.0;
    for (std::size_t from = period; from + period <= onset.size(); from += period / 4)
        loudest = std::max(loudest, rms(onset, from, period));
    QVERIFY2(
        loudest > 1e-3 && rms(onset, 0, period) <= 0.5 * loudest,
        qPrintable(
            QStringLiteral("first ms %1, loudest ms %2").arg(rms(onset, 0, period)).arg(loudest)));
    toggle(QStringLiteral("/"));
    for (int second = 0; second < 5 && !player->voiceSlot(0).isFree(); ++second)
        renderFrames(*player, sampleRate);

    queue(LatticeEvent::BaseFrequencySet, 220.0f);
    toggle(QStringLiteral("/"));
    // Whole blocks, so that the release carries straight on from the last sample.
    const std::vector<float> held = leftChannel(256 * (sampleRate * 4 / 10 / 256));
    const float heldStep =
        largestStep(std::vector<float>(held.begin() + std::ptrdiff_t(held.size() / 2), held.end()));
    toggle(QStringLiteral("/"));
    std::vector<float> release{held.back()};
    for (int block = 0; block < 4 * sampleRate / 256 && !player->voiceSlot(0).isFree(); ++block) {
        const std::vector<float> more = leftChannel(256);
        release.insert(release.end(), more.begin(), more.end());
    }
    QVERIFY(player->voiceSlot(0).isFree());
    const std::vector<float> after = leftChannel(256);
    release.insert(release.end(), after.begin(), after.end());
    QVERIFY(ToneAnalysis::peakLevel(after) < 1e-4f); // the bus filters' last breath
    QVERIFY2(largestStep(release) <= 1.5f * heldStep,
             qPrintable(QStringLiteral("release steps by %1, the held note by %2")
                            .arg(largestStep(release))
                            .arg(heldStep)));
}

// Levels in dB of one note at 220 Hz held for 0.6 s and released: its level
// over time in tenths of a second, and the partials (and vibrato sidebands)
// of the held part. What a listener would hear change when a macro moves.
std::vector<double> PdPlayerAudioTest::noteFeatures(const QList<float>& macros)
{
    for (int i = 0; i < macros.size(); ++i)
        queue(LatticeEvent::Macro1 + i, macros[i]);
    queue(LatticeEvent::BaseFrequencySet, 220.0f);
    toggle(QStringLiteral("/"));
    std::vector<float> note = leftChannel(sampleRate * 6 / 10);
    toggle(QStringLiteral("/"));
    const std::vector<float> tail = leftChannel(sampleRate * 6 / 10);
    note.insert(note.end(), tail.begin(), tail.end());
    const auto dB = [](double level) { return 20.0 * std::log10(std::max(level, 1e-5)); };

    std::vector<double> features;
    const std::size_t window = sampleRate / 10;
    for (std::size_t start = 0; start + window <= note.size(); start += window) {
        double energy = 0.0;
        for (std::size_t i = start; i < start + window; ++i)
            energy += double(note[i]) * double(note[i]);
        features.push_back(dB(std::sqrt(energy / double(window))));
    }
    const std::vector<float> held(note.begin() + sampleRate / 10,
                                  note.begin() + sampleRate * 6 / 10);
    const double scale = 2.0 / double(held.size());
    for (double multiple : {0.5, 1.0, 1.5, 2.0, 3.0, 4.0, 5.0, 6.0, 8.0})
        for (double offset : {-6.0, 0.0, 6.0})
            features.push_back(
                dB(scale * ToneAnalysis::magnitudeAt(held, 220.0 * multiple + offset, sampleRate)));

    // Let the release end so the next note starts from silence.
    for (int second = 0; second < 5 && !player->voiceSlot(0).isFree(); ++second)
        renderFrames(*player, sampleRate);
    return features;
}

void PdPlayerAudioTest::everyMacroAudiblyChangesTheVoice()
{
    QFETCH(QString, voice);
    QVERIFY2(!voice.isEmpty(), "no voice patches beside the executable");
    QVERIFY(patch->useShipped(voice));
    QStringList names;
    QList<float> defaults;
    connect(player.get(), &PdPlayer::macroNamesReceived,
            [&names](const QStringList& values) { names = values; });
    connect(player.get(), &PdPlayer::macroDefaultsReceived,
            [&defaults](const QList<float>& values) { defaults = values; });
    QVERIFY(player->loadPatch(patch->mainPatch()));
    QCOMPARE(defaults.size(), names.size());
    QList<float> settings;
    for (float value : defaults)
        settings.append(value < 0.0f ? 0.5f : value);

    // Each macro from one end of its range to the other, the rest at their
    // defaults, must move some level by 3 dB or more.
    for (int macro = 0; macro < names.size(); ++macro) {
        QList<float> low = settings, high = settings;
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

QTEST_GUILESS_MAIN(PdPlayerAudioTest)
#include "PdPlayerAudioTest.moc"
