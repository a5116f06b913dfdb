// Takes recorded from blocks played on the test thread, as the audio
// callback plays them: the WAV and the score agree with what was played,
// and a take that cannot be written ends cleanly with a valid file.
#include "PerformanceRecorder.h"
#include "FloatWav.h"
#include "LatticeNoteEvent.h"
#include "PdPlayer.h"
#include "ScoreFile.h"
#include "TestPatch.h"

#include <QtTest>
#include <csignal>
#include <sys/resource.h>

class PerformanceRecorderTest : public QObject
{
    Q_OBJECT

    static constexpr int blockFrames = 256;
    QTemporaryDir folder;
    std::vector<float> block = std::vector<float>(2 * blockFrames);

    void play(PdPlayer& player, int blocks)
    {
        for (int i = 0; i < blocks; ++i)
            player.processBlock(block.data(), blockFrames, false);
    }
    static void queue(PdPlayer& player, const LatticeEvent& event) { player.queueEventGui(&event); }

private slots:
    // Sounding notes and the transposition at the start go into the first line, each
    // later event at the frame of the block that ran it; the WAV holds every frame.
    void writesWhatWasPlayed()
    {
        TestPatch patch;
        PdPlayer player;
        QVERIFY(patch.useShipped(TestPatch::shippedFolder() + "/Sine.pd") && player.init());
        player.initAudio(2, 44100);
        QVERIFY(player.loadPatch(patch.mainPatch()));
        PerformanceRecorder recorder(&player);
        queue(player, LatticeEvent(LatticeEvent::Transpose, 3));
        queue(player, LatticeNoteEvent(LatticeEvent::NoteOn, LatticePath(QString("/5"))));
        queue(player, LatticeEvent(LatticeEvent::PrimeToggle, 7));
        play(player, 2);

        QSignalSpy finished(&recorder, &PerformanceRecorder::finished);
        QVERIFY(recorder.start(folder.filePath("Recordings"), 44100, "Sine"));
        QVERIFY(QFileInfo(recorder.wavPath()).fileName().endsWith(".wav"));
        play(player, 3);
        queue(player, LatticeNoteEvent(LatticeEvent::NoteOff, LatticePath(QString("/5"))));
        queue(player, LatticeNoteEvent(LatticePath(QString("/-3"))));
        play(player, 40);
        recorder.stop();
        play(player, 5); // the take ends at the next block; these are not in it
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished[0][1].toString(), QString());

        const auto samples = readFloatWav(recorder.wavPath());
        QVERIFY(samples);
        QCOMPARE(samples->size(), std::size_t(2 * 43 * blockFrames));
        QVERIFY(*std::max_element(samples->begin(), samples->end()) > 0.05f); // /5 sounded
        QFile file(recorder.scorePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QString why;
        const std::optional<Score> score = Score::read(file.readAll(), &why);
        QVERIFY2(score, qPrintable(why));
        QCOMPARE(score->header.transposition, QList<int>{3});
        QCOMPARE(score->header.primesOff, QList<int>{7});
        QCOMPARE(score->header.sounding, QStringList{"/5"});
        QCOMPARE(score->header.voice, QString("Sine"));
        QCOMPARE(score->endFrame, 43 * blockFrames);
        QCOMPARE(score->events.size(), 2);
        QCOMPARE(score->events[0].frame, 3 * blockFrames);
        QCOMPARE(score->events[0].kind, int(LatticeEvent::NoteOff));
        QCOMPARE(score->events[1].path, QString("/-3"));
        QVERIFY(QFile::exists(QFileInfo(recorder.wavPath()).dir().filePath(score->header.wav)));
        player.term();
    }

    // A disk that fills mid-take (a file size limit stands in) ends the take with the
    // reason; what was written is a whole WAV. A folder that cannot be made is refused.
    void failuresEndTheTakeCleanly()
    {
        PdPlayer player;
        QVERIFY(player.init());
        PerformanceRecorder recorder(&player);
        QSignalSpy finished(&recorder, &PerformanceRecorder::finished);
        rlimit limit{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlimit tight{rlim_t(100 * 1000 + 3), limit.rlim_max};
        void (*handler)(int) = signal(SIGXFSZ, SIG_IGN);
        QVERIFY(recorder.start(folder.filePath("Full"), 44100, "Sine"));
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
        for (int i = 0; i < 400 && finished.isEmpty(); ++i) {
            play(player, 4);
            QTest::qWait(5);
        }
        QVERIFY(finished.wait(5000) || !finished.isEmpty());
        setrlimit(RLIMIT_FSIZE, &limit);
        signal(SIGXFSZ, handler);
        QVERIFY2(finished[0][1].toString().contains("could not be written"),
                 qPrintable(finished[0][1].toString()));
        const auto samples = readFloatWav(recorder.wavPath());
        QVERIFY(samples && samples->size() > 10000 && samples->size() % 2 == 0);
        play(player, 4); // the sound goes on, and a new take can begin
        QVERIFY(recorder.start(folder.filePath("Full"), 44100, "Sine"));
        recorder.stopAndWait();

        QFile blocker(folder.filePath("NotAFolder"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        QString why;
        QVERIFY(!recorder.start(folder.filePath("NotAFolder/Recordings"), 44100, "Sine", &why));
        QVERIFY(why.contains("Cannot make the folder"));
    }

    // Scores from elsewhere are read with care: a line out of place is named.
    void refusesScoresThatAreNotTakes_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("reason");
        const QByteArray start = R"({"kind": "start", "sampleRate": 44100, "transposition": "/"})"
                                 "\n";
        QTest::newRow("no start") << QByteArray(R"({"frame": 0, "kind": 1})")
                                  << "line 1: the first";
        QTest::newRow("no end") << start + R"({"frame": 0, "kind": 1})"
                                << "no end line";
        QTest::newRow("backwards")
            << start + "{\"frame\": 9, \"kind\": 1}\n{\"frame\": 3, \"kind\": 1}"
            << "line 3: frames go backwards";
        QTest::newRow("half a frame") << start + R"({"frame": 2.5, "kind": 1})"
                                      << "whole number";
        QTest::newRow("no path") << start + R"({"frame": 0, "kind": 21, "path": "/4"})"
                                 << "without a path";
        QTest::newRow("kind") << start + R"({"frame": 0, "kind": 99})"
                              << "not an event kind";
        QTest::newRow("rate") << QByteArray(R"({"kind": "start", "sampleRate": 1e9})") << "rate";
        QTest::newRow("after end")
            << start + "{\"kind\": \"end\", \"frame\": 5}\n{\"frame\": 6, \"kind\": 1}"
            << "after the end";
    }
    void refusesScoresThatAreNotTakes()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, reason);
        QString why;
        QVERIFY(!Score::read(text, &why));
        QVERIFY2(why.contains(reason), qPrintable(why));
    }
};

QTEST_GUILESS_MAIN(PerformanceRecorderTest)
#include "PerformanceRecorderTest.moc"
