#include "JackTestServer.h"
#include "LogCapture.h"
#include "LatticeNoteEvent.h"
#include "PaAudioOutput.h"
#include "PdPlayer.h"
#include "TestPatch.h"

#include <QtTest>
#include <m_pd.h>
#include <numeric>

// The real PortAudio stream on the dummy-backend JACK server of JackTestServer.
class PaAudioOutputJackTest : public QObject
{
    Q_OBJECT

private slots:
    void playsNoteOnDefaultDevice()
    {
        const JackTestServer server;
        QVERIFY2(server.isRunning(), qPrintable(server.error()));
        // PortAudio's JACK host API joins this server.
        qputenv("JACK_DEFAULT_SERVER", server.name().toUtf8());
        qputenv("JACK_NO_START_SERVER", "1");

        PdPlayer player;
        QVERIFY(player.init());
        PaAudioOutput output;
        player.setAudioOutput(&output);
        // -1 opens PortAudio's default device; make sure it is the JACK server.
        QVERIFY(output.init(256, -1, &player));
        const int jack = output.devices().indexOf("JACK Audio Connection Kit: system");
        if (output.selectedDevice() != jack)
            QVERIFY(output.selectDevice(jack));
        TestPatch patch;
        QVERIFY(player.loadPatch(patch.mainPatch()));

        // The root at the default base frequency is 440 Hz, in both channels.
        const LatticeNoteEvent root(QStringLiteral("/"));
        player.queueEventGui(&root);
        for (const char* port : {"PortAudio:out_0", "PortAudio:out_1"}) {
            const std::vector<double> heard = server.levels({440.0, 430.0, 450.0}, port);
            QVERIFY2(heard[0] > 30.0 * std::max(heard[1], heard[2]), port);
        }

        // Read by the benchmarks: each callback in one bucket, none using more CPU than it lasted.
        const PaAudioOutput::CallbackStatistics statistics = output.callbackStatistics();
        QVERIFY(statistics.callbackCount >= 10);
        QCOMPARE(std::accumulate(statistics.histogram.begin(), statistics.histogram.end(),
                                 std::int64_t{0}),
                 statistics.callbackCount);
        QVERIFY(statistics.longestCpuNanoseconds > 0);
        QVERIFY(statistics.longestCpuNanoseconds <= statistics.longestNanoseconds + 100'000);

        // A block kept waiting (here on Pd's lock, held by this thread for
        // 40 ms) is told apart from one that worked too long: the record
        // made when the stream closes names it with its wall and processor
        // times.
        sys_lock();
        QThread::msleep(40);
        sys_unlock();
        QTest::qWait(100);
        LogCapture log;
        player.term();
        output.term();
        const QStringList records = log.texts(QtWarningMsg);
        const QString blocks =
            records.filter(QStringLiteral("Audio blocks late or after an underflow")).value(0);
        const QRegularExpression waited(
            QStringLiteral("\\d\\d:\\d\\d:\\d\\d\\.\\d{3} (\\d+\\.\\d\\d) ms \\((\\d+\\.\\d\\d) ms processor\\)"));
        bool found = false;
        for (auto match = waited.globalMatch(blocks); match.hasNext();) {
            const QRegularExpressionMatch block = match.next();
            found = found || (block.captured(1).toDouble() >= 35.0 &&
                              block.captured(2).toDouble() < 5.0);
        }
        QVERIFY2(found, qPrintable(blocks));
        const QString account = records.filter(QStringLiteral("Audio stream closed")).value(0);
        const QRegularExpression counted(QStringLiteral("since start (\\d+) blocks"));
        QVERIFY2(counted.match(account).captured(1).toLongLong() > statistics.callbackCount,
                 qPrintable(account));
    }
};

QTEST_GUILESS_MAIN(PaAudioOutputJackTest)
#include "PaAudioOutputJackTest.moc"
