#pragma once

#include "LatticeEvent.h"

#include <QList>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <array>

class Lattice;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QStackedWidget;

// The instrument's one top-level window. It owns patch loading from the
// player's point of view: it lists the voice patches shipped beside the
// program, copies the chosen one into the runtime patch folder as the voice
// of the main patch and asks the player to load the main patch. Its controls
// (patch menu, macro sliders, master volume, stop-all, mono/poly) turn into
// events queued to the player, and it follows the player's answers.
//
// The child widgets carry the object names the style sheets use; the slots
// named on_<object>_<signal> are connected by those names.
//
// GUI thread only. The player's signals arrive through queued connections
// from the audio thread; values set in reply (slider positions) are set with
// the widget's signals blocked, so nothing is echoed back to the player.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int macroCount = 8;

    // Builds the window, lists the patches and loads the default one, so the
    // instrument sounds from the first run.
    explicit MainWindow(Lattice* lattice, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Whether the lattice page shown is the circles ("Flowers") look; the
    // shutdown stores it in the settings. The page follows the circlesView
    // setting at start-up.
    bool showsCircles() const;

    // Copies the voice patch at path into the runtime patch folder and has
    // the player reload the main patch. A failure is logged and shown in a
    // message box; the menu then keeps its previous selection, or shows
    // "None loaded" when nothing was ever loaded. An empty path does nothing.
    void loadPatch(const QString& path);
    // The settings' default patch, else Sine.pd beside the program, else
    // "None loaded".
    void loadDefaultPatch();

public slots:
    void on_patchMenu_activated(int index);
    void on_patchDecButton_clicked();
    void on_patchIncButton_clicked();
    void onMacroSliderValueChanged(int value);
    void on_volumeSlider_valueChanged(int value);
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

private:
    void buildWidgets();
    QWidget* buildPatchRow();
    QWidget* buildMacroGrid();
    QWidget* buildLatticeStack();
    QWidget* buildLowerRow();
    void connectPlayer();

    void initPatchMenu();
    void addPatchToMenu(const QString& path);
    void setNoneLoaded(bool noneLoaded);
    // index 0..7; position on the slider's scale.
    void sendMacroValue(int index, int position);
    // +1 next entry, -1 previous, both cyclic.
    void stepPatch(int direction);
    void selectPatchIndex(int index);

    Lattice* lattice_;
    const LatticeEvent stopAllEvent_{LatticeEvent::AllNotesOff, 1.0f};
    int currentPatchIndex_ = -1;
    // Whether the last loadPatch() left a patch open in the player.
    bool patchOpen_ = false;

    QStackedWidget* centralStack_ = nullptr;
    QComboBox* patchMenu_ = nullptr;
    std::array<QLabel*, macroCount> macroLabels_{};
    std::array<QSlider*, macroCount> macroSliders_{};
    QSlider* volumeSlider_ = nullptr;
    QPushButton* monoButton_ = nullptr;
    QPushButton* polyButton_ = nullptr;
};
