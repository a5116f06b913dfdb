#include "AudioThreadWatch.h"
#include "PerformanceRecorder.h"
#include "PlayerMetaTypes.h"
#include "RenderBlocks.h"
#include "TestPatch.h"

#include <QtTest>
#include <algorithm>
#include <atomic>
#include <random>
#include <set>
#include <thread>

namespace {

constexpr int sampleRate = 44100;
constexpr int blockFrames = 256;
constexpr int blocksPerSecond = sampleRate / blockFrames;

// `wanted` distinct ratios, the shortest paths first.
QStringList distinctPaths(int wanted)
{
    const int steps[] = {2, -2, 3, -3, 5, -5, 7, -7, 11, -11};
    QStringList paths{QStringLiteral("/")};
    std::set<std::pair<std::uint64_t, std::uint64_t>> seen{{1, 1}};
    for (int i = 0; paths.size() < wanted; ++i)
        for (int step : steps) {
            const QString longer = (i == 0 ? QString() : paths[i]) + '/' + QString::number(step);
            const std::optional<LatticeRatio> ratio = LatticePath(longer).ratio();
            if (ratio && seen.insert({ratio->numerator(), ratio->denominator()}).second)
                paths.append(longer);
        }
    return paths.mid(0, wanted);
}

} // namespace

// A scripted minute of playing rendered on a thread of its own as a device callback would:
// that thread must not allocate, free, or lock anything but libpd's own lock.
class AudioThreadSafetyTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        registerPlayerMetaTypes();
        if (!AudioThreadWatch::isAvailable())
            QSKIP("the sanitizers replace the allocator this test watches");
    }

    void playingNeitherAllocatesNorLocks_data()
    {
        QTest::addColumn<QString>("voice");
        for (const QString& voice : TestPatch::shippedVoices())
            QTest::newRow(qPrintable(QFileInfo(voice).baseName())) << voice;
    }
    void playingNeitherAllocatesNorLocks()
    {
        QFETCH(QString, voice);
        TestPatch patch;
        player = std::make_unique<PdPlayer>();
        QVERIFY(patch.useShipped(voice) && player->init());
        player->initAudio(2, sampleRate);
        QVERIFY(player->loadPatch(patch.mainPatch()));
        connect(player.get(), &PdPlayer::noteToggled, this, [this] { ++notes; });
        // Every note also goes out as a record, for the MIDI and OSC outputs.
        player->setNoteRecordsWanted(true);
        player->setNoteRecordsWanted(true, PdPlayer::NoteListener::Osc);
        // And a take is being recorded all along.
        QTemporaryDir takes;
        PerformanceRecorder recorder(player.get());
        QVERIFY(recorder.start(takes.path(), sampleRate, "voice"));

        // libpd's own lock: the one a block and a message take.
        std::vector<float> buffer(2 * blockFrames);
        queue(*player, LatticeEvent::MasterVolumeSet, 0.8f);
        AudioThreadWatch::reset();
        AudioThreadWatch::watchThisThread(true);
        player->processBlock(buffer.data(), blockFrames, false);
        AudioThreadWatch::watchThisThread(false);
        const std::vector<const void*> libpdLocks = AudioThreadWatch::counts().mutexes;

        // Five seconds to settle whatever grows once (libpd's message buffer,
        // the first steal), then a minute watched.
        play(65 * blocksPerSecond, 5 * blocksPerSecond);
        const AudioThreadWatch::Counts counts = AudioThreadWatch::counts();
        recorder.stop();
        player->processBlock(buffer.data(), blockFrames, false);
        recorder.stopAndWait();
        QVERIFY(recorder.framesWritten() > 0);
        player->term();

        QVERIFY(notes > 1000); // the script did play
        QVERIFY(records > notes);
        QCOMPARE(oscRecords, records);
        QCOMPARE(player->droppedNoteRecords() +
                     player->droppedNoteRecords(PdPlayer::NoteListener::Osc),
                 quint64(0));
        QCOMPARE(counts.heapCalls, 0L);
        QVERIFY(counts.locks > 0);
        for (const void* mutex : counts.mutexes)
            QVERIFY2(std::find(libpdLocks.begin(), libpdLocks.end(), mutex) != libpdLocks.end(),
                     "the audio thread took a lock that is not libpd's");
    }

private:
    // A keyboard's key `key` going down or up, as the MIDI input writes it.
    void hold(int key, const QString& path, bool down)
    {
        player->queueChunkMidi({down ? LatticeEvent::NoteOn : LatticeEvent::NoteOff,
                                LatticePath(path).bytes(), std::uint8_t(key + 1), 0.7f});
    }

    // Queues the events of block `block` of the script.
    void script(int block)
    {
        std::uniform_real_distribution<float> unit(0.2f, 0.8f);
        const int bar = block / 200;
        switch (block % 200) {
        case 0: // a chord, or every fifth bar more notes than voices
            notesOn = bar % 5 == 4 ? paths.size() : 4;
            for (int i = 0; i < notesOn; ++i)
                toggle(*player, paths[(i + bar) % paths.size()]);
            break;
        case 20:
            for (int macro = 0; macro < 8; ++macro)
                queue(*player, LatticeEvent::Macro1 + macro, unit(random));
            break;
        case 40:
            queue(*player, LatticeEvent::MasterVolumeSet, unit(random));
            queue(*player, LatticeEvent::VoiceVolumeSet, 0.5f + unit(random));
            break;
        case 60:
            queue(*player, LatticeEvent::Transpose, bar % 2 ? 3.0f : -3.0f);
            queue(*player, LatticeEvent::PrimeToggle, 11.0f);
            queue(*player, LatticeEvent::PrimeToggle, 11.0f);
            queue(*player, LatticeEvent::BaseFrequencySet, 430.0f + 20.0f * unit(random));
            break;
        case 80: // a melody in mono; every note steals the last one
            queue(*player, LatticeEvent::MonophonicSet, 1.0f);
            for (int i = 0; i < 3; ++i)
                toggle(*player, paths[(i * 7 + bar) % paths.size()]);
            queue(*player, LatticeEvent::MonophonicSet, 0.0f);
            break;
        case 100: // keys held, one struck again, then released
        case 110:
            for (int key = 0; key < 3; ++key)
                hold(key, paths[(key * 5 + bar) % paths.size()], block % 200 == 100);
            if (block % 200 == 100)
                hold(0, paths[bar % paths.size()], true);
            break;
        case 120:
            for (int i = 0; i < std::min(notesOn, 4); ++i)
                toggle(*player, paths[(i + bar) % paths.size()]); // off again
            break;
        case 160:
            queue(*player, LatticeEvent::AllNotesOff, 1.0f);
            break;
        default:
            break;
        }
    }

    // Renders `blocks` on a thread of its own, watched from block `watchFrom` on; this
    // thread scripts each block before it is rendered and delivers the notices.
    void play(int blocks, int watchFrom)
    {
        std::atomic<int> scripted{-1}, rendered{-1};
        std::thread audio([&] {
            std::vector<float> buffer(2 * blockFrames);
            for (int block = 0; block < blocks; ++block) {
                while (scripted.load(std::memory_order_acquire) < block)
                    std::this_thread::yield();
                AudioThreadWatch::watchThisThread(block >= watchFrom);
                player->processBlock(buffer.data(), blockFrames, false);
                rendered.store(block, std::memory_order_release);
            }
            AudioThreadWatch::watchThisThread(false);
        });
        for (int block = 0; block < blocks; ++block) {
            script(block);
            scripted.store(block, std::memory_order_release);
            while (rendered.load(std::memory_order_acquire) < block - 8)
                player->deliverNotices();
            player->deliverNotices();
            for (NoteRecord record; player->noteRecords().pop(record);)
                ++records;
            for (NoteRecord record; player->noteRecords(PdPlayer::NoteListener::Osc).pop(record);)
                ++oscRecords;
            if (block == watchFrom - 1) {
                while (rendered.load(std::memory_order_acquire) < block)
                    player->deliverNotices();
                AudioThreadWatch::reset();
                notes = 0;
                records = oscRecords = 0;
            }
        }
        audio.join();
        player->deliverNotices();
    }

    std::unique_ptr<PdPlayer> player;
    QStringList paths = distinctPaths(140);
    std::mt19937 random{7};
    int notesOn = 0;
    long records = 0, oscRecords = 0, notes = 0;
};

QTEST_GUILESS_MAIN(AudioThreadSafetyTest)
#include "AudioThreadSafetyTest.moc"
