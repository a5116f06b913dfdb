// The main window and its tweak and diagnostics dialogs against the real
// player, which runs no stream: the test's thread plays the audio thread by
// draining the command buffers, and patches open directly. The runtime main
// patch is the tests' own, answering the macro query with its macro text.

#include "MainWindow.h"
#include "DiagnosticsDialog.h"
#include "LatticeBallWidget.h"
#include "LatticeView.h"
#include "LatticeWidget.h"
#include "LayoutConstants.h"
#include "LogCapture.h"
#include "PlayerMetaTypes.h"
#include "SignalLog.h"
#include "TestAudioOutput.h"
#include "TestPatch.h"
#include "TuningLatticeApplication.h"
#include "TweakDialog.h"

#include <QComboBox>
#include <QGraphicsEllipseItem>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QtTest>
#include <memory>

namespace {

TuningLatticeApplication& app()
{
    return *TuningLatticeApplication::instance();
}

bool putFile(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

QString runtimePatch(const QString& name)
{
    return TuningLatticeApplication::dataDirectory() + QStringLiteral("/patch/") + name;
}

// The window's own records, without what the platform says.
QStringList windowRecords(const LogCapture& log, QtMsgType type)
{
    QStringList texts;
    for (const LogCapture::Record& record : log.records())
        if (record.type == type && record.file.endsWith("MainWindow.cpp"))
            texts.append(record.text);
    return texts;
}

QStringList menuTexts(const QComboBox* menu)
{
    QStringList texts;
    for (int i = 0; i < menu->count(); ++i)
        texts.append(menu->itemText(i));
    return texts;
}

// Runs the events the window queued, as the audio thread would, and
// returns what the player emitted.
QStringList drain()
{
    SignalLog log(&app().player());
    app().player().processCommandBuffers();
    return log.take();
}

// Delivers the player's queued answers to the window, then drains what the
// window queued in reply, until both are quiet.
void settle()
{
    do
        QCoreApplication::processEvents();
    while (!drain().isEmpty());
}

void queue(int type, float value)
{
    const LatticeEvent event(type, value);
    app().player().queueEventGui(&event);
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void showsNoneLoadedWithoutAnyPatch();
    void listsVoicesBesideTheProgram();
    void failedLoadKeepsThePreviousEntry_data();
    void failedLoadKeepsThePreviousEntry();
    void monoAndPolySendAndFollow_data();
    void monoAndPolySendAndFollow();
    void relabelsMacros_data();
    void relabelsMacros();
    void sendsMacroDefaultsOfTheEightMacros();
    void volumeSliderSendsAndFollows();
    void readoutShowsStepsAndFrequency_data();
    void readoutShowsStepsAndFrequency();
    void diagnosticsToggleAndKeepHistory();
    void tweakShowsOnlyAfterUpdate();

private:
    // A window whose patches folder holds voices; the first is the default.
    std::unique_ptr<MainWindow> makeWindow(const QStringList& voices);
    template <typename T> T* child(const char* name) const
    {
        return window->findChild<T*>(QLatin1String(name));
    }

    QTemporaryDir home;
    std::unique_ptr<QTemporaryDir> scratch;
    std::unique_ptr<MainWindow> window;
    QStringList shownMessages;
};

void MainWindowTest::initTestCase()
{
    qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
    QVERIFY(QDir().mkpath(runtimePatch(QString())));
    registerPlayerMetaTypes();
    QVERIFY(app().player().init());
    app().player().initAudio(2, 44100);
    QVERIFY(app().lattice().init(&app().player()));
    app().setMessageReporter([this](const QString& text) { shownMessages.append(text); });
}

void MainWindowTest::init()
{
    scratch = std::make_unique<QTemporaryDir>();
    app().setResourceDirectory(scratch->filePath("bin"));
    app().settings().defaultPatch = scratch->filePath("nowhere/Missing.pd");
    shownMessages.clear();
    // Without a macro text, so that macro names come only from the tests.
    const TestPatch patch{QString()};
    for (const char* name : {"lattice_main.pd", "test_voice.pd", "lattice_voice.pd"})
        QFile::remove(runtimePatch(QLatin1String(name)));
    QVERIFY(QFile::copy(patch.mainPatch().absoluteFilePath(), runtimePatch("lattice_main.pd")));
    QVERIFY(QFile::copy(patch.folder() + "/test_voice.pd", runtimePatch("test_voice.pd")));
}

void MainWindowTest::cleanup()
{
    window.reset();
    queue(LatticeEvent::Transpose, 0.0f);
    queue(LatticeEvent::BaseFrequencySet, 440.0f);
    queue(LatticeEvent::MonophonicSet, 0.0f);
    settle();
}

std::unique_ptr<MainWindow> MainWindowTest::makeWindow(const QStringList& voices)
{
    for (const QString& voice : voices)
        putFile(scratch->filePath("bin/patches/") + voice);
    if (!voices.isEmpty())
        app().settings().defaultPatch = scratch->filePath("bin/patches/") + voices.first();
    auto made = std::make_unique<MainWindow>(&app().lattice());
    made->resize(687, 409);
    made->show();
    return made;
}

// Given no default patch, no Sine.pd and no patch at all, the menu holds one
// selected "None loaded", and stepping through it loads nothing.
void MainWindowTest::showsNoneLoadedWithoutAnyPatch()
{
    LogCapture log;
    window = makeWindow({});
    auto* menu = child<QComboBox>("patchMenu");
    QCOMPARE(menuTexts(menu), QStringList{"None loaded"});
    QCOMPARE(menu->currentIndex(), 0);
    QCOMPARE(windowRecords(log, QtWarningMsg),
             (QStringList{"No default patch name found, use Sine.",
                          "Sine patch not found, set None loaded."}));
    QCOMPARE(windowRecords(log, QtCriticalMsg),
             QStringList{QStringLiteral("Found no presets in patch dir \"%1/patches\"")
                             .arg(scratch->filePath("bin"))});

    child<QToolButton>("patchIncButton")->click();
    child<QToolButton>("patchDecButton")->click();
    QCOMPARE(menuTexts(menu), QStringList{"None loaded"});
    QVERIFY(shownMessages.isEmpty());
}

// Plain files directly in "patches", in case-sensitive name order, named
// without a lower-case ".pd"; the shell folder is not a voice.
void MainWindowTest::listsVoicesBesideTheProgram()
{
    for (const char* name : {"b.pd", "A.pd", "Drone.PD", "shell/lattice_main.pd"})
        QVERIFY(putFile(scratch->filePath("bin/patches/") + name));
    window = makeWindow({});
    auto* menu = child<QComboBox>("patchMenu");
    QCOMPARE(menuTexts(menu), (QStringList{"A", "Drone.PD", "b", "None loaded"}));
    QCOMPARE(menu->itemData(0).toString(), scratch->filePath("bin/patches/A.pd"));
    QCOMPARE(menu->currentIndex(), 3);
}

void MainWindowTest::failedLoadKeepsThePreviousEntry_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<bool>("loadedBefore");
    QTest::addColumn<QString>("record");

    // Stepping tries B, the entry after A; "New" is a file outside the menu.
    const QString voice = '"' + runtimePatch("lattice_voice.pd") + '"';
    const QString mainFailed = "Failed to load \"" + runtimePatch("lattice_main.pd") +
                               "\" after copying in voice " + voice;
    QTest::newRow("B gone from disk, stepped to")
        << "B missing" << true << "Failed to copy \"%1\" to the runtime patch location " + voice;
    QTest::newRow("old voice cannot be deleted, stepped to B")
        << "undeletable" << true << "Failed to delete " + voice;
    QTest::newRow("audio thread never answers, stepped to B") << "stalled" << true << mainFailed;
    QTest::newRow("main patch does not open, New opened") << "no main" << true << mainFailed;
    QTest::newRow("default patch at start-up") << "no main" << false << mainFailed;
}

// The message box is shown, the menu keeps its entries (a new file does not
// join it) and shows the entry loaded before, or "None loaded" when the
// default patch failed at start-up.
void MainWindowTest::failedLoadKeepsThePreviousEntry()
{
    QFETCH(QString, failure);
    QFETCH(bool, loadedBefore);
    QFETCH(QString, record);

    LogCapture log;
    if (!loadedBefore) {
        QVERIFY(QFile::remove(runtimePatch("lattice_main.pd")));
        window = makeWindow({"A.pd"});
        QCOMPARE(shownMessages, QStringList{"Failed to load patch " +
                                            scratch->filePath("bin/patches/A.pd") + '.'});
        QVERIFY(windowRecords(log, QtCriticalMsg).contains(record));
        QCOMPARE(menuTexts(child<QComboBox>("patchMenu")), (QStringList{"A", "None loaded"}));
        QCOMPARE(child<QComboBox>("patchMenu")->currentText(), "None loaded");
        return;
    }
    window = makeWindow({"A.pd", "B.pd"});
    settle();
    auto* menu = child<QComboBox>("patchMenu");
    const QStringList entries = menuTexts(menu);
    QCOMPARE(menu->currentText(), "A");

    const bool stepped = failure != "no main";
    const QString tried = scratch->filePath(stepped ? "bin/patches/B.pd" : "elsewhere/New.pd");
    if (failure == "B missing")
        QVERIFY(QFile::remove(tried));
    else
        QVERIFY(putFile(tried));
    if (failure == "undeletable") {
        QFile::remove(runtimePatch("lattice_voice.pd"));
        QVERIFY(putFile(runtimePatch("lattice_voice.pd/keep")));
    }
    if (failure == "no main")
        QVERIFY(QFile::remove(runtimePatch("lattice_main.pd")));
    TestAudioOutput stalled(&app().player());
    if (failure == "stalled") {
        stalled.stallStream();
        app().player().setAudioOutput(&stalled);
    }

    log.clear();
    if (stepped)
        child<QToolButton>("patchIncButton")->click();
    else
        window->loadPatch(tried);
    app().player().setAudioOutput(nullptr);
    QDir(runtimePatch("lattice_voice.pd")).removeRecursively();

    QCOMPARE(shownMessages, QStringList{QStringLiteral("Failed to load patch %1.").arg(tried)});
    QVERIFY2(windowRecords(log, QtCriticalMsg).contains(record.replace("%1", tried)),
             qPrintable(windowRecords(log, QtCriticalMsg).join('\n')));
    QCOMPARE(menuTexts(menu), entries);
    QCOMPARE(menu->currentText(), "A");
}

void MainWindowTest::monoAndPolySendAndFollow_data()
{
    QTest::addColumn<bool>("monoBefore");
    QTest::addColumn<QString>("clicked");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<bool>("monoAfter");

    QTest::newRow("mono clicked while checked") << true << "monoButton"
                                                << "monophonicChanged(false)" << false;
    QTest::newRow("poly clicked while checked") << false << "polyButton"
                                                << "monophonicChanged(true)" << true;
}

// The click sends the new state; the player's answer sets both buttons and
// sends nothing back.
void MainWindowTest::monoAndPolySendAndFollow()
{
    QFETCH(bool, monoBefore);
    QFETCH(QString, clicked);
    QFETCH(QString, sent);
    QFETCH(bool, monoAfter);

    window = makeWindow({});
    queue(LatticeEvent::MonophonicSet, monoBefore ? 1.0f : 0.0f);
    settle();
    auto* mono = child<QPushButton>("monoButton");
    auto* poly = child<QPushButton>("polyButton");
    QCOMPARE(mono->isChecked(), monoBefore);

    window->findChild<QPushButton*>(clicked)->click();
    QCOMPARE(drain(), QStringList{sent});
    QCoreApplication::processEvents();
    QCOMPARE(mono->isChecked(), monoAfter);
    QCOMPARE(poly->isChecked(), !monoAfter);
    QCOMPARE(drain(), QStringList{});
}

void MainWindowTest::relabelsMacros_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("labels");

    const QString unused = QStringLiteral("Unused");
    QTest::newRow("three, any case")
        << QStringList{"CUTOFF", "resonance", "dRIVE"}
        << QStringList{"Cutoff", "Resonance", "Drive", unused, unused, unused, unused, unused};
    QTest::newRow("ten: the first eight")
        << QStringList{"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}
        << QStringList{"A", "B", "C", "D", "E", "F", "G", "H"};
    QTest::newRow("empty name is unused")
        << QStringList{"a", "", "c"}
        << QStringList{"A", unused, "C", unused, unused, unused, unused, unused};
}

// Used macros are enabled, unused ones disabled, label and slider alike.
void MainWindowTest::relabelsMacros()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, labels);

    window = makeWindow({});
    window->onMacroNamesReceived(names);
    for (int i = 0; i < MainWindow::macroCount; ++i) {
        const QString number = QString::number(i + 1);
        auto* label = window->findChild<QLabel*>("macroLabel" + number);
        QCOMPARE(label->text(), labels.at(i));
        const bool used = labels.at(i) != "Unused";
        QCOMPARE(label->isEnabled(), used);
        QCOMPARE(window->findChild<QSlider*>("macroSlider" + number)->isEnabled(), used);
    }
}

// -1 (no default) and -0.5 send nothing, 0.0 is a value, and entries past
// the eighth are dropped: their codes would open or close the patch.
void MainWindowTest::sendsMacroDefaultsOfTheEightMacros()
{
    window = makeWindow({"A.pd"});
    settle();
    window->onMacroDefaultsReceived(
        {-1.0f, 0.0f, 0.25f, -0.5f, -0.4f, -1.0f, -1.0f, 1.0f, 0.5f, 0.5f});
    QCOMPARE(drain(), (QStringList{"macroValueChanged(2,0)", "macroValueChanged(3,0.25)",
                                   "macroValueChanged(5,-0.4)", "macroValueChanged(8,1)"}));
}

void MainWindowTest::volumeSliderSendsAndFollows()
{
    window = makeWindow({});
    settle();
    auto* slider = child<QSlider>("volumeSlider");
    slider->setValue(140);
    slider->setValue(120);
    QCOMPARE(drain(), (QStringList{"volumeChanged(1)", "volumeChanged(0.857143)"}));

    queue(LatticeEvent::MasterVolumeSet, 0.5f);
    QCOMPARE(drain(), QStringList{"volumeChanged(0.5)"});
    QCoreApplication::processEvents();
    QCOMPARE(slider->value(), 70);
    QCOMPARE(drain(), QStringList{});
}

void MainWindowTest::readoutShowsStepsAndFrequency_data()
{
    QTest::addColumn<QList<int>>("steps");
    QTest::addColumn<float>("baseFrequency");
    QTest::addColumn<QString>("line1");
    QTest::addColumn<QString>("line2");

    QTest::newRow("no steps") << QList<int>{} << 440.0f << "Transposed prime steps: /"
                              << "Frequency of black ball: 440.000 Hz";
    QTest::newRow("steps, three decimals")
        << QList<int>{3, -5} << 261.6256f << "Transposed prime steps: /3/-5"
        << "Frequency of black ball: 313.951 Hz";
    QList<int> many;
    for (int i = 0; i < 18; ++i)
        many << 2 << -3;
    QTest::newRow("elided in the middle")
        << many << 100.0f << "Transposed prime steps: /2/-3/2" << QString();
}

void MainWindowTest::readoutShowsStepsAndFrequency()
{
    QFETCH(QList<int>, steps);
    QFETCH(float, baseFrequency);
    QFETCH(QString, line1);
    QFETCH(QString, line2);

    window = makeWindow({});
    queue(LatticeEvent::BaseFrequencySet, baseFrequency);
    for (int step : steps)
        queue(LatticeEvent::Transpose, float(step));
    settle();

    const QString shown = child<QLabel>("infoLabel1")->text();
    if (line2.isEmpty()) {
        // Both ends stay; the label's room bounds the text.
        QVERIFY2(shown.startsWith(line1), qPrintable(shown));
        QVERIFY2(shown.contains(QChar(0x2026)) && shown.endsWith("/2/-3"), qPrintable(shown));
        QVERIFY(window->fontMetrics().horizontalAdvance(shown) <=
                child<QLabel>("infoLabel1")->width());
    } else {
        QCOMPARE(shown, line1);
        QCOMPARE(child<QLabel>("infoLabel2")->text(), line2);
    }
}

// Ctrl+9 shows and hides the diagnostics, which keep what came while hidden;
// a bare 9 does nothing. Ctrl+T does the same for the tweaks.
void MainWindowTest::diagnosticsToggleAndKeepHistory()
{
    window = makeWindow({});
    auto* diagnostics = window->findChild<DiagnosticsDialog*>();
    auto* tweaks = window->findChild<TweakDialog*>();
    QVERIFY(diagnostics && !diagnostics->isVisible() && !tweaks->isVisible());

    QTest::keyClick(window.get(), Qt::Key_9);
    QVERIFY(!diagnostics->isVisible());
    QTest::keyClick(window.get(), Qt::Key_9, Qt::ControlModifier);
    QVERIFY(diagnostics->isVisible());
    emit app().diagnosticMessage("[12:00:00.000]  first\n");
    QTest::keyClick(window.get(), Qt::Key_9, Qt::ControlModifier);
    QVERIFY(!diagnostics->isVisible());
    emit app().diagnosticMessage("[12:00:01.000]  second\n");
    // Also while the patch menu, which searches typed text, has the focus.
    QTest::keyClick(child<QComboBox>("patchMenu"), Qt::Key_9, Qt::ControlModifier);
    QVERIFY(diagnostics->isVisible());
    const QString text = diagnostics->findChild<QPlainTextEdit*>("textArea")->toPlainText();
    QVERIFY2(text.indexOf("first") >= 0 && text.indexOf("first") < text.indexOf("second"),
             qPrintable(text));

    QTest::keyClick(child<QComboBox>("patchMenu"), Qt::Key_T, Qt::ControlModifier);
    QVERIFY(tweaks->isVisible());
}

// A constant changes at once, the drawing only at "Update", which also
// stops the sounding notes.
void MainWindowTest::tweakShowsOnlyAfterUpdate()
{
    const int savedDiameter = BALL_DIAMETER;
    window = makeWindow({"A.pd"});
    settle();
    auto* tweaks = window->findChild<TweakDialog*>();
    auto* diameter = tweaks->findChild<QSpinBox*>("BALL_DIAMETER");
    QCOMPARE(tweaks->findChildren<QSpinBox*>().size(), 22);
    diameter->setValue(5000);
    QCOMPARE(BALL_DIAMETER, 1000);
    diameter->setValue(-5000);
    QCOMPARE(BALL_DIAMETER, -1000);

    const LatticeNoteEvent root{LatticePath()};
    app().player().queueEventGui(&root);
    QCOMPARE(drain(), QStringList{"noteToggled(1/1,true)"});
    diameter->setValue(40);
    QCOMPARE(BALL_DIAMETER, 40);
    // The ball's ellipse, without the outline a sounding ball gets.
    auto rootWidth = [this] {
        const auto* ball = window->currentView()->latticeWidget()->ballWidget(LatticePath());
        for (QGraphicsItem* item : ball->childItems())
            if (auto* ellipse = qgraphicsitem_cast<QGraphicsEllipseItem*>(item);
                ellipse && ellipse->zValue() == 20)
                return ellipse->rect().width();
        return 0.0;
    };
    QCOMPARE(rootWidth(), 28.0);

    tweaks->findChild<QPushButton*>()->click();
    BALL_DIAMETER = savedDiameter;
    QCOMPARE(rootWidth(), 40.0);
    QCOMPARE(drain(), QStringList{"noteToggled(1/1,false)"});
}

int main(int argc, char** argv)
{
    TuningLatticeApplication app(argc, argv);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MainWindowTest.moc"
