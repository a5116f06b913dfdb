#pragma once

#include "LatticeEvent.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>

class QPushButton;
class QVBoxLayout;
class DiagnosticsDialog;
class Lattice;
class LatticeView;
class QLabel;
class QSlider;
class OptionsDialog;
class TweakDialog;

namespace Ui {
class MainWindow;
}

// The instrument's one top-level window, built from MainWindow.ui: the
// lattice in its "Flowers" and "Grapes" looks, the transpose and prime panel,
// the patch chooser, eight macro sliders, the master volume, stop-all,
// mono/poly and a two-line readout of the transposition, the drift meter
// under it.
//
// It owns patch loading from the player's point of view: it lists the voice
// patches shipped beside the program, copies the chosen one into the runtime
// patch folder as the voice of the main patch and asks the player to load
// the main patch. Every control turns into an event queued to the player;
// the window follows the player's answers.
//
// The child widgets carry the object names the style sheets use; the slots
// named on_<object>_<signal> are connected by those names.
//
// GUI thread only. The player's signals arrive through queued connections
// from the audio thread; values set in reply (slider positions, mono/poly)
// are set without emitting anything, so nothing is echoed back.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int macroCount = 8;

    // Builds the window, lists the patches and loads the default one, so the
    // instrument sounds from the first run.
    explicit MainWindow(Lattice* lattice, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The view of the lattice page shown now; its look() tells which.
    LatticeView* currentView() const;

    // Copies the voice patch at path into the runtime patch folder and has
    // the player reload the main patch. A failure is logged and shown in a
    // message box; the menu then keeps its previous selection, or shows
    // "None loaded" when nothing was ever loaded. An empty path does nothing.
    void loadPatch(const QString& path);
    // The settings' default patch, else Sine.pd beside the program, else
    // "None loaded".
    void loadDefaultPatch();
    // Stops every note, then reloads the style sheets and lattice.json and
    // redraws the page shown with the layout constants as they are now.
    void reloadLattice();

public slots:
    void on_patchMenu_activated(int index);
    void on_patchDecButton_clicked();
    void on_patchIncButton_clicked();
    // Presets are not offered yet; their widgets stay hidden.
    void on_presetDecButton_clicked();
    void on_presetIncButton_clicked();
    void on_loadPatchButton_clicked();
    void onMacroSliderValueChanged(int value);
    void on_optionsButton_clicked();
    void on_volumeSlider_valueChanged(int value);
    // "circles" shows the Flowers page, "grapes" the Grapes page.
    void onSwitcherClicked(QString link);
    void on_stopAllButton_clicked();
    void on_monoButton_clicked();
    void on_polyButton_clicked();
    void onMonophonicChanged(bool mono);
    void onVolumeChanged(float volume);
    void onMacroNamesReceived(QStringList macroNames);
    void onMacroDefaultsReceived(QList<float> macroDefaults);
    void onMacroValueChanged(int macro, float value);
    void onPatchDecRequested();
    void onPatchIncRequested();
    void onPatchSelectRequested(int position);
    // Loads the menu's patch of that name (in any case); false when there
    // is none.
    bool selectPatchNamed(const QString& name);
    // The record button shows whether a take is going.
    void showRecording(bool on);
    // The voice as the patch menu names it.
    QString currentPatchName() const;
    void onTransposeChanged();

protected:
    // Ctrl+9 shows or hides the diagnostics, Ctrl+T the layout tweaks.
    void keyPressEvent(QKeyEvent* event) override;
    // The readout's steps are elided to the width they have.
    void resizeEvent(QResizeEvent* event) override;
    // The patch menu would take Ctrl+9 and Ctrl+T as type-ahead search
    // text; they are passed to keyPressEvent instead.
    bool eventFilter(QObject* watched, QEvent* event) override;

public:
    // The Scala menu's work; each asks for a file, and reports what it did
    // or refused in a message.
    bool exportLatticeScale(const QString& path);
    bool exportChordScale(const QString& path);
    bool importScaleAsKeyMap(const QString& path);

private:
    void createSwitcher();
    void createScalaMenu();
    void createRecordButton();
    QPushButton* recordButton = nullptr;
    QVBoxLayout* toolColumn();
    QVBoxLayout* toolColumn_ = nullptr;
    void connectPlayer();
    void createDialogs();

    void initPatchMenu();
    void addPatchToMenu(const QString& path);
    void setNoneLoaded(bool noneLoaded);
    // index 0..7; position on the slider's scale.
    void sendMacroValue(int index, float position);
    // +1 next entry, -1 previous, both cyclic.
    void stepPatch(int direction);
    void showLoadFailure(const QString& path);
    // index 0..7.
    QLabel* macroLabel(int index) const;
    QSlider* macroSlider(int index) const;

    std::unique_ptr<Ui::MainWindow> ui;
    DiagnosticsDialog* diagnosticsDialog = nullptr;
    TweakDialog* tweakDialog = nullptr;
    // Reused at every press; the player copies what it is given.
    const LatticeEvent stopAllEvent{LatticeEvent::AllNotesOff, 1.0f};
    // Menu entry of the patch loaded now, -1 before the first load.
    int currentPatchIndex = -1;
    // Folder last used in the Open Patch dialog.
    QString lastPatchDir;
    // The options dialog while it is open: a second click raises it.
    QPointer<OptionsDialog> optionsDialog;
    QLabel* switcher = nullptr;
    void showLookInSwitcher();

    Lattice* lattice;
    // Whether the last loadPatch() left a patch open in the player.
    bool patchOpen = false;
};
