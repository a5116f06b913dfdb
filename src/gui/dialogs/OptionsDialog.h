#pragma once

#include <QDialog>

class AudioOutput;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTabWidget;
class QWidget;

// The options the player may change while playing: the audio device, the
// calibration pitch of A4 for note names, the frequency of the lattice's 1/1
// and the notation of the note cards (the cards on show are rewritten); the
// MIDI ports and how notes go out to other synthesizers; and an
// About page. Every change takes effect at once; Close only
// hides the dialog. The main window builds a new one at every click of its
// cog button; each stays alive, hidden, until the window goes.
//
// The dialog shows the values as they were when it was built and does not
// follow later changes made elsewhere.
//
// GUI thread only.
class OptionsDialog : public QDialog
{
    Q_OBJECT

public:
    // Works on the application's audio output.
    explicit OptionsDialog(QWidget* parent = nullptr);
    // Works on the given output, which must outlive the dialog.
    OptionsDialog(AudioOutput& output, QWidget* parent = nullptr);

public slots:
    // Opens the chosen device; when it fails, says so and goes back to the
    // device that was running before, in the output and in the menu.
    void onAudioDeviceMenuActivated(int index);
    // Sends the new 1/1 frequency to the player (one event per step).
    void onOneOneFreqEditValueChanged(double value);
    // Stores the A4 pitch in the settings; note cards made from now on use it.
    void onCalibrationFreqEditValueChanged(int value);

    // Stores the MIDI tab's choices in the settings and reopens MIDI with
    // them.
    void applyMidi();
    // Stores the Network tab's choices and restarts the wand's listener and
    // OSC with them; the tab's status line says whether OSC listens.
    void applyNetwork();

private:
    QWidget* createOptionsTab();
    QWidget* createMidiTab();
    void fillPorts();
    QWidget* createNetworkTab();
    QWidget* createAboutTab();

    AudioOutput& audioOutput;
    QTabWidget* tabWidget;
    QComboBox* audioDeviceMenu = nullptr;
    QComboBox* midiApiMenu = nullptr;
    QComboBox* midiInMenu = nullptr;
    QComboBox* midiOutMenu = nullptr;
    QComboBox* midiOutModeMenu = nullptr;
    QSpinBox* bendRangeEdit = nullptr;
    QDoubleSpinBox* synthA4Edit = nullptr;
    QCheckBox* internalSoundBox = nullptr;
    QCheckBox* velocityBox = nullptr;
    QComboBox* wandListenMenu = nullptr;
    QLineEdit* wandAllowEdit = nullptr;
    QSpinBox* oscPortEdit = nullptr;
    QComboBox* oscListenMenu = nullptr;
    QLineEdit* oscAllowEdit = nullptr;
    QLineEdit* oscSendHostEdit = nullptr;
    QSpinBox* oscSendPortEdit = nullptr;
    QLabel* networkStatus = nullptr;
};
