// The instrument's window used as a player uses it: the real program on an X
// display with a window manager, the mouse and keyboard driven through the X
// server (ProgramWindow), and what it plays recorded from its JACK ports.

#include "JackTestServer.h"
#include "ProgramRun.h"
#include "ProgramWindow.h"

#include <QJsonObject>
#include <QtTest>
#include <memory>
#include <signal.h>

namespace {

const char* const rootTag = "w000000001";

// The root's fundamental, and its harmonics at 880, 1320 and 1760 Hz, heard.
struct Tone
{
    explicit Tone(const JackTestServer& jack) : levels(jack.levels({440, 880, 1320, 1760})) {}
    double fundamental() const { return levels[0]; }
    double harmonicShare() const
    {
        return (levels[1] + levels[2] + levels[3]) / std::max(levels[0], 1e-9);
    }
    std::vector<double> levels;
};

using Report = const WindowReport&;

} // namespace

class WindowEndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void playersChangesAreHeardAndKept();

private:
    // With its own data folder and the root tag on port; not started yet.
    std::unique_ptr<ProgramRun> program(const QByteArray& options);

    std::unique_ptr<JackTestServer> jack;
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

std::unique_ptr<ProgramRun> WindowEndToEndTest::program(const QByteArray& options)
{
    auto run = std::make_unique<ProgramRun>();
    jack->addTo(run->environment());
    run->writeDataFile("rfid_map.json",
                       QByteArray("{ \"") + rootTag + "\": { \"event\": 0, \"value\": \"/\" } }");
    run->writeDataFile("options.json", options);
    return run;
}

// The Sine voice plays the root as a pure tone; SawFilter, picked from the
// patch menu, with strong harmonics; the volume slider pulled down makes it
// quieter. The look, mono, the volume and the window's place chosen are all
// there again at the next start.
void WindowEndToEndTest::playersChangesAreHeardAndKept()
{
    const auto first = program(QStringLiteral("{ \"udpPort\": %1 }").arg(port).toUtf8());
    ProgramWindow window(*first);
    first->start();
    QVERIFY2(window.waitFor([](Report r) {
        return r.value("patchMenu", "current") == "Sine" && r.shows("volumeSlider") &&
               r.value("centralStack", "page") == "circleLayer";
    }),
             first->standardError().right(2000).constData());
    QCOMPARE(ProgramRun::wand(rootTag, port), QByteArray());
    const Tone sine(*jack);
    QVERIFY2(sine.fundamental() > 0 && sine.harmonicShare() < 0.01,
             JackTestServer::describe(sine.levels).constData());

    // The menu opens on the entry shown; SawFilter is the one above Sine.
    QVERIFY(window.click(window.report().centre("patchMenu")));
    QVERIFY(QTest::qWaitFor([&] { return window.popupShown(); }, 5000));
    QVERIFY(ProgramWindow::xdotool({"key", "Up", "key", "Return"}));
    QVERIFY(
        window.waitFor([](Report r) { return r.value("patchMenu", "current") == "SawFilter"; }));
    // A new voice starts with every note off.
    QCOMPARE(ProgramRun::wand(rootTag, port), QByteArray());
    const Tone saw(*jack);
    QVERIFY2(saw.fundamental() > 0.1 * sine.fundamental() && saw.harmonicShare() > 0.1,
             JackTestServer::describe(saw.levels).constData());

    WindowReport shown = window.report();
    const QRect slider = shown.widgets.value("volumeSlider").rect;
    QVERIFY(window.drag(shown.handle("volumeSlider"),
                        QPoint(slider.center().x(), slider.bottom() - slider.height() / 4)));
    QVERIFY(window.waitFor([](Report r) { return r.value("volumeSlider", "value").toInt() < 60; }));
    const Tone quieter(*jack);
    QVERIFY2(quieter.fundamental() < 0.7 * saw.fundamental() && quieter.fundamental() > 0,
             JackTestServer::describe(quieter.levels).constData());

    // "Flowers | Grapes": Grapes fills the right third.
    const QRect label = window.report().widgets.value("linkLabel").rect;
    QVERIFY(window.click(QPoint(label.left() + label.width() * 5 / 6, label.center().y())));
    QVERIFY(
        window.waitFor([](Report r) { return r.value("centralStack", "page") == "grapeLayer"; }));
    QVERIFY(window.moveAndResize(QPoint(60, 40), QSize(900, 560)));
    QVERIFY(window.waitFor([](Report r) { return r.window.width() == 900; }));
    QVERIFY(window.click(window.report().centre("monoButton")));
    QVERIFY(window.waitFor([](Report r) { return r.value("monoButton", "checked") == "1"; }));
    shown = window.report();
    const int volume = shown.value("volumeSlider", "value").toInt();

    QVERIFY(window.close() && first->waitForExit());
    QCOMPARE(first->exitStatus(), 0);
    const QJsonObject options = first->options();
    QCOMPARE(options.value("circlesView").toBool(true), false);
    QCOMPARE(options.value("monophonic").toBool(), true);
    QVERIFY2(qAbs(options.value("masterVolume").toDouble() - volume / 140.0) < 1e-4,
             qPrintable(QString::number(volume)));
    QCOMPARE(options.value("windowSize").toString(),
             QStringLiteral("%1,%2").arg(shown.window.width()).arg(shown.window.height()));

    const auto second = program(first->dataFile("options.json"));
    ProgramWindow again(*second);
    second->start();
    QVERIFY2(again.waitFor([&](Report r) {
        return r.window == shown.window && r.value("centralStack", "page") == "grapeLayer" &&
               r.value("monoButton", "checked") == "1" &&
               r.value("volumeSlider", "value").toInt() == volume;
    }),
             qPrintable(QStringLiteral("window at %1,%2, %3x%4")
                            .arg(again.report().window.x())
                            .arg(again.report().window.y())
                            .arg(again.report().window.width())
                            .arg(again.report().window.height())));
    QVERIFY(second->sendSignal(SIGTERM) && second->waitForExit());
}

QTEST_GUILESS_MAIN(WindowEndToEndTest)
#include "WindowEndToEndTest.moc"
