#include "MainWindow.h"

#include "DiagnosticsDialog.h"
#include "DriftMeter.h"
#include "Lattice.h"
#include "LatticeLayer.h"
#include "LatticeLeavesWidget.h"
#include "LatticeView.h"
#include "LayoutConstants.h"
#include "MidiMap.h"
#include "OptionsDialog.h"
#include "PdPlayer.h"
#include "PrimeToggleButton.h"
#include "QuotedText.h"
#include "ScalaExchange.h"
#include "Settings.h"
#include "StartupTrace.h"
#include "TuningLatticeApplication.h"
#include "TweakDialog.h"
#include "ui_MainWindow.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QIcon>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QThread>
#include <QVBoxLayout>
#include <cmath>

namespace {

const char* const noneLoadedText = "None loaded";
const char* const unusedMacroText = "Unused";
const char* const readoutPrefix = "Transposed prime steps: ";
// Long enough for the audio thread to have run the stop-all and for its
// note-off reports to be waiting in the event queue.
constexpr unsigned long stopAllSettleMs = 100;

TuningLatticeApplication& application()
{
    return *TuningLatticeApplication::instance();
}

PdPlayer& player()
{
    return application().player();
}

void queueEvent(int type, float value)
{
    const LatticeEvent event(type, value);
    player().queueEventGui(&event);
}

// (position - minimum) / (maximum - minimum): 0 to 1 over the slider's range.
float sliderFraction(const QSlider* slider, float position)
{
    return (position - float(slider->minimum())) / float(slider->maximum() - slider->minimum());
}

// The inverse, to the nearest position, halves upward.
int sliderPosition(const QSlider* slider, float fraction)
{
    const float range = float(slider->maximum() - slider->minimum());
    return int(std::floor(float(slider->minimum()) + fraction * range + 0.5f));
}

QString runtimePatchPath(const char* name)
{
    return TuningLatticeApplication::dataDirectory() + QStringLiteral("/patch/") +
           QLatin1String(name);
}

// "CUTOFF" and "cutoff" both read "Cutoff".
QString macroTitle(const QString& name)
{
    return name.left(1).toUpper() + name.mid(1).toLower();
}

} // namespace

MainWindow::MainWindow(Lattice* lattice, QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::MainWindow>()), lattice(lattice)
{
    ui->setupUi(this);
    const QIcon left(QStringLiteral(":/icons/arrowleft.png"));
    const QIcon right(QStringLiteral(":/icons/arrowright.png"));
    ui->patchDecButton->setIcon(left);
    ui->patchIncButton->setIcon(right);
    ui->presetDecButton->setIcon(left);
    ui->presetIncButton->setIcon(right);
    ui->optionsButton->setIcon(QIcon(QStringLiteral(":/icons/cog.png")));
    ui->optionsButton->setToolTip(tr("Options: audio device, base and calibration frequency"));
    ui->volumeSlider->setToolTip(tr("Master volume"));
    ui->optionsVolumeLayout->setAlignment(ui->volumeSlider, Qt::AlignHCenter | Qt::AlignVCenter);

    ui->transposeWidget->setupButtons(Qt::Vertical);
    ui->verticalLayout_4->addWidget(new DriftMeter(lattice, ui->readoutFrame));
    ui->circleLayer->initLayer(0, lattice);
    ui->grapeLayer->initLayer(1, lattice);
    ui->centralStack->setCurrentIndex(application().settings().circlesView ? 0 : 1);
    createSwitcher();
    createScalaMenu();
    createRecordButton();
    ui->patchMenu->installEventFilter(this);
    for (QWidget* preset :
         {static_cast<QWidget*>(ui->presetDecButton), static_cast<QWidget*>(ui->presetIncButton),
          static_cast<QWidget*>(ui->presetMenu), static_cast<QWidget*>(ui->savePresetButton)})
        preset->hide();

    for (int i = 0; i < macroCount; ++i)
        connect(macroSlider(i), &QSlider::valueChanged, this,
                &MainWindow::onMacroSliderValueChanged);
    connect(lattice, &Lattice::transposeOrBaseFrequencyChanged, this,
            &MainWindow::onTransposeChanged);
    connectPlayer();

    initPatchMenu();
    StartupTrace::mark("window-built");
    loadDefaultPatch();
    StartupTrace::mark("default-patch");
    onTransposeChanged();
    createDialogs();
}

MainWindow::~MainWindow() = default;

// Drawn over the lattice's top-left corner rather than laid out, so that it
// takes no room from the lattice.
void MainWindow::createSwitcher()
{
    switcher = new QLabel(ui->centralWidget);
    switcher->setObjectName(QStringLiteral("switcherLabel"));
    switcher->setTextFormat(Qt::RichText);
    switcher->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    showLookInSwitcher();
    switcher->move(108, 124);
    switcher->raise();
    connect(switcher, &QLabel::linkActivated, this, &MainWindow::onSwitcherClicked);
}

// The look on screen is plain bright text; the other is the link to it.
void MainWindow::showLookInSwitcher()
{
    const bool circles = ui->centralStack->currentIndex() == 0;
    const auto entry = [](bool current, const char* link, const QString& name) {
        return current ? QStringLiteral("<b style='color: #e4e4da;'>%1</b>").arg(name)
                       : QStringLiteral("<a href='%1'>%2</a>").arg(QLatin1String(link), name);
    };
    switcher->setText(QStringLiteral("<style type='text/css'>a { text-decoration: none; }"
                                     "a:link { color: #8c8c84; }a:hover { color: #c4c4ba; }"
                                     "</style>") +
                      entry(circles, "circles", tr("Flowers")) + QStringLiteral(" | ") +
                      entry(!circles, "grapes", tr("Grapes")));
    switcher->adjustSize();
}

void MainWindow::connectPlayer()
{
    PdPlayer* source = &player();
    connect(source, &PdPlayer::volumeChanged, this, &MainWindow::onVolumeChanged,
            Qt::QueuedConnection);
    connect(source, &PdPlayer::monophonicChanged, this, &MainWindow::onMonophonicChanged,
            Qt::QueuedConnection);
    connect(source, &PdPlayer::macroValueChanged, this, &MainWindow::onMacroValueChanged,
            Qt::QueuedConnection);
    connect(source, &PdPlayer::macroNamesReceived, this, &MainWindow::onMacroNamesReceived,
            Qt::QueuedConnection);
    connect(source, &PdPlayer::macroDefaultsReceived, this, &MainWindow::onMacroDefaultsReceived,
            Qt::QueuedConnection);
    connect(source, &PdPlayer::patchDecRequested, this, &MainWindow::onPatchDecRequested,
            Qt::QueuedConnection);
    connect(source, &PdPlayer::patchIncRequested, this, &MainWindow::onPatchIncRequested,
            Qt::QueuedConnection);
    connect(source, &PdPlayer::patchSelectRequested, this, &MainWindow::onPatchSelectRequested,
            Qt::QueuedConnection);
}

void MainWindow::createDialogs()
{
    diagnosticsDialog = new DiagnosticsDialog(this);
    tweakDialog = new TweakDialog(this);
    const std::pair<const char*, int*> constants[] = {
        {"ANGLE_2_PLUS", &ANGLE_2_PLUS},
        {"ANGLE_3_PLUS", &ANGLE_3_PLUS},
        {"ANGLE_FRONT_OFFSET", &ANGLE_FRONT_OFFSET},
        {"ANGLE_FRONT_ROTATE_OFFSET", &ANGLE_FRONT_ROTATE_OFFSET},
        {"STRUT_2_LENGTH", &STRUT_2_LENGTH},
        {"STRUT_3_LENGTH", &STRUT_3_LENGTH},
        {"STRUT_WIDTH", &STRUT_WIDTH},
        {"LINK_WIDTH", &LINK_WIDTH},
        {"LEAVES_PLUS_OFFSET_X", &LEAVES_PLUS_OFFSET_X},
        {"LEAVES_PLUS_OFFSET_Y", &LEAVES_PLUS_OFFSET_Y},
        {"GRAPE_LEAVES_WIDTH", &GRAPE_LEAVES_WIDTH},
        {"GRAPE_LEAVES_HEIGHT", &GRAPE_LEAVES_HEIGHT},
        {"BALL_DIAMETER", &BALL_DIAMETER},
        {"LEAF_DIAMETER", &LEAF_DIAMETER},
        {"LEAVES_RADIUS", &LEAVES_RADIUS},
        {"LEAVES_START_ANGLE", &LEAVES_START_ANGLE},
        {"BALL_DIM_FACTOR", &BALL_DIM_FACTOR},
        {"BALL_BRIGHTEN_FACTOR", &BALL_BRIGHTEN_FACTOR},
        {"OUTLINE_BRIGHTEN_FACTOR", &OUTLINE_BRIGHTEN_FACTOR},
        {"BALL_GLOW_SIZE_FACTOR", &BALL_GLOW_SIZE_FACTOR},
        {"GLOW_ALPHA_START", &GLOW_ALPHA_START},
        {"PRIME_DISABLED_DIM_FACTOR", &PRIME_DISABLED_DIM_FACTOR},
    };
    for (const auto& [name, value] : constants)
        tweakDialog->addTweak(QLatin1String(name), value);
}

LatticeView* MainWindow::currentView() const
{
    return ui->centralStack->currentIndex() == 0 ? ui->circleLayer->view() : ui->grapeLayer->view();
}

QLabel* MainWindow::macroLabel(int index) const
{
    QLabel* const labels[macroCount] = {ui->macroLabel1, ui->macroLabel2, ui->macroLabel3,
                                        ui->macroLabel4, ui->macroLabel5, ui->macroLabel6,
                                        ui->macroLabel7, ui->macroLabel8};
    return labels[index];
}

QSlider* MainWindow::macroSlider(int index) const
{
    QSlider* const sliders[macroCount] = {ui->macroSlider1, ui->macroSlider2, ui->macroSlider3,
                                          ui->macroSlider4, ui->macroSlider5, ui->macroSlider6,
                                          ui->macroSlider7, ui->macroSlider8};
    return sliders[index];
}

// ---------------------------------------------------------------------------
// Patch menu

void MainWindow::initPatchMenu()
{
    const QString folder = application().resourceDirectory() + QStringLiteral("/patches");
    // Case counts in the order; sub-folders such as "shell" are not voices.
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files, QDir::Name);
    if (files.isEmpty()) {
        qCritical().noquote() << "Found no presets in patch dir" << quotedText(folder);
        return;
    }
    for (const QFileInfo& file : files)
        addPatchToMenu(file.absoluteFilePath());
}

void MainWindow::addPatchToMenu(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (ui->patchMenu->findData(absolute, Qt::UserRole,
                                Qt::MatchExactly | Qt::MatchCaseSensitive) != -1)
        return;
    QString name = QFileInfo(absolute).fileName();
    if (name.endsWith(QLatin1String(".pd"), Qt::CaseSensitive))
        name.chop(3);
    ui->patchMenu->addItem(name, absolute);
}

void MainWindow::setNoneLoaded(bool noneLoaded)
{
    const int index = ui->patchMenu->findText(QLatin1String(noneLoadedText),
                                              Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (noneLoaded) {
        if (index == -1)
            ui->patchMenu->addItem(QLatin1String(noneLoadedText), QString());
        ui->patchMenu->setCurrentIndex(ui->patchMenu->count() - 1);
    } else if (index != -1) {
        ui->patchMenu->removeItem(index);
    }
}

void MainWindow::loadDefaultPatch()
{
    const QString name = application().settings().defaultPatch;
    if (!name.isEmpty() && QFileInfo::exists(name)) {
        loadPatch(name);
        return;
    }
    qWarning() << "No default patch name found, use Sine.";
    const QString sine = application().resourceDirectory() + QStringLiteral("/patches/Sine.pd");
    if (QFileInfo::exists(sine)) {
        loadPatch(sine);
        return;
    }
    qWarning() << "Sine patch not found, set None loaded.";
    setNoneLoaded(true);
}

void MainWindow::loadPatch(const QString& path)
{
    if (path.isEmpty())
        return;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    qWarning().noquote() << "Loading voice patch" << quotedText(absolute);
    // The open main patch uses the voice file about to be replaced, so it is
    // closed first. With none open (the first load, or after a failed one)
    // there is nothing to close, and the unload's pauses for a click-free
    // fade would only delay the start-up.
    if (patchOpen)
        player().unloadPatch();
    patchOpen = false;

    const QString voice = runtimePatchPath("lattice_voice.pd");
    if (QFile::exists(voice) && !QFile::remove(voice)) {
        qCritical().noquote() << "Failed to delete" << quotedText(voice);
        showLoadFailure(absolute);
        return;
    }
    if (!QFile::copy(absolute, voice)) {
        qCritical().noquote() << "Failed to copy" << quotedText(absolute)
                              << "to the runtime patch location" << quotedText(voice);
        showLoadFailure(absolute);
        return;
    }
    // The player bounds its wait for the audio thread, so a stalled stream
    // ends here as a failure rather than a frozen window.
    const QString main = runtimePatchPath("lattice_main.pd");
    if (!player().loadPatch(QFileInfo(main))) {
        qCritical().noquote() << "Failed to load" << quotedText(main) << "after copying in voice"
                              << quotedText(voice);
        showLoadFailure(absolute);
        return;
    }

    patchOpen = true;
    // A fresh patch starts from its own values; give it the window's.
    on_volumeSlider_valueChanged(ui->volumeSlider->value());
    for (int i = 0; i < macroCount; ++i)
        sendMacroValue(i, float(macroSlider(i)->value()));
    setNoneLoaded(false);
    addPatchToMenu(absolute);
    currentPatchIndex =
        ui->patchMenu->findData(absolute, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
    ui->patchMenu->setCurrentIndex(currentPatchIndex);
    application().oscOutput().setPatchName(ui->patchMenu->currentText());
}

// The patch that was playing stays closed; the menu goes back to its entry
// so that stepping continues from there.
void MainWindow::showLoadFailure(const QString& path)
{
    application().showCriticalMessage(tr("Failed to load patch %1.").arg(path));
    if (currentPatchIndex == -1)
        setNoneLoaded(true);
    else
        ui->patchMenu->setCurrentIndex(currentPatchIndex);
}

void MainWindow::on_patchMenu_activated(int index)
{
    loadPatch(ui->patchMenu->itemData(index).toString());
}

void MainWindow::stepPatch(int direction)
{
    const int count = ui->patchMenu->count();
    if (count == 0)
        return;
    const int index = (ui->patchMenu->currentIndex() + count + direction) % count;
    ui->patchMenu->setCurrentIndex(index);
    loadPatch(ui->patchMenu->itemData(index).toString());
}

void MainWindow::on_patchDecButton_clicked()
{
    stepPatch(-1);
}

void MainWindow::on_patchIncButton_clicked()
{
    stepPatch(+1);
}

void MainWindow::on_presetDecButton_clicked() {}

void MainWindow::on_presetIncButton_clicked() {}

void MainWindow::on_loadPatchButton_clicked()
{
    // The shipped voices' folder until the player has opened one elsewhere.
    const QString folder = lastPatchDir.isEmpty()
                               ? application().resourceDirectory() + QStringLiteral("/patches")
                               : lastPatchDir;
    const QString file =
        QFileDialog::getOpenFileName(this, tr("Open Patch"), folder, tr("PD Patches (*.pd)"));
    if (file.isEmpty())
        return;
    lastPatchDir = QFileInfo(file).path();
    loadPatch(file);
}

// "Scala" opens a menu to take the lattice or the chord out as a scale, or to bring a
// scale in as what the MIDI keys play.
void MainWindow::createScalaMenu()
{
    auto* button = new QPushButton(tr("Scala"), this);
    button->setObjectName(QStringLiteral("scalaButton"));
    button->setFocusPolicy(Qt::NoFocus);
    button->setToolTip(tr("Export the lattice or the sounding chord as a Scala scale, or import "
                          "a scale for the MIDI keys"));
    auto* menu = new QMenu(button);
    const QString scales = tr("Scala scales (*.scl)");
    const auto folder = [] { return QDir::homePath(); };
    menu->addAction(tr("Export the lattice as a scale…"), this, [=] {
        const QString path = QFileDialog::getSaveFileName(this, tr("Export the lattice"),
                                                          folder() + "/lattice.scl", scales);
        if (!path.isEmpty())
            exportLatticeScale(path);
    });
    menu->addAction(tr("Export the sounding chord as a scale…"), this, [=] {
        const QString path = QFileDialog::getSaveFileName(this, tr("Export the chord"),
                                                          folder() + "/chord.scl", scales);
        if (!path.isEmpty())
            exportChordScale(path);
    });
    menu->addAction(tr("Import a scale for the MIDI keys…"), this, [=] {
        const QString path =
            QFileDialog::getOpenFileName(this, tr("Import a scale"), folder(), scales);
        if (!path.isEmpty())
            importScaleAsKeyMap(path);
    });
    button->setMenu(menu);
    toolColumn()->addWidget(button);
}

// Beside the mono and poly buttons: the record button above "Scala". The
// row under the patch menu stays free for the looks' switcher.
QVBoxLayout* MainWindow::toolColumn()
{
    if (!toolColumn_) {
        toolColumn_ = new QVBoxLayout;
        toolColumn_->setSpacing(ui->verticalLayout_2->spacing());
        int after = 0;
        while (after < ui->horizontalLayout->count() &&
               ui->horizontalLayout->itemAt(after)->layout() != ui->verticalLayout_2)
            ++after;
        ui->horizontalLayout->insertLayout(after + 1, toolColumn_);
    }
    return toolColumn_;
}

// Above "Scala": records what is heard, and every event that made it, into
// the data folder's Recordings.
void MainWindow::createRecordButton()
{
    recordButton = new QPushButton(tr("Record"), this);
    recordButton->setObjectName(QStringLiteral("recordButton"));
    recordButton->setCheckable(true);
    recordButton->setFocusPolicy(Qt::NoFocus);
    recordButton->setToolTip(tr("Record the sound and a score of the performance into the "
                                "Recordings folder"));
    connect(recordButton, &QPushButton::clicked, this, [this](bool on) {
        if (on)
            application().startRecording();
        else
            application().stopRecording();
    });
    toolColumn()->insertWidget(0, recordButton);
}

void MainWindow::showRecording(bool on)
{
    recordButton->setChecked(on);
    recordButton->setText(on ? tr("● Recording") : tr("Record"));
    recordButton->setStyleSheet(on ? QStringLiteral("color: #e04040;") : QString());
}

QString MainWindow::currentPatchName() const
{
    return ui->patchMenu->currentText();
}

bool MainWindow::exportLatticeScale(const QString& path)
{
    ScalaScale scale = scaleOfLattice(*lattice, QFileInfo(lattice->filePath).fileName());
    scale.fileName = QFileInfo(path).fileName();
    QString error;
    if (!writeReplacing(path, scale.write(), &error)) {
        application().showCriticalMessage(error);
        return false;
    }
    qWarning().noquote() << QStringLiteral("Exported the lattice, %1 degrees, to %2")
                                .arg(scale.pitches.size())
                                .arg(quotedText(path));
    return true;
}

// The chord's scale, and beside it a .kbm for a synthesizer to play it from
// the keys of the key map, the black ball's frequency on key 69.
bool MainWindow::exportChordScale(const QString& path)
{
    ScalaScale scale =
        scaleOfChord(lattice->playingRatios().values(), tr("A chord of the lattice"));
    scale.fileName = QFileInfo(path).fileName();
    const QString kbmPath =
        QFileInfo(path).path() + '/' + QFileInfo(path).completeBaseName() + ".kbm";
    QFile keys(TuningLatticeApplication::dataDirectory() + QStringLiteral("/midi_map.json"));
    QJsonObject keyMap =
        keys.open(QIODevice::ReadOnly) && keys.size() < SerializableRoot::maxFileBytes
            ? QJsonDocument::fromJson(keys.readAll()).object()
            : QJsonObject();
    KeyboardMapping mapping = mappingForKeys(scale, keyMap, double(lattice->baseFrequency()));
    mapping.fileName = QFileInfo(kbmPath).fileName();
    QString error;
    if (!writeReplacing(path, scale.write(), &error) ||
        !writeReplacing(kbmPath, mapping.write(), &error)) {
        application().showCriticalMessage(error);
        return false;
    }
    qWarning().noquote() << QStringLiteral("Exported the chord to %1 and %2")
                                .arg(quotedText(path), quotedText(kbmPath));
    return true;
}

// A .kbm of the same name beside the scale is read with it.
bool MainWindow::importScaleAsKeyMap(const QString& path)
{
    QString error;
    const auto read = [&error](const QString& file) {
        QFile in(file);
        if (!in.open(QIODevice::ReadOnly) || in.size() > SerializableRoot::maxFileBytes)
            error = tr("%1 could not be read.").arg(file);
        return error.isEmpty() ? in.readAll() : QByteArray();
    };
    std::optional<ScalaScale> scale =
        ScalaScale::parse(read(path), QFileInfo(path).fileName(), &error);
    std::optional<KeyboardMapping> mapping;
    const QString kbmPath =
        QFileInfo(path).path() + '/' + QFileInfo(path).completeBaseName() + ".kbm";
    if (scale && QFileInfo::exists(kbmPath)) {
        mapping = KeyboardMapping::parse(read(kbmPath), QFileInfo(kbmPath).fileName(), &error);
        if (!mapping)
            scale.reset();
    }
    const QString keyMapPath = TuningLatticeApplication::dataDirectory() + "/midi_map.json";
    const ScalaImport imported = scale ? importScale(*scale, mapping) : ScalaImport{};
    QFile current(keyMapPath);
    const QJsonObject keyMap =
        current.open(QIODevice::ReadOnly) && current.size() < SerializableRoot::maxFileBytes
            ? QJsonDocument::fromJson(current.readAll()).object()
            : MidiMap::defaultMap();
    current.close();
    if (!scale || imported.midiMap.isEmpty() ||
        !writeReplacing(keyMapPath, QJsonDocument(withKeysOf(keyMap, imported)).toJson(), &error)) {
        application().showCriticalMessage(
            tr("The scale was not imported: %1")
                .arg(error.isEmpty() ? tr("no degree has a path") : error));
        return false;
    }
    application().reloadMidiMap();
    QString report = tr("%1 keys now play %2 of the %3 degrees of %4.")
                         .arg(imported.midiMap.size())
                         .arg(imported.degrees - imported.refusals.size())
                         .arg(imported.degrees)
                         .arg(QFileInfo(path).fileName());
    if (!imported.refusals.isEmpty())
        report += '\n' + tr("Refused:") + '\n' + imported.refusals.join('\n');
    qWarning().noquote() << report;
    if (!imported.refusals.isEmpty())
        application().showCriticalMessage(report);
    return true;
}

void MainWindow::onPatchDecRequested()
{
    stepPatch(-1);
}

void MainWindow::onPatchIncRequested()
{
    stepPatch(+1);
}

// Counted among the patches of the menu; the one that sounds already, or a
// position past the last, changes nothing.
void MainWindow::onPatchSelectRequested(int position)
{
    for (int index = 0; index < ui->patchMenu->count(); ++index) {
        const QString file = ui->patchMenu->itemData(index).toString();
        if (file.isEmpty() || position-- > 0)
            continue;
        if (index != ui->patchMenu->currentIndex()) {
            ui->patchMenu->setCurrentIndex(index);
            loadPatch(file);
        }
        return;
    }
}

bool MainWindow::selectPatchNamed(const QString& name)
{
    const int index =
        ui->patchMenu->findText(name, Qt::MatchFixedString); // the menu's names, any case
    if (index < 0 || ui->patchMenu->itemData(index).toString().isEmpty())
        return false;
    if (index != ui->patchMenu->currentIndex()) {
        ui->patchMenu->setCurrentIndex(index);
        loadPatch(ui->patchMenu->itemData(index).toString());
    }
    return true;
}

// ---------------------------------------------------------------------------
// Controls

void MainWindow::sendMacroValue(int index, float position)
{
    // All eight sliders share the first one's range.
    queueEvent(LatticeEvent::Macro1 + index, sliderFraction(ui->macroSlider1, position));
}

void MainWindow::onMacroSliderValueChanged(int value)
{
    const QString name = sender() ? sender()->objectName() : QString();
    const int number = name.right(1).toInt();
    if (number >= 1 && number <= macroCount)
        sendMacroValue(number - 1, float(value));
}

void MainWindow::on_optionsButton_clicked()
{
    // While the dialog is open, a click brings it to the front rather than
    // stacking a second one on it. A closed dialog is hidden, not gone; it
    // is replaced by a new one that shows the current options.
    if (optionsDialog && optionsDialog->isVisible()) {
        optionsDialog->raise();
        optionsDialog->activateWindow();
        return;
    }
    delete optionsDialog;
    optionsDialog = new OptionsDialog(this);
    optionsDialog->setModal(false);
    optionsDialog->show();
}

void MainWindow::on_volumeSlider_valueChanged(int value)
{
    queueEvent(LatticeEvent::MasterVolumeSet, sliderFraction(ui->volumeSlider, float(value)));
}

void MainWindow::onSwitcherClicked(QString link)
{
    if (link == QLatin1String("circles"))
        ui->centralStack->setCurrentIndex(0);
    else if (link == QLatin1String("grapes"))
        ui->centralStack->setCurrentIndex(1);
    showLookInSwitcher();
}

void MainWindow::on_stopAllButton_clicked()
{
    player().queueEventGui(&stopAllEvent);
}

void MainWindow::on_monoButton_clicked()
{
    queueEvent(LatticeEvent::MonophonicSet, ui->monoButton->isChecked() ? 1.0f : 0.0f);
}

void MainWindow::on_polyButton_clicked()
{
    queueEvent(LatticeEvent::MonophonicSet, ui->polyButton->isChecked() ? 0.0f : 1.0f);
}

// ---------------------------------------------------------------------------
// The player's answers

void MainWindow::onMonophonicChanged(bool mono)
{
    // setChecked() does not click, so nothing is sent back.
    ui->monoButton->setChecked(mono);
    ui->polyButton->setChecked(!mono);
}

void MainWindow::onVolumeChanged(float volume)
{
    const QSignalBlocker blocker(ui->volumeSlider);
    ui->volumeSlider->setValue(sliderPosition(ui->volumeSlider, volume));
}

void MainWindow::onMacroNamesReceived(QStringList macroNames)
{
    // A patch may name more macros than the window has; the rest are not
    // shown. An empty name is a macro the patch leaves unused.
    for (int i = 0; i < macroCount; ++i) {
        const QString name = i < macroNames.size() ? macroNames.at(i) : QString();
        const bool used = !name.isEmpty();
        QLabel* label = macroLabel(i);
        label->setText(used ? macroTitle(name) : QLatin1String(unusedMacroText));
        label->setEnabled(used);
        macroSlider(i)->setEnabled(used);
    }
}

void MainWindow::onMacroDefaultsReceived(QList<float> macroDefaults)
{
    // Codes past Macro8 are other event kinds, so defaults past the eighth
    // are dropped. -1 marks a macro without a default.
    for (int i = 0; i < macroDefaults.size() && i < macroCount; ++i) {
        if (macroDefaults.at(i) > -0.5f)
            queueEvent(LatticeEvent::Macro1 + i, macroDefaults.at(i));
    }
}

void MainWindow::onMacroValueChanged(int macro, float value)
{
    auto* slider = findChild<QSlider*>(QStringLiteral("macroSlider") + QString::number(macro));
    if (!slider)
        return;
    const QSignalBlocker blocker(slider);
    slider->setValue(sliderPosition(slider, value));
}

void MainWindow::onTransposeChanged()
{
    QString steps;
    for (int step : lattice->transposeSteps())
        steps += QLatin1Char('/') + QString::number(step);
    if (steps.isEmpty())
        steps = QStringLiteral("/");

    const QString prefix = QLatin1String(readoutPrefix);
    const QFontMetrics metrics = fontMetrics();
    const int room = ui->infoLabel1->width() - metrics.horizontalAdvance(prefix);
    ui->infoLabel1->setText(
        QStringLiteral("%1%2").arg(prefix, metrics.elidedText(steps, Qt::ElideMiddle, room)));

    const LatticeRatio& ratio = lattice->transposition();
    const float frequency =
        float(ratio.numerator()) / float(ratio.denominator()) * lattice->baseFrequency();
    ui->infoLabel2->setText(
        tr("Frequency of black ball: %1 Hz").arg(QString::number(double(frequency), 'f', 3)));
}

// ---------------------------------------------------------------------------
// Window

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    const bool control = event->modifiers() & Qt::ControlModifier;
    if (event->key() == Qt::Key_9) {
        // The diagnostics key is taken whole: a bare 9 does nothing.
        if (control)
            diagnosticsDialog->setVisible(!diagnosticsDialog->isVisible());
        return;
    }
    if (event->key() == Qt::Key_T && control) {
        tweakDialog->setVisible(!tweakDialog->isVisible());
        return;
    }
    QMainWindow::keyPressEvent(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->patchMenu && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->modifiers() & Qt::ControlModifier) &&
            (key->key() == Qt::Key_9 || key->key() == Qt::Key_T)) {
            keyPressEvent(key);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    onTransposeChanged();
}

void MainWindow::reloadLattice()
{
    player().queueEventGui(&stopAllEvent);
    // The balls must hear that their notes stopped before they are redrawn:
    // give the audio thread a block to run the stop-all, then deliver its
    // reports.
    QThread::msleep(stopAllSettleMs);
    QCoreApplication::processEvents();
    application().loadStyleSheet();
    lattice->load();
    // The file reads every ball enabled; the primes that are off stay off.
    for (const PrimeToggleButton* button : findChildren<PrimeToggleButton*>())
        if (button->isCheckable() && !button->isChecked())
            lattice->onPrimeEnabledToggled(button->prime(), false);
    LatticeLeavesWidget::clearLeafPositions();
    LatticeView* view = currentView();
    view->buildScene(view->look());
}
