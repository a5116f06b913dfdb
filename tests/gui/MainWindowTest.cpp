// The main window and its dialogs against the real player; the test's thread
// drains the command buffers as the audio thread would.

#include "MainWindow.h"
#include "AppTestSupport.h"
#include "DiagnosticsDialog.h"
#include "LatticeBall.h"
#include "LatticeBallWidget.h"
#include "LatticeView.h"
#include "LatticeWidget.h"
#include "LayoutConstants.h"
#include "OptionsDialog.h"
#include "PlayerMetaTypes.h"
#include "RenderBlocks.h"
#include "ScalaFiles.h"
#include "TestAudioOutput.h"
#include "TestPatch.h"
#include "TweakDialog.h"

#include <QUdpSocket>
#include <QtTest>
#include <QtWidgets>
#include <memory>

namespace {

QString runtimePatch(const QString& name)
{
    return TuningLatticeApplication::dataDirectory() + QStringLiteral("/patch/") + name;
}

QStringList menuTexts(const QComboBox* menu)
{
    QStringList texts;
    for (int i = 0; i < menu->count(); ++i)
        texts.append(menu->itemText(i));
    return texts;
}

// Delivers the player's answers to the window and drains its replies.
void settle()
{
    do
        QCoreApplication::processEvents();
    while (!drain().isEmpty());
}

// Three devices that run no stream; the ones listed in failing do not open.
struct ScriptedAudioOutput : TestAudioOutput
{
    ScriptedAudioOutput() : TestAudioOutput(&app().player()) {}
    QList<QString> devices() const override { return {"Device A", "Device B", "Device C"}; }
    bool selectDevice(int index) override
    {
        selected.append(index);
        setSelectedDevice(failing.contains(index) ? -1 : index);
        return selectedDevice() == index;
    }

    QList<int> failing;
    QList<int> selected;
};

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
        QVERIFY(QDir().mkpath(runtimePatch(QString())));
        registerPlayerMetaTypes();
        QVERIFY(app().player().init());
        app().player().initAudio(2, 44100);
        QVERIFY(app().lattice().init(&app().player()));
        app().setMessageReporter([this](const QString& text) { shownMessages.append(text); });
    }

    void init()
    {
        scratch = std::make_unique<QTemporaryDir>();
        app().setResourceDirectory(scratch->filePath("bin"));
        app().settings().defaultPatch = scratch->filePath("nowhere/Missing.pd");
        shownMessages.clear();
        const TestPatch patch{QString()}; // no macro names but the tests'
        for (const char* name : {"lattice_main.pd", "test_voice.pd", "lattice_voice.pd"})
            QFile::remove(runtimePatch(QLatin1String(name)));
        QVERIFY(QFile::copy(patch.mainPatch().absoluteFilePath(), runtimePatch("lattice_main.pd")));
        QVERIFY(QFile::copy(patch.folder() + "/test_voice.pd", runtimePatch("test_voice.pd")));
    }

    void cleanup()
    {
        window.reset();
        queue(app().player(), LatticeEvent::Transpose, 0.0f);
        queue(app().player(), LatticeEvent::BaseFrequencySet, 440.0f);
        settle();
    }

    // Voices: the files directly in "patches", case-sensitively sorted, without a
    // lower-case ".pd". With none, "None loaded", and the steps do no harm.
    void patchMenuListsVoicesOrNoneLoaded()
    {
        window = makeWindow({});
        child<QToolButton>("patchIncButton")->click();
        child<QToolButton>("patchDecButton")->click();
        QCOMPARE(menuTexts(child<QComboBox>("patchMenu")), QStringList{"None loaded"});
        QVERIFY(shownMessages.isEmpty());

        for (const char* name : {"b.pd", "A.pd", "Drone.PD", "shell/lattice_main.pd"})
            QVERIFY(putFile(scratch->filePath("bin/patches/") + name));
        window = makeWindow({});
        auto* menu = child<QComboBox>("patchMenu");
        QCOMPARE(menuTexts(menu), (QStringList{"A", "Drone.PD", "b", "None loaded"}));
        QCOMPARE(menu->currentText(), "None loaded");
    }

    void failedLoadKeepsThePreviousEntry_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("stepped to B, gone from disk") << "B missing";
        QTest::newRow("stepped to B, audio thread never answers") << "stalled";
        QTest::newRow("New opened, main patch does not open") << "no main";
        QTest::newRow("default patch at start-up") << "start-up";
    }

    // A message; the menu keeps its entries (a new file does not join them).
    void failedLoadKeepsThePreviousEntry()
    {
        QFETCH(QString, failure);
        const bool atStartUp = failure == "start-up";
        const QString tried = scratch->filePath(failure == "no main" ? "elsewhere/New.pd"
                                                : atStartUp          ? "bin/patches/A.pd"
                                                                     : "bin/patches/B.pd");
        if (atStartUp)
            QVERIFY(QFile::remove(runtimePatch("lattice_main.pd")));
        window = makeWindow({"A.pd", "B.pd"});
        settle();
        if (!atStartUp) {
            QVERIFY(failure == "B missing" ? QFile::remove(tried) : putFile(tried));
            TestAudioOutput stalled(&app().player());
            if (failure == "stalled") {
                stalled.stallStream();
                app().player().setAudioOutput(&stalled);
            }
            if (failure == "no main") {
                QVERIFY(QFile::remove(runtimePatch("lattice_main.pd")));
                window->loadPatch(tried);
            } else {
                child<QToolButton>("patchIncButton")->click();
            }
            app().player().setAudioOutput(nullptr);
        }
        QCOMPARE(shownMessages, QStringList{"Failed to load patch " + tried + '.'});
        auto* menu = child<QComboBox>("patchMenu");
        QCOMPARE(menuTexts(menu).join(','), atStartUp ? "A,B,None loaded" : "A,B");
        QCOMPARE(menu->currentText(), atStartUp ? "None loaded" : "A");
    }

    // The player's answers move the volume slider without an echo.
    void controlsSendAndFollowThePlayer()
    {
        window = makeWindow({});
        auto* slider = child<QSlider>("volumeSlider");
        queue(app().player(), LatticeEvent::MasterVolumeSet, 0.5f);
        QCOMPARE(drain(), QStringList{"volumeChanged(0.5)"});
        QCoreApplication::processEvents();
        QCOMPARE(slider->value(), 70);
        QCOMPARE(drain(), QStringList{});
        slider->setValue(35);
        QCOMPARE(drain(), QStringList{"volumeChanged(0.25)"});

        queue(app().player(), LatticeEvent::BaseFrequencySet, 261.6256f);
        queue(app().player(), LatticeEvent::Transpose, 3.0f);
        queue(app().player(), LatticeEvent::Transpose, -5.0f);
        settle();
        QCOMPARE(child<QLabel>("infoLabel1")->text(), "Transposed prime steps: /3/-5");
        // 261.6256 * 3/2 * 4/5
        QCOMPARE(child<QLabel>("infoLabel2")->text(), "Frequency of black ball: 313.951 Hz");
        // Three more fifths and two octaves down make a syntonic comma pump.
        window->resize(1000, 409); // wide enough for all of the meter's line
        for (float step : {3.0f, 3.0f, 3.0f, -2.0f, -2.0f})
            queue(app().player(), LatticeEvent::Transpose, step);
        settle();
        QCOMPARE(child<QLabel>("driftMeter")->text(),
                 "Drift [-4 4 -1> +21.51\u00a2: syntonic comma, home /5/-3/2/-3/-3/2/-3");
    }

    // Names are title-cased, unused ones disabled, any past the eighth dropped
    // (their codes would be other events); a negative default sends nothing.
    void takesTheEightMacrosOfThePatch()
    {
        window = makeWindow({"A.pd"});
        settle();
        window->onMacroNamesReceived({"CUTOFF", "", "dRIVE"});
        QCOMPARE(macroLabels(),
                 "Cutoff,Unused--,Drive,Unused--,Unused--,Unused--,Unused--,Unused--");
        window->onMacroNamesReceived({"a", "b", "c", "d", "e", "f", "g", "h", "i"});
        QCOMPARE(macroLabels(), "A,B,C,D,E,F,G,H");

        window->onMacroDefaultsReceived(
            {-1.0f, 0.0f, 0.25f, -0.5f, -0.4f, -1.0f, -1.0f, 1.0f, 0.5f, 0.5f});
        QCOMPARE(drain(), (QStringList{"macroValueChanged(2,0)", "macroValueChanged(3,0.25)",
                                       "macroValueChanged(5,-0.4)", "macroValueChanged(8,1)"}));
    }

    // Ctrl+9 toggles the diagnostics, also from the patch menu (which searches
    // typed text); what came while hidden is kept, one line each.
    void diagnosticsToggleAndKeepHistory()
    {
        window = makeWindow({});
        auto* diagnostics = window->findChild<DiagnosticsDialog*>();
        QTest::keyClick(window.get(), Qt::Key_9, Qt::ControlModifier);
        QVERIFY(diagnostics->isVisible());
        emit app().diagnosticMessage("[12:00:00.000]  first");
        QTest::keyClick(window.get(), Qt::Key_9, Qt::ControlModifier);
        QVERIFY(!diagnostics->isVisible());
        emit app().diagnosticMessage("[12:00:01.000]  second");
        QTest::keyClick(child<QComboBox>("patchMenu"), Qt::Key_9, Qt::ControlModifier);
        QVERIFY(diagnostics->isVisible());
        auto* text = diagnostics->findChild<QPlainTextEdit*>("textArea");
        QCOMPARE(text->toPlainText(), "[12:00:00.000]  first\n[12:00:01.000]  second");
        // Days of records keep only the latest.
        for (int i = 0; i < DiagnosticsDialog::historyLines; ++i)
            emit app().diagnosticMessage(QString("[12:00:02.000]  %1").arg(i));
        QCOMPARE(text->blockCount(), DiagnosticsDialog::historyLines);
        QVERIFY(text->toPlainText().startsWith("[12:00:02.000]  0\n"));
    }

    void cogRaisesTheOpenDialogAndSwitcherOffersTheOtherLook()
    {
        window = makeWindow({});
        child<QToolButton>("optionsButton")->click();
        child<QToolButton>("optionsButton")->click();
        QCOMPARE(window->findChildren<OptionsDialog*>().size(), 1);
        QVERIFY(window->findChild<OptionsDialog*>()->isVisible());
        auto* switcher = child<QLabel>("switcherLabel");
        for (const QString look : {"grapes", "circles"}) {
            emit switcher->linkActivated(look);
            const QString other = look == "grapes" ? "circles" : "grapes";
            QVERIFY2(switcher->text().contains("href='" + other + "'"),
                     qPrintable(switcher->text()));
        }
    }

    // A constant changes at once within its limits, the drawing only at
    // "Update", which also stops the sounding notes.
    void tweakShowsOnlyAfterUpdate()
    {
        const int savedDiameter = BALL_DIAMETER;
        window = makeWindow({"A.pd"});
        settle();
        auto* tweaks = window->findChild<TweakDialog*>();
        auto* diameter = tweaks->findChild<QSpinBox*>("BALL_DIAMETER");
        diameter->setValue(5000);
        QCOMPARE(BALL_DIAMETER, 1000);

        toggle(app().player(), "/");
        QCOMPARE(drain(), QStringList{"noteToggled(1/1,true)"});
        diameter->setValue(80);
        const LatticeView* view = window->currentView();
        const auto rootWidth = [&view] {
            return view->latticeWidget()->ballWidget(LatticePath())->boundingRect().width();
        };
        QCOMPARE(rootWidth(), double(savedDiameter));
        // Prime 5 switched off by a wand tag, as the button shows, stays off
        // after the update.
        QToolButton* five = nullptr;
        for (QToolButton* button : child<QWidget>("transposeWidget")->findChildren<QToolButton*>())
            if (button->text() == "5" && button->isCheckable())
                five = button;
        queue(app().player(), LatticeEvent::PrimeToggle, 5.0f);
        settle();
        QVERIFY(!five->isChecked());
        tweaks->findChild<QPushButton*>()->click();
        BALL_DIAMETER = savedDiameter;
        QCOMPARE(rootWidth(), 80.0);
        QCOMPARE(drain(), QStringList{"noteToggled(1/1,false)"});
        QVERIFY(!app().lattice().ballAtPath(LatticePath(5))->isEnabled());
        // The rebuilt lattice is fitted to the view again: all of it shows.
        view = window->currentView();
        const QRect shown = view->mapFromScene(view->sceneRect()).boundingRect();
        QVERIFY2(view->viewport()->rect().adjusted(-2, -2, 2, 2).contains(shown),
                 qPrintable(QStringLiteral("%1x%2").arg(shown.width()).arg(shown.height())));
        five->click();
        settle();
    }

    // The device open before is opened and shown again; with none open, the dialog opens none.
    void deviceChoiceFallsBackOnFailure()
    {
        ScriptedAudioOutput output;
        OptionsDialog idle(output);
        output.failing = {2};
        output.setSelectedDevice(0);
        OptionsDialog dialog(output);
        auto* menu = dialog.findChild<QComboBox*>("audioDeviceMenu");
        for (const int chosen : {1, 2}) {
            menu->setCurrentIndex(chosen);
            emit menu->activated(chosen);
        }
        QCOMPARE(output.selected, (QList<int>{1, 2, 1}));
        QCOMPARE(menu->currentIndex(), 1);
        QCOMPARE(output.selectedDevice(), 1);
        QCOMPARE(shownMessages, QStringList{"Failed to open audio device Device C."});
    }

    // Typing 523 into 1/1 sends 52 and 523 (5 is below the range); the A4 pitch
    // goes only into the settings, which later cards spell by, and so does the
    // notation.
    void optionsSendOnlyAcceptedValues()
    {
        ScriptedAudioOutput output;
        OptionsDialog dialog(output);
        QCOMPARE(drain(), QStringList{});

        auto* oneOne = dialog.findChild<QDoubleSpinBox*>("oneOneFreqEdit");
        oneOne->selectAll();
        QTest::keyClicks(oneOne, "523");
        QCOMPARE(drain(), (QStringList{"baseFrequencyChanged(52)", "baseFrequencyChanged(523)"}));
        dialog.findChild<QSpinBox*>("calibrationFreqEdit")->setValue(442);
        QCOMPARE(app().settings().calibrationFrequency, 442);
        QCOMPARE(drain(), QStringList{});
        app().settings().calibrationFrequency = 440;
        auto* notation = dialog.findChild<QComboBox*>("notationMenu");
        notation->setCurrentIndex(notation->findData("heji"));
        emit notation->activated(notation->currentIndex());
        QCOMPARE(app().settings().notation, QString("heji"));
        app().settings().notation = "letters";

        // The MIDI tab's choices go into the settings and take effect.
        auto* mode = dialog.findChild<QComboBox*>("midiOutModeMenu");
        mode->setCurrentIndex(mode->findData("mts"));
        emit mode->activated(mode->currentIndex());
        dialog.findChild<QCheckBox*>("internalSoundBox")->setChecked(false);
        QCOMPARE(app().settings().midiOutMode, QString("mts"));
        QVERIFY(!app().settings().internalSound && !app().player().internalSound());
        app().settings().midiOutMode = "off";
        app().settings().internalSound = true;
        app().startMidi();

        // The Network tab: OSC follows its port and list at once; a port in use is told.
        auto* oscPort = dialog.findChild<QSpinBox*>("oscPortEdit");
        auto* allow = dialog.findChild<QLineEdit*>("oscAllowEdit");
        QUdpSocket occupant;
        QVERIFY(occupant.bind(QHostAddress::LocalHost, 0));
        oscPort->setValue(occupant.localPort());
        allow->setText("10.0.0.0/8, ,192.168.1.7");
        emit allow->editingFinished();
        QCOMPARE(app().settings().oscAllow, (QStringList{"10.0.0.0/8", "192.168.1.7"}));
        QVERIFY(!app().oscInput().isRunning());
        QVERIFY(dialog.findChild<QLabel*>("networkStatus")->text().contains("Can't open OSC port"));
        oscPort->setValue(0);
        emit oscPort->editingFinished();
        QVERIFY(!app().oscInput().isRunning() && app().settings().oscPort == 0);
        QCOMPARE(dialog.findChild<QLabel*>("networkStatus")->text(), QString("OSC is off."));
    }

    // The record button starts a take in the data folder's Recordings and shows it; a
    // second click ends it (here no stream runs, so the take is ended where it is).
    void recordButtonStartsAndEndsATake()
    {
        window = makeWindow({});
        auto* button = window->findChild<QPushButton*>("recordButton");
        QSignalSpy finished(&app().recorder(), &PerformanceRecorder::finished);
        button->click();
        QVERIFY(app().recorder().isRecording() && button->isChecked());
        QVERIFY(app().recorder().wavPath().startsWith(TuningLatticeApplication::dataDirectory() +
                                                      "/Recordings/"));
        button->click();
        app().recorder().stopAndWait(100);
        QVERIFY(finished.wait(2000));
        QVERIFY(!button->isChecked() && button->text() == "Record");
        QVERIFY(shownMessages.isEmpty());
    }

    // The Scala menu's exports read back; an import replaces the keys of
    // the key map, keeps its controllers and the old file as .bak.
    void scalaMenuExportsAndImports()
    {
        window = makeWindow({});
        QCOMPARE(window->findChild<QPushButton*>("scalaButton")->menu()->actions().size(), 3);
        const QString scale = scratch->filePath("lattice.scl");
        QVERIFY(window->exportLatticeScale(scale));
        QFile exported(scale);
        QVERIFY(exported.open(QIODevice::ReadOnly) &&
                ScalaScale::parse(exported.readAll(), "lattice.scl", nullptr)->pitches.size() > 50);
        const QString keyMap = TuningLatticeApplication::dataDirectory() + "/midi_map.json";
        QVERIFY(putFile(keyMap, "{\"note 1\": {\"event\": 1}, \"cc 7\": {\"event\": 6}}"));
        QVERIFY(putFile(scale, "fifths\n2\n3/2\n2/1\n"));
        QVERIFY(window->importScaleAsKeyMap(scale));
        QFile written(keyMap);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QJsonObject keys = QJsonDocument::fromJson(written.readAll()).object();
        QCOMPARE(keys.value("note 70").toObject().value("value").toString(), QString("/3"));
        QVERIFY(keys.contains("cc 7") && !keys.contains("note 1") &&
                QFile::exists(keyMap + ".bak"));
        QFile::remove(keyMap);
        QFile::remove(keyMap + ".bak");
    }

    // With the shipped style the window fits what a 1024 x 600 screen leaves beside a title bar.
    void fitsASmallScreen()
    {
        app().setResourceDirectory(QCoreApplication::applicationDirPath());
        QVERIFY(app().loadStyleSheet());
        window = makeWindow({});
        const QSize least = window->minimumSizeHint().expandedTo(window->minimumSize());
        app().setStyleSheet(QString());
        QVERIFY2(least.width() <= 1024 && least.height() <= 560,
                 qPrintable(QString("%1 x %2").arg(least.width()).arg(least.height())));
    }

private:
    // The first voice is the default patch.
    std::unique_ptr<MainWindow> makeWindow(const QStringList& voices)
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

    template <typename T> T* child(const QString& name) const
    {
        return window->findChild<T*>(name);
    }

    // The labels' texts, each with a '-' for each of label and slider disabled.
    QString macroLabels() const
    {
        QStringList shown;
        for (int i = 1; i <= MainWindow::macroCount; ++i) {
            const auto* label = child<QLabel>(QStringLiteral("macroLabel%1").arg(i));
            const auto* slider = child<QSlider>(QStringLiteral("macroSlider%1").arg(i));
            shown.append(label->text() + QString(!label->isEnabled() + !slider->isEnabled(), '-'));
        }
        return shown.join(',');
    }

    QTemporaryDir home;
    std::unique_ptr<QTemporaryDir> scratch;
    std::unique_ptr<MainWindow> window;
    QStringList shownMessages;
};

LATTICE_APP_TEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
