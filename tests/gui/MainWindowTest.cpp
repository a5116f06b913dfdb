// The main window's patch menu without a sound device: no test here reaches
// the player.

#include "MainWindow.h"
#include "LogCapture.h"
#include "TuningLatticeApplication.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QToolButton>
#include <QtTest>
#include <memory>

namespace {

bool putFile(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

QStringList menuTexts(const QComboBox* menu)
{
    QStringList texts;
    for (int i = 0; i < menu->count(); ++i)
        texts.append(menu->itemText(i));
    return texts;
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void showsNoneLoadedWithoutAnyPatch();
    void listsVoicesBesideTheProgram();

private:
    std::unique_ptr<MainWindow> makeWindow();

    std::unique_ptr<QTemporaryDir> scratch;
    QStringList shownMessages;
};

void MainWindowTest::init()
{
    scratch = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", scratch->filePath("data").toUtf8());
    TuningLatticeApplication* app = TuningLatticeApplication::instance();
    app->setResourceDirectory(scratch->filePath("bin"));
    app->settings().defaultPatch = scratch->filePath("nowhere/Missing.pd");
    shownMessages.clear();
    app->setMessageReporter([this](const QString& text) { shownMessages.append(text); });
}

std::unique_ptr<MainWindow> MainWindowTest::makeWindow()
{
    TuningLatticeApplication* app = TuningLatticeApplication::instance();
    return std::make_unique<MainWindow>(&app->lattice());
}

// Given no default patch, no Sine.pd and no patch at all, the menu holds one
// selected "None loaded", and stepping through it loads nothing.
void MainWindowTest::showsNoneLoadedWithoutAnyPatch()
{
    LogCapture log;
    const std::unique_ptr<MainWindow> window = makeWindow();
    auto* menu = window->findChild<QComboBox*>(QStringLiteral("patchMenu"));
    QVERIFY(menu);
    QCOMPARE(menuTexts(menu), QStringList{"None loaded"});
    QCOMPARE(menu->currentIndex(), 0);
    QCOMPARE(log.texts(QtWarningMsg), (QStringList{"No default patch name found, use Sine.",
                                                   "Sine patch not found, set None loaded."}));
    QCOMPARE(log.texts(QtCriticalMsg),
             QStringList{QStringLiteral("Found no presets in patch dir \"%1/patches\"")
                             .arg(scratch->filePath("bin"))});

    window->findChild<QToolButton*>(QStringLiteral("patchIncButton"))->click();
    window->findChild<QToolButton*>(QStringLiteral("patchDecButton"))->click();
    QCOMPARE(menuTexts(menu), QStringList{"None loaded"});
    QVERIFY(shownMessages.isEmpty());
    QVERIFY(!log.texts(QtWarningMsg).contains(QStringLiteral("Loading voice patch \"\"")));
}

// Plain files directly in "patches", in case-sensitive name order, named
// without a lower-case ".pd"; the shell folder is not a voice.
void MainWindowTest::listsVoicesBesideTheProgram()
{
    for (const char* name : {"b.pd", "A.pd", "Drone.PD", "shell/lattice_main.pd"})
        QVERIFY(putFile(scratch->filePath("bin/patches/") + name));
    const std::unique_ptr<MainWindow> window = makeWindow();
    auto* menu = window->findChild<QComboBox*>(QStringLiteral("patchMenu"));
    QCOMPARE(menuTexts(menu), (QStringList{"A", "Drone.PD", "b", "None loaded"}));
    QCOMPARE(menu->itemData(0).toString(), scratch->filePath("bin/patches/A.pd"));
    QCOMPARE(menu->currentIndex(), 3);
}

int main(int argc, char** argv)
{
    TuningLatticeApplication app(argc, argv);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MainWindowTest.moc"
