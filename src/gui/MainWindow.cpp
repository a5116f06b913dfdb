#include "MainWindow.h"

#include "PdPlayer.h"
#include "Settings.h"
#include "StartupTrace.h"
#include "TuningLatticeApplication.h"

#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

namespace {

const char* const noneLoadedText = "None loaded";

PdPlayer& player()
{
    return TuningLatticeApplication::instance()->player();
}

void queueEvent(int type, float value)
{
    const LatticeEvent event(type, value);
    player().queueEventGui(&event);
}

// (position - minimum) / (maximum - minimum): 0 to 1 over the slider's range.
float sliderFraction(const QSlider* slider, int position)
{
    return float(position - slider->minimum()) / float(slider->maximum() - slider->minimum());
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

QHBoxLayout* rowLayout(const char* name, int spacing)
{
    auto* layout = new QHBoxLayout;
    layout->setObjectName(QLatin1String(name));
    layout->setSpacing(spacing);
    return layout;
}

} // namespace

MainWindow::MainWindow(Lattice* lattice, QWidget* parent) : QMainWindow(parent), lattice_(lattice)
{
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("Elsted Tuning Lattice"));
    resize(687, 409);
    buildWidgets();
    centralStack_->setCurrentIndex(
        TuningLatticeApplication::instance()->settings().circlesView ? 0 : 1);
    connectPlayer();
    QMetaObject::connectSlotsByName(this);
    initPatchMenu();
    StartupTrace::mark("window-built");
    loadDefaultPatch();
    StartupTrace::mark("default-patch");
}

MainWindow::~MainWindow() = default;

bool MainWindow::showsCircles() const
{
    return centralStack_->currentIndex() == 0;
}

void MainWindow::buildWidgets()
{
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralWidget"));
    auto* rows = new QVBoxLayout(central);
    rows->setObjectName(QStringLiteral("verticalLayout_5"));
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);

    auto* topFrame = new QFrame(central);
    topFrame->setObjectName(QStringLiteral("topFrame"));
    topFrame->setFrameShape(QFrame::NoFrame);
    auto* top = rowLayout("horizontalLayout_7", 36);
    top->setContentsMargins(12, 12, 12, 12);
    topFrame->setLayout(top);
    top->addWidget(buildPatchRow(), 0, Qt::AlignTop);
    top->addWidget(buildMacroGrid());
    top->addStretch(1);

    volumeSlider_ = new QSlider(Qt::Vertical, topFrame);
    volumeSlider_->setObjectName(QStringLiteral("volumeSlider"));
    volumeSlider_->setRange(0, 140);
    volumeSlider_->setPageStep(14);
    volumeSlider_->setValue(120);
    volumeSlider_->setMaximumHeight(140);
    top->addWidget(volumeSlider_, 0, Qt::AlignCenter);

    rows->addWidget(topFrame);
    rows->addWidget(buildLatticeStack(), 1);
    rows->addWidget(buildLowerRow());
    setCentralWidget(central);
}

QWidget* MainWindow::buildPatchRow()
{
    auto* box = new QWidget;
    auto* grid = new QGridLayout(box);
    grid->setObjectName(QStringLiteral("gridLayout"));
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(6);

    auto* steps = rowLayout("horizontalLayout_3", 2);
    auto* decButton = new QToolButton(box);
    decButton->setObjectName(QStringLiteral("patchDecButton"));
    decButton->setArrowType(Qt::LeftArrow);
    auto* incButton = new QToolButton(box);
    incButton->setObjectName(QStringLiteral("patchIncButton"));
    incButton->setArrowType(Qt::RightArrow);
    steps->addWidget(decButton);
    steps->addWidget(incButton);
    grid->addLayout(steps, 0, 0);

    patchMenu_ = new QComboBox(box);
    patchMenu_->setObjectName(QStringLiteral("patchMenu"));
    patchMenu_->setFrame(false);
    patchMenu_->setMinimumContentsLength(12);
    grid->addWidget(patchMenu_, 0, 1);
    return box;
}

QWidget* MainWindow::buildMacroGrid()
{
    static const int initialPositions[macroCount] = {0, 60, 60, 0, 0, 0, 0, 60};
    auto* box = new QWidget;
    auto* grid = new QGridLayout(box);
    grid->setObjectName(QStringLiteral("gridLayout_2"));
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(6);
    grid->setColumnMinimumWidth(2, 12);
    for (int i = 0; i < macroCount; ++i) {
        const QString number = QString::number(i + 1);
        auto* label = new QLabel(QStringLiteral("Parameter ") + number, box);
        label->setObjectName(QStringLiteral("macroLabel") + number);
        auto* slider = new QSlider(Qt::Horizontal, box);
        slider->setObjectName(QStringLiteral("macroSlider") + number);
        slider->setRange(0, 120);
        slider->setPageStep(12);
        slider->setValue(initialPositions[i]);
        const int row = i % 4;
        const int column = i < 4 ? 0 : 3;
        grid->addWidget(label, row, column);
        grid->addWidget(slider, row, column + 1);
        macroLabels_[std::size_t(i)] = label;
        macroSliders_[std::size_t(i)] = slider;
        connect(slider, &QSlider::valueChanged, this, &MainWindow::onMacroSliderValueChanged);
    }
    return box;
}

// The two pages hold the "Flowers" and "Grapes" looks of the lattice view.
QWidget* MainWindow::buildLatticeStack()
{
    centralStack_ = new QStackedWidget;
    centralStack_->setObjectName(QStringLiteral("centralStack"));
    centralStack_->setFrameShape(QFrame::StyledPanel);
    auto* circles = new QWidget;
    circles->setObjectName(QStringLiteral("circleLayer"));
    auto* grapes = new QWidget;
    grapes->setObjectName(QStringLiteral("grapeLayer"));
    centralStack_->addWidget(circles);
    centralStack_->addWidget(grapes);
    return centralStack_;
}

QWidget* MainWindow::buildLowerRow()
{
    auto* lowerFrame = new QFrame;
    lowerFrame->setObjectName(QStringLiteral("lowerFrame"));
    lowerFrame->setFrameShape(QFrame::NoFrame);
    auto* row = rowLayout("horizontalLayout_2", 0);
    row->setContentsMargins(12, 12, 12, 12);
    lowerFrame->setLayout(row);

    auto* buttons = rowLayout("horizontalLayout", 12);
    auto* stopAll = new QToolButton(lowerFrame);
    stopAll->setObjectName(QStringLiteral("stopAllButton"));
    stopAll->setText(QStringLiteral("Stop\nall"));
    buttons->addWidget(stopAll);

    auto* monoPoly = new QVBoxLayout;
    monoPoly->setObjectName(QStringLiteral("verticalLayout_2"));
    monoButton_ = new QPushButton(QStringLiteral("Mono"), lowerFrame);
    monoButton_->setObjectName(QStringLiteral("monoButton"));
    polyButton_ = new QPushButton(QStringLiteral("Poly"), lowerFrame);
    polyButton_->setObjectName(QStringLiteral("polyButton"));
    for (QPushButton* button : {monoButton_, polyButton_}) {
        button->setCheckable(true);
        button->setAutoExclusive(false);
        monoPoly->addWidget(button);
    }
    polyButton_->setChecked(true);
    buttons->addLayout(monoPoly);
    row->addLayout(buttons);
    row->addStretch(1);
    return lowerFrame;
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
}

void MainWindow::initPatchMenu()
{
    const QString folder =
        TuningLatticeApplication::instance()->resourceDirectory() + QStringLiteral("/patches");
    // Case counts in the order; sub-folders such as "shell" are not voices.
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files, QDir::Name);
    if (files.isEmpty()) {
        qCritical() << "Found no presets in patch dir" << folder;
        return;
    }
    for (const QFileInfo& file : files)
        addPatchToMenu(file.absoluteFilePath());
}

void MainWindow::addPatchToMenu(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (patchMenu_->findData(absolute) != -1)
        return;
    QString name = QFileInfo(absolute).fileName();
    if (name.endsWith(QLatin1String(".pd"), Qt::CaseSensitive))
        name.chop(3);
    patchMenu_->addItem(name, absolute);
}

void MainWindow::setNoneLoaded(bool noneLoaded)
{
    const int index = patchMenu_->findText(QLatin1String(noneLoadedText));
    if (noneLoaded) {
        if (index == -1)
            patchMenu_->addItem(QLatin1String(noneLoadedText), QString());
        patchMenu_->setCurrentIndex(patchMenu_->count() - 1);
    } else if (index != -1) {
        patchMenu_->removeItem(index);
    }
}

void MainWindow::loadDefaultPatch()
{
    const QString name = TuningLatticeApplication::instance()->settings().defaultPatch;
    if (!name.isEmpty() && QFileInfo::exists(name)) {
        loadPatch(name);
        return;
    }
    qWarning() << "No default patch name found, use Sine.";
    const QString sine = TuningLatticeApplication::instance()->resourceDirectory() +
                         QStringLiteral("/patches/Sine.pd");
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
    qWarning() << "Loading voice patch" << absolute;
    // The open main patch uses the voice file about to be replaced, so it is
    // closed first. With none open (the first load, or after a failed one)
    // there is nothing to close, and the unload's pauses for a click-free
    // fade would only delay the start-up.
    if (patchOpen_)
        player().unloadPatch();
    patchOpen_ = false;

    const QString voice = runtimePatchPath("lattice_voice.pd");
    const QString main = runtimePatchPath("lattice_main.pd");
    bool loaded = false;
    if (QFile::exists(voice) && !QFile::remove(voice)) {
        qCritical() << "Failed to delete" << voice;
    } else if (!QFile::copy(absolute, voice)) {
        qCritical() << "Failed to copy" << absolute << "to the runtime patch location" << voice;
    } else if (!player().loadPatch(QFileInfo(main))) {
        qCritical() << "Failed to load" << main << "after copying in voice" << voice;
    } else {
        loaded = true;
    }

    if (loaded) {
        patchOpen_ = true;
        // A fresh patch starts from its own values; give it the window's.
        on_volumeSlider_valueChanged(volumeSlider_->value());
        for (int i = 0; i < macroCount; ++i)
            sendMacroValue(i, macroSliders_[std::size_t(i)]->value());
        setNoneLoaded(false);
        addPatchToMenu(absolute);
        currentPatchIndex_ = patchMenu_->findData(absolute);
        patchMenu_->setCurrentIndex(currentPatchIndex_);
        return;
    }

    TuningLatticeApplication::instance()->showCriticalMessage(
        tr("Failed to load patch %1.").arg(absolute));
    if (currentPatchIndex_ == -1)
        setNoneLoaded(true);
    else
        patchMenu_->setCurrentIndex(currentPatchIndex_);
}

void MainWindow::on_patchMenu_activated(int index)
{
    loadPatch(patchMenu_->itemData(index).toString());
}

void MainWindow::stepPatch(int direction)
{
    const int count = patchMenu_->count();
    if (count == 0)
        return;
    const int index = (patchMenu_->currentIndex() + count + direction) % count;
    patchMenu_->setCurrentIndex(index);
    loadPatch(patchMenu_->itemData(index).toString());
}

void MainWindow::on_patchDecButton_clicked()
{
    stepPatch(-1);
}

void MainWindow::on_patchIncButton_clicked()
{
    stepPatch(+1);
}

void MainWindow::onPatchDecRequested()
{
    stepPatch(-1);
}

void MainWindow::onPatchIncRequested()
{
    stepPatch(+1);
}

void MainWindow::sendMacroValue(int index, int position)
{
    // All eight sliders share the first one's range.
    queueEvent(LatticeEvent::Macro1 + index, sliderFraction(macroSliders_[0], position));
}

void MainWindow::onMacroSliderValueChanged(int value)
{
    const QString name = sender() ? sender()->objectName() : QString();
    const int number = name.right(1).toInt();
    if (number >= 1 && number <= macroCount)
        sendMacroValue(number - 1, value);
}

void MainWindow::on_volumeSlider_valueChanged(int value)
{
    queueEvent(LatticeEvent::MasterVolumeSet, sliderFraction(volumeSlider_, value));
}

void MainWindow::on_stopAllButton_clicked()
{
    player().queueEventGui(&stopAllEvent_);
}

void MainWindow::on_monoButton_clicked()
{
    queueEvent(LatticeEvent::MonophonicSet, monoButton_->isChecked() ? 1.0f : 0.0f);
}

void MainWindow::on_polyButton_clicked()
{
    queueEvent(LatticeEvent::MonophonicSet, polyButton_->isChecked() ? 0.0f : 1.0f);
}

void MainWindow::onMonophonicChanged(bool mono)
{
    monoButton_->setChecked(mono);
    polyButton_->setChecked(!mono);
}

void MainWindow::onVolumeChanged(float volume)
{
    const QSignalBlocker blocker(volumeSlider_);
    volumeSlider_->setValue(sliderPosition(volumeSlider_, volume));
}

void MainWindow::onMacroNamesReceived(QStringList macroNames)
{
    for (int i = 0; i < macroCount; ++i) {
        QLabel* label = macroLabels_[std::size_t(i)];
        const bool used = i < macroNames.size();
        label->setText(used ? macroTitle(macroNames.at(i)) : QStringLiteral("Unused"));
        label->setEnabled(used);
        macroSliders_[std::size_t(i)]->setEnabled(used);
    }
}

void MainWindow::onMacroDefaultsReceived(QList<float> macroDefaults)
{
    // The window has eight macros; codes past Macro8 are other event kinds.
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
