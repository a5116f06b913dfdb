// The options dialog against a scripted audio output and the real player
// without a stream, whose command buffers the test's thread drains.

#include "OptionsDialog.h"
#include "AudioOutput.h"
#include "PlayerMetaTypes.h"
#include "SignalLog.h"
#include "TuningLatticeApplication.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QSpinBox>
#include <QtTest>

namespace {

TuningLatticeApplication& app()
{
    return *TuningLatticeApplication::instance();
}

QStringList drain()
{
    SignalLog log(&app().player());
    app().player().processCommandBuffers();
    return log.take();
}

// Three devices; the ones listed in failing do not open.
class ScriptedAudioOutput : public AudioOutput
{
public:
    bool init(int, int, PdPlayer*) override { return true; }
    void term() override {}
    QList<QString> devices() const override { return {"Device A", "Device B", "Device C"}; }
    void logDevices() const override {}
    bool selectDevice(int index) override
    {
        selected.append(index);
        setSelectedDevice(failing.contains(index) ? -1 : index);
        return selectedDevice() == index;
    }
    void mute() override {}
    void unmute() override {}
    bool isStreamRunning() const override { return false; }

    QList<int> failing;
    QList<int> selected;
};

} // namespace

class OptionsDialogTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
        QVERIFY(QDir().mkpath(TuningLatticeApplication::dataDirectory()));
        registerPlayerMetaTypes();
        QVERIFY(app().player().init());
        QVERIFY(app().lattice().init(&app().player()));
        app().setMessageReporter([this](const QString& text) { shownMessages.append(text); });
    }

    // A device that does not open is reported, and the one open before is
    // opened and shown again. With none open yet, opening the dialog opens none.
    void deviceChoiceFallsBackOnFailure()
    {
        ScriptedAudioOutput output;
        OptionsDialog idle(output);
        QCOMPARE(idle.findChild<QComboBox*>("audioDeviceMenu")->currentIndex(), 0);
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

    // Opening sends nothing and shows the version in About; typing 523 into 1/1
    // sends 52 and 523 (5 is below the range and not accepted yet). The A4
    // pitch goes only into the settings, which later cards spell by. Values
    // beyond a field's range stop at its edge; 1/1 keeps three decimals.
    void sendsOnlyAcceptedValues()
    {
        drain();
        ScriptedAudioOutput output;
        OptionsDialog dialog(output);
        QCOMPARE(drain(), QStringList{});
        const QString about = dialog.findChild<QLabel*>("aboutLabel")->text();
        QVERIFY2(about.contains("Elsted Tuning Lattice " + app().version()) &&
                     !about.contains("<version>"),
                 qPrintable(about));

        auto* oneOne = dialog.findChild<QDoubleSpinBox*>("oneOneFreqEdit");
        oneOne->selectAll();
        QTest::keyClicks(oneOne, "523");
        QCOMPARE(drain(), (QStringList{"baseFrequencyChanged(52)", "baseFrequencyChanged(523)"}));

        auto* calibration = dialog.findChild<QSpinBox*>("calibrationFreqEdit");
        calibration->setValue(348);
        QCOMPARE(app().settings().calibrationFrequency, 349);
        calibration->setValue(500);
        QCOMPARE(app().settings().calibrationFrequency, 499);
        QCOMPARE(drain(), QStringList{});
        const std::pair<double, double> oneOneEntries[] = {
            {19.999, 20.0}, {20000.001, 20000.0}, {261.6256, 261.626}};
        for (const auto& [entered, kept] : oneOneEntries) {
            oneOne->setValue(entered);
            QCOMPARE(oneOne->value(), kept);
        }
        drain();
    }

private:
    QTemporaryDir home;
    QStringList shownMessages;
};

int main(int argc, char** argv)
{
    TuningLatticeApplication app(argc, argv);
    OptionsDialogTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "OptionsDialogTest.moc"
