// The options dialog against a scripted audio output and the real player
// without a stream, whose command buffers the test's thread drains.

#include "OptionsDialog.h"
#include "AudioOutput.h"
#include "Lattice.h"
#include "LatticeBall.h"
#include "PlayerMetaTypes.h"
#include "SignalLog.h"
#include "SpelledNote.h"
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
        const bool opens = !failing.contains(index);
        setSelectedDevice(opens ? index : -1);
        return opens;
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

    void fieldsStopAtTheirRanges_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<double>("entered");
        QTest::addColumn<double>("kept");

        QTest::newRow("A4 below") << "calibrationFreqEdit" << 348.0 << 349.0;
        QTest::newRow("A4 above") << "calibrationFreqEdit" << 500.0 << 499.0;
        QTest::newRow("1/1 below") << "oneOneFreqEdit" << 19.999 << 20.0;
        QTest::newRow("1/1 above") << "oneOneFreqEdit" << 20000.001 << 20000.0;
        QTest::newRow("1/1 three decimals") << "oneOneFreqEdit" << 261.6256 << 261.626;
    }

    void fieldsStopAtTheirRanges()
    {
        QFETCH(QString, field);
        QFETCH(double, entered);
        QFETCH(double, kept);

        ScriptedAudioOutput output;
        OptionsDialog dialog(output);
        auto* box = dialog.findChild<QAbstractSpinBox*>(field);
        box->setProperty("value", entered);
        QCOMPARE(box->property("value").toDouble(), kept);
        drain();
    }

    void deviceChoiceFallsBackOnFailure_data()
    {
        QTest::addColumn<int>("running");
        QTest::addColumn<int>("chosen");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<int>("shown");
        QTest::addColumn<QString>("message");

        QTest::newRow("opens") << 0 << 1 << QList<int>{1} << 1 << QString();
        QTest::newRow("fails, back to the one before")
            << 0 << 2 << QList<int>{2, 0} << 0 << "Failed to open audio device Device C.";
        QTest::newRow("none running yet, nothing chosen")
            << -1 << -1 << QList<int>{} << 0 << QString();
    }

    void deviceChoiceFallsBackOnFailure()
    {
        QFETCH(int, running);
        QFETCH(int, chosen);
        QFETCH(QList<int>, selected);
        QFETCH(int, shown);
        QFETCH(QString, message);

        ScriptedAudioOutput output;
        output.failing = {2};
        output.setSelectedDevice(running);
        OptionsDialog dialog(output);
        auto* menu = dialog.findChild<QComboBox*>("audioDeviceMenu");
        shownMessages.clear();
        if (chosen != -1) {
            menu->setCurrentIndex(chosen);
            emit menu->activated(chosen);
        }
        QCOMPARE(output.selected, selected);
        QCOMPARE(menu->currentIndex(), shown);
        QCOMPARE(output.selectedDevice(), running == -1 ? -1 : shown);
        QCOMPARE(shownMessages, message.isEmpty() ? QStringList{} : QStringList{message});
    }

    // Opening sends nothing and shows the version in About; typing 523 into 1/1
    // sends 52 and 523 (5 is below the range and not accepted yet).
    void opensQuietlyThenSendsEveryAcceptedOneOne()
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
    }

    // The A4 pitch goes straight into the settings, which later cards spell by.
    void calibrationChangesLaterNotes()
    {
        app().settings().calibrationFrequency = 440;
        ScriptedAudioOutput output;
        OptionsDialog dialog(output);
        const LatticeBall& root = *app().lattice().root();
        QVERIFY(qAbs(app().lattice().noteForBall(root, 440.0f, app().settings()).cents) < 0.01f);

        dialog.findChild<QSpinBox*>("calibrationFreqEdit")->setValue(430);
        const float cents = app().lattice().noteForBall(root, 440.0f, app().settings()).cents;
        QVERIFY2(qAbs(cents - 39.8f) < 0.1f, qPrintable(QString::number(double(cents))));
        QCOMPARE(drain(), QStringList{});
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
