// The instrument's window used as a player uses it: the real program on an X
// display with a window manager, a JACK server as its sound device, the
// mouse and keyboard driven through the X server (ProgramWindow), and what
// it plays recorded from its JACK ports.

#include "JackTestServer.h"
#include "ProgramRun.h"
#include "ProgramWindow.h"
#include "ToneAnalysis.h"

#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <signal.h>
#include <vector>

namespace {

constexpr int sampleRate = 44100;
const char* const rootTag = "w000000001";

struct Tone
{
    double fundamental = 0; // 440 Hz, the root
    double harmonics = 0;   // 880, 1320 and 1760 Hz together
    double harmonicShare() const { return harmonics / std::max(fundamental, 1e-9); }
    QString text() const
    {
        return QStringLiteral("440 Hz %1, harmonics %2").arg(fundamental).arg(harmonics);
    }
};

} // namespace

class WindowEndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void patchMenuAndVolumeSliderChangeWhatIsHeard();
    void looksAndWindowStateSurviveClosing();

private:
    // A program with its own data folder, the root tag on a free port, the
    // probe loaded; started, with its window on screen.
    std::unique_ptr<ProgramRun> startProgram(const QByteArray& options = QByteArray());
    Tone record();

    std::unique_ptr<JackTestServer> jack;
    QTemporaryDir scratch;
    int port = 0;
};

void WindowEndToEndTest::initTestCase()
{
    const QString reason = ProgramWindow::unavailableReason({"jack_rec", "sox"});
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    jack = std::make_unique<JackTestServer>();
    if (!jack->isRunning())
        QSKIP(qPrintable(jack->error()));
    port = ProgramRun::freeUdpPort();
}

std::unique_ptr<ProgramRun> WindowEndToEndTest::startProgram(const QByteArray& options)
{
    auto run = std::make_unique<ProgramRun>();
    jack->addTo(run->environment());
    run->writeDataFile(QStringLiteral("rfid_map.json"),
                       QByteArray("{ \"") + rootTag + "\": { \"event\": 0, \"value\": \"/\" } }");
    run->writeDataFile(QStringLiteral("options.json"),
                       options.isEmpty() ? QStringLiteral("{ \"udpPort\": %1 }").arg(port).toUtf8()
                                         : options);
    return run;
}

Tone WindowEndToEndTest::record()
{
    const std::vector<float> samples = jack->record(QStringLiteral("PortAudio:out_0"),
                                                    scratch.filePath(QStringLiteral("take.wav")));
    Tone tone;
    tone.fundamental = ToneAnalysis::magnitudeAt(samples, 440.0, sampleRate);
    for (double harmonic : {880.0, 1320.0, 1760.0})
        tone.harmonics += ToneAnalysis::magnitudeAt(samples, harmonic, sampleRate);
    return tone;
}

// Given the Sine voice playing the root, a pure tone: when the player picks
// SawFilter from the patch menu and plays the root again, the tone has
// strong harmonics; when the volume slider is pulled down, it is quieter.
void WindowEndToEndTest::patchMenuAndVolumeSliderChangeWhatIsHeard()
{
    const std::unique_ptr<ProgramRun> run = startProgram();
    ProgramWindow window(*run);
    run->start();
    QVERIFY2(window.waitFor([](const WindowReport& r) {
        return r.value("patchMenu", "current") == "Sine" && r.shows("volumeSlider");
    }),
             run->standardError().right(2000).constData());

    QCOMPARE(ProgramRun::wand(rootTag, port), QByteArray());
    const Tone sine = record();
    QVERIFY2(sine.fundamental > 0 && sine.harmonicShare() < 0.01, qPrintable(sine.text()));

    // The menu opens on the entry shown; SawFilter is the one above Sine.
    QVERIFY(window.click(window.report().centre("patchMenu")));
    QVERIFY(QTest::qWaitFor([&] { return window.popupShown(); }, 5000));
    QVERIFY(window.key(QStringLiteral("Up")));
    QVERIFY(window.key(QStringLiteral("Return")));
    QVERIFY(window.waitFor(
        [](const WindowReport& r) { return r.value("patchMenu", "current") == "SawFilter"; }));
    // A new voice starts with every note off.
    QCOMPARE(ProgramRun::wand(rootTag, port), QByteArray());
    const Tone saw = record();
    QVERIFY2(saw.fundamental > 0.1 * sine.fundamental && saw.harmonicShare() > 0.1,
             qPrintable(saw.text()));

    const WindowReport before = window.report();
    const QRect slider = before.widgets.value("volumeSlider").rect;
    QVERIFY(window.drag(before.handle("volumeSlider"),
                        QPoint(slider.center().x(), slider.bottom() - slider.height() / 4)));
    QVERIFY(window.waitFor(
        [](const WindowReport& r) { return r.value("volumeSlider", "value").toInt() < 60; }));
    const Tone quieter = record();
    QVERIFY2(quieter.fundamental < 0.7 * saw.fundamental && quieter.fundamental > 0,
             qPrintable(quieter.text() + QStringLiteral(" after ") + saw.text()));
}

// The player switches to the grapes look and back and to grapes again,
// moves and resizes the window, sets mono and the volume, and closes the
// window; the next start shows the same window in the same place with the
// grapes look, mono and the volume, all kept in options.json.
void WindowEndToEndTest::looksAndWindowStateSurviveClosing()
{
    const std::unique_ptr<ProgramRun> first = startProgram();
    ProgramWindow window(*first);
    first->start();
    QVERIFY(window.waitFor([](const WindowReport& r) {
        return r.shows("linkLabel") && r.value("centralStack", "page") == "circleLayer";
    }));

    // "Flowers | Grapes": the words fill the left and right thirds.
    const auto clickWord = [&](int third) {
        const QRect label = window.report().widgets.value("linkLabel").rect;
        return window.click(
            QPoint(label.left() + label.width() * (2 * third + 1) / 6, label.center().y()));
    };
    const auto shows = [&](const char* page) {
        return window.waitFor(
            [page](const WindowReport& r) { return r.value("centralStack", "page") == page; });
    };
    QVERIFY(clickWord(2));
    QVERIFY(shows("grapeLayer"));
    QVERIFY(clickWord(0));
    QVERIFY(shows("circleLayer"));
    QVERIFY(clickWord(2));
    QVERIFY(shows("grapeLayer"));

    QVERIFY(window.moveAndResize(QPoint(60, 40), QSize(900, 560)));
    QVERIFY(window.waitFor([](const WindowReport& r) { return r.window.width() == 900; }));
    QVERIFY(window.click(window.report().centre("monoButton")));
    const WindowReport before = window.report();
    const QRect slider = before.widgets.value("volumeSlider").rect;
    QVERIFY(window.drag(before.handle("volumeSlider"), QPoint(slider.center().x(), slider.top())));
    QVERIFY(window.waitFor([](const WindowReport& r) {
        return r.value("monoButton", "checked") == "1" && r.value("volumeSlider", "value") == "140";
    }));
    const QRect placed = window.report().window;

    QVERIFY(window.close());
    QVERIFY(first->waitForExit());
    QCOMPARE(first->exitStatus(), 0);
    const QJsonObject options = first->options();
    QCOMPARE(options.value("circlesView").toBool(true), false);
    QCOMPARE(options.value("monophonic").toBool(), true);
    QCOMPARE(options.value("masterVolume").toDouble(), 1.0);
    QCOMPARE(options.value("windowSize").toString(),
             QStringLiteral("%1,%2").arg(placed.width()).arg(placed.height()));

    const std::unique_ptr<ProgramRun> second = startProgram(first->dataFile("options.json"));
    ProgramWindow again(*second);
    second->start();
    QVERIFY2(again.waitFor([&](const WindowReport& r) {
        return r.window == placed && r.value("centralStack", "page") == "grapeLayer" &&
               r.value("monoButton", "checked") == "1" && r.value("volumeSlider", "value") == "140";
    }),
             QTest::toString(again.report().window));
    QVERIFY(second->sendSignal(SIGTERM));
    QVERIFY(second->waitForExit());
}

QTEST_GUILESS_MAIN(WindowEndToEndTest)
#include "WindowEndToEndTest.moc"
