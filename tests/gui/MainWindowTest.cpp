// The main window and its dialogs against the real player, which runs no
// stream: the test's thread drains the command buffers as the audio thread
// would, and patches open directly.

#include "MainWindow.h"
#include "DiagnosticsDialog.h"
#include "LatticeBallWidget.h"
#include "LatticeView.h"
#include "LatticeWidget.h"
#include "LayoutConstants.h"
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

QStringList menuTexts(const QComboBox* menu)
{
    QStringList texts;
    for (int i = 0; i < menu->count(); ++i)
        texts.append(menu->itemText(i));
    return texts;
}

// Runs the queued events as the audio thread would; what the player emitted.
QStringList drain()
{
    SignalLog log(&app().player());
    app().player().processCommandBuffers();
    return log.take();
}

// Delivers the player's answers to the window and drains its replies.
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
        queue(LatticeEvent::Transpose, 0.0f);
        queue(LatticeEvent::BaseFrequencySet, 440.0f);
        queue(LatticeEvent::MonophonicSet, 0.0f);
        settle();
    }

    void patchMenuListsVoicesOrNoneLoaded_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("no patch at all") << QStringList{} << QStringList{"None loaded"};
        // Plain files directly in "patches" in case-sensitive order, named
        // without a lower-case ".pd"; the shell folder holds no voice.
        QTest::newRow("voices") << QStringList{"b.pd", "A.pd", "Drone.PD", "shell/lattice_main.pd"}
                                << QStringList{"A", "Drone.PD", "b", "None loaded"};
    }

    // Without the default patch and Sine.pd, "None loaded" is chosen, and the
    // step buttons of a menu without voices do nothing harmful.
    void patchMenuListsVoicesOrNoneLoaded()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, entries);
        for (const QString& name : files)
            QVERIFY(putFile(scratch->filePath("bin/patches/") + name));
        window = makeWindow({});
        auto* menu = child<QComboBox>("patchMenu");
        QCOMPARE(menuTexts(menu), entries);
        QCOMPARE(menu->currentText(), "None loaded");
        if (!files.isEmpty()) {
            QCOMPARE(menu->itemData(0).toString(), scratch->filePath("bin/patches/A.pd"));
            return;
        }
        child<QToolButton>("patchIncButton")->click();
        child<QToolButton>("patchDecButton")->click();
        QCOMPARE(menuTexts(menu), entries);
        QVERIFY(shownMessages.isEmpty());
    }

    void failedLoadKeepsThePreviousEntry_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("stepped to B, gone from disk") << "B missing";
        QTest::newRow("stepped to B, audio thread never answers") << "stalled";
        QTest::newRow("New opened, main patch does not open") << "no main";
        QTest::newRow("default patch at start-up") << "start-up";
    }

    // The message box is shown, the menu keeps its entries (a new file does not
    // join it) and shows the entry loaded before, or "None loaded" at start-up.
    void failedLoadKeepsThePreviousEntry()
    {
        QFETCH(QString, failure);
        if (failure == "start-up")
            QVERIFY(QFile::remove(runtimePatch("lattice_main.pd")));
        window = makeWindow({"A.pd", "B.pd"});
        settle();
        auto* menu = child<QComboBox>("patchMenu");
        QString tried = scratch->filePath("bin/patches/A.pd");
        QString before = "None loaded";
        QStringList entries{"A", "B", "None loaded"};
        if (failure != "start-up") {
            QCOMPARE(menu->currentText(), before = "A");
            entries = menuTexts(menu);
            tried =
                scratch->filePath(failure == "no main" ? "elsewhere/New.pd" : "bin/patches/B.pd");
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
        QCOMPARE(menuTexts(menu), entries);
        QCOMPARE(menu->currentText(), before);
    }

    // "Mono" clicked while checked sends poly; the player's answer checks
    // "Poly" and sends nothing back.
    void monoClickedWhileCheckedSwitchesToPoly()
    {
        window = makeWindow({});
        queue(LatticeEvent::MonophonicSet, 1.0f);
        settle();
        QVERIFY(child<QPushButton>("monoButton")->isChecked());
        child<QPushButton>("monoButton")->click();
        QCOMPARE(drain(), QStringList{"monophonicChanged(false)"});
        QCoreApplication::processEvents();
        QVERIFY(!child<QPushButton>("monoButton")->isChecked());
        QVERIFY(child<QPushButton>("polyButton")->isChecked());
        QCOMPARE(drain(), QStringList{});
    }

    void relabelsMacros_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("labels");
        const QString unused = QStringLiteral("Unused");
        QTest::newRow("three, any case, one empty")
            << QStringList{"CUTOFF", "", "dRIVE"}
            << QStringList{"Cutoff", unused, "Drive", unused, unused, unused, unused, unused};
        QTest::newRow("ten: the first eight")
            << QStringList{"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}
            << QStringList{"A", "B", "C", "D", "E", "F", "G", "H"};
    }

    // Used macros are enabled, unused ones disabled, label and slider alike.
    void relabelsMacros()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, labels);
        window = makeWindow({});
        window->onMacroNamesReceived(names);
        for (int i = 0; i < MainWindow::macroCount; ++i) {
            auto* label = child<QLabel>("macroLabel" + QString::number(i + 1));
            QCOMPARE(label->text(), labels.at(i));
            QCOMPARE(label->isEnabled(), labels.at(i) != "Unused");
            QCOMPARE(child<QSlider>("macroSlider" + QString::number(i + 1))->isEnabled(),
                     labels.at(i) != "Unused");
        }
    }

    // Negative defaults send nothing, 0.0 is a value, and entries past the eighth
    // are dropped: their codes would be other events.
    void sendsMacroDefaultsOfTheEightMacros()
    {
        window = makeWindow({"A.pd"});
        settle();
        window->onMacroDefaultsReceived(
            {-1.0f, 0.0f, 0.25f, -0.5f, -0.4f, -1.0f, -1.0f, 1.0f, 0.5f, 0.5f});
        QCOMPARE(drain(), (QStringList{"macroValueChanged(2,0)", "macroValueChanged(3,0.25)",
                                       "macroValueChanged(5,-0.4)", "macroValueChanged(8,1)"}));
    }

    // 120 of 140 sends 6/7; the player's 0.5 moves the slider without an echo.
    void volumeSliderSendsAndFollows()
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

    void readoutShowsStepsAndFrequency()
    {
        window = makeWindow({});
        queue(LatticeEvent::BaseFrequencySet, 261.6256f);
        settle();
        QCOMPARE(child<QLabel>("infoLabel1")->text(), "Transposed prime steps: /");
        QCOMPARE(child<QLabel>("infoLabel2")->text(), "Frequency of black ball: 261.626 Hz");
        queue(LatticeEvent::Transpose, 3.0f);
        queue(LatticeEvent::Transpose, -5.0f);
        settle();
        QCOMPARE(child<QLabel>("infoLabel1")->text(), "Transposed prime steps: /3/-5");
        // 261.6256 * 3/2 * 4/5
        QCOMPARE(child<QLabel>("infoLabel2")->text(), "Frequency of black ball: 313.951 Hz");
    }

    // Ctrl+9 toggles the diagnostics, also while the patch menu (which searches
    // typed text) has the focus; what came while they were hidden is kept.
    void diagnosticsToggleAndKeepHistory()
    {
        window = makeWindow({});
        auto* diagnostics = window->findChild<DiagnosticsDialog*>();
        QVERIFY(!diagnostics->isVisible());

        QTest::keyClick(window.get(), Qt::Key_9, Qt::ControlModifier);
        QVERIFY(diagnostics->isVisible());
        emit app().diagnosticMessage("[12:00:00.000]  first\n");
        QTest::keyClick(window.get(), Qt::Key_9, Qt::ControlModifier);
        QVERIFY(!diagnostics->isVisible());
        emit app().diagnosticMessage("[12:00:01.000]  second\n");
        QTest::keyClick(child<QComboBox>("patchMenu"), Qt::Key_9, Qt::ControlModifier);
        QVERIFY(diagnostics->isVisible());
        const QString text = diagnostics->findChild<QPlainTextEdit*>("textArea")->toPlainText();
        QVERIFY2(text.indexOf("first") >= 0 && text.indexOf("first") < text.indexOf("second"),
                 qPrintable(text));
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
        diameter->setValue(-5000);
        QCOMPARE(BALL_DIAMETER, -1000);

        const LatticeNoteEvent root{LatticePath()};
        app().player().queueEventGui(&root);
        QCOMPARE(drain(), QStringList{"noteToggled(1/1,true)"});
        diameter->setValue(40);
        auto rootWidth = [this] {
            const auto* ball = window->currentView()->latticeWidget()->ballWidget(LatticePath());
            for (QGraphicsItem* item : ball->childItems())
                if (auto* ellipse = qgraphicsitem_cast<QGraphicsEllipseItem*>(item);
                    ellipse && ellipse->zValue() == 20)
                    return ellipse->rect().width();
            return 0.0;
        };
        QCOMPARE(rootWidth(), double(savedDiameter));

        tweaks->findChild<QPushButton*>()->click();
        BALL_DIAMETER = savedDiameter;
        QCOMPARE(rootWidth(), 40.0);
        QCOMPARE(drain(), QStringList{"noteToggled(1/1,false)"});
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

    QTemporaryDir home;
    std::unique_ptr<QTemporaryDir> scratch;
    std::unique_ptr<MainWindow> window;
    QStringList shownMessages;
};

int main(int argc, char** argv)
{
    TuningLatticeApplication app(argc, argv);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MainWindowTest.moc"
