#include "OptionsDialog.h"

#include "CardStackWidget.h"
#include "LatticeEvent.h"
#include "TuningLatticeApplication.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkInterface>
#include <QSpacerItem>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int dialogWidth = 450;
constexpr int dialogHeight = 340;
constexpr int fieldWidth = 80;       // both frequency spin boxes
constexpr int deviceMenuWidth = 250; // device names can be long
// A4 within about a major third of 440 Hz.
constexpr int calibrationMinimum = 349;
constexpr int calibrationMaximum = 499;
// The audible range, as the lattice model bounds the black ball.
constexpr double oneOneMinimum = 20.0;
constexpr double oneOneMaximum = 20000.0;

TuningLatticeApplication& application()
{
    return *TuningLatticeApplication::instance();
}

QHBoxLayout* fieldWithUnit(QWidget* field)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    row->addWidget(field);
    row->addWidget(new QLabel(QStringLiteral("Hz")));
    row->addStretch();
    return row;
}

// A label and its field as the next row of a tab's grid.
void addRow(QGridLayout* grid, const QString& label, QWidget* field)
{
    const int row = grid->rowCount();
    grid->addWidget(new QLabel(label, grid->parentWidget()), row, 0);
    grid->addWidget(field, row, 1);
}

} // namespace

OptionsDialog::OptionsDialog(QWidget* parent)
    : OptionsDialog(TuningLatticeApplication::instance()->audioOutput(), parent)
{
}

OptionsDialog::OptionsDialog(AudioOutput& output, QWidget* parent)
    : QDialog(parent), audioOutput(output), tabWidget(new QTabWidget(this))
{
    tabWidget->addTab(createOptionsTab(), tr("Options"));
    tabWidget->addTab(createMidiTab(), tr("MIDI"));
    tabWidget->addTab(createNetworkTab(), tr("Network"));
    tabWidget->addTab(createAboutTab(), tr("About"));

    auto* buttonBox = new QDialogButtonBox(QDialogButtonBox::Close, Qt::Horizontal, this);
    buttonBox->setStyleSheet(QStringLiteral("margin: 12px;"));
    connect(buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(tabWidget);
    layout->addWidget(buttonBox);
    setFixedSize(dialogWidth, dialogHeight);
}

QWidget* OptionsDialog::createOptionsTab()
{
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(12, 12, 12, 12);

    audioDeviceMenu = new QComboBox(page);
    audioDeviceMenu->setObjectName(QStringLiteral("audioDeviceMenu"));
    audioDeviceMenu->setMaximumWidth(deviceMenuWidth);
    audioDeviceMenu->addItems(audioOutput.devices());
    if (audioOutput.selectedDevice() != -1)
        audioDeviceMenu->setCurrentIndex(audioOutput.selectedDevice());
    grid->addWidget(new QLabel(tr("Audio Device"), page), 0, 0);
    grid->addWidget(audioDeviceMenu, 0, 1);

    auto* calibrationLabel = new QHBoxLayout;
    calibrationLabel->setSpacing(0);
    calibrationLabel->addWidget(new QLabel(tr("Calibration"), page));
    calibrationLabel->addSpacing(12);
    calibrationLabel->addWidget(new QLabel(QStringLiteral("A4="), page));
    auto* calibrationEdit = new QSpinBox(page);
    calibrationEdit->setObjectName(QStringLiteral("calibrationFreqEdit"));
    calibrationEdit->setMaximumWidth(fieldWidth);
    calibrationEdit->setRange(calibrationMinimum, calibrationMaximum);
    grid->addLayout(calibrationLabel, 1, 0);
    grid->addLayout(fieldWithUnit(calibrationEdit), 1, 1);

    auto* oneOneEdit = new QDoubleSpinBox(page);
    oneOneEdit->setObjectName(QStringLiteral("oneOneFreqEdit"));
    oneOneEdit->setMaximumWidth(fieldWidth);
    oneOneEdit->setDecimals(3);
    oneOneEdit->setRange(oneOneMinimum, oneOneMaximum);
    grid->addWidget(new QLabel(tr("1/1 Frequency"), page), 2, 0);
    grid->addLayout(fieldWithUnit(oneOneEdit), 2, 1);

    auto* notationMenu = new QComboBox(page);
    notationMenu->setObjectName(QStringLiteral("notationMenu"));
    notationMenu->addItem(tr("Letters and cents"), QStringLiteral("letters"));
    notationMenu->addItem(tr("Helmholtz-Ellis (HEJI)"), QStringLiteral("heji"));
    grid->addWidget(new QLabel(tr("Note cards"), page), 3, 0);
    grid->addWidget(notationMenu, 3, 1, Qt::AlignLeft);

    grid->addItem(new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), 4, 0);

    // Filled before the connections, so that opening the dialog sends nothing.
    const Settings& settings = application().settings();
    calibrationEdit->setValue(settings.calibrationFrequency);
    oneOneEdit->setValue(double(settings.baseFrequency));
    notationMenu->setCurrentIndex(std::max(0, notationMenu->findData(settings.notation)));

    // The cards on show are written again in the new notation.
    connect(notationMenu, qOverload<int>(&QComboBox::activated), this, [notationMenu] {
        application().settings().notation = notationMenu->currentData().toString();
        for (QWidget* window : QApplication::topLevelWidgets())
            for (CardStackWidget* stack : window->findChildren<CardStackWidget*>())
                stack->rebuildCards();
    });

    connect(audioDeviceMenu, qOverload<int>(&QComboBox::activated), this,
            &OptionsDialog::onAudioDeviceMenuActivated);
    connect(oneOneEdit, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
            &OptionsDialog::onOneOneFreqEditValueChanged);
    connect(calibrationEdit, qOverload<int>(&QSpinBox::valueChanged), this,
            &OptionsDialog::onCalibrationFreqEditValueChanged);
    return page;
}

// A port menu: "None" (only the program's own port, for others to connect
// to) and the ports there are, with the saved one kept even while absent.
static void fillPortMenu(QComboBox* menu, const QStringList& ports, const QString& saved)
{
    menu->clear();
    menu->addItem(QObject::tr("None"), QString());
    for (const QString& port : ports)
        menu->addItem(port, port);
    if (!saved.isEmpty() && !ports.contains(saved))
        menu->addItem(saved, saved);
    menu->setCurrentIndex(std::max(0, menu->findData(saved)));
}

QWidget* OptionsDialog::createMidiTab()
{
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(12, 12, 12, 12);
    const Settings& settings = application().settings();

    midiApiMenu = new QComboBox(page);
    midiApiMenu->setObjectName(QStringLiteral("midiApiMenu"));
    midiApiMenu->addItem(tr("ALSA sequencer"), QStringLiteral("alsa"));
    midiApiMenu->addItem(tr("JACK"), QStringLiteral("jack"));
    midiApiMenu->setCurrentIndex(std::max(0, midiApiMenu->findData(settings.midiApi)));
    addRow(grid, tr("MIDI system"), midiApiMenu);

    midiInMenu = new QComboBox(page);
    midiInMenu->setObjectName(QStringLiteral("midiInMenu"));
    midiInMenu->setMaximumWidth(deviceMenuWidth);
    midiInMenu->setToolTip(tr("Keys play the lattice from this port; with None, connect "
                              "to the port \"Tuning Lattice\" yourself."));
    addRow(grid, tr("Input"), midiInMenu);

    midiOutMenu = new QComboBox(page);
    midiOutMenu->setObjectName(QStringLiteral("midiOutMenu"));
    midiOutMenu->setMaximumWidth(deviceMenuWidth);
    midiOutMenu->setToolTip(tr("Notes go to this port; with None, connect to the port "
                               "\"Tuning Lattice out\" yourself."));
    addRow(grid, tr("Output"), midiOutMenu);
    fillPorts();

    midiOutModeMenu = new QComboBox(page);
    midiOutModeMenu->setObjectName(QStringLiteral("midiOutModeMenu"));
    midiOutModeMenu->addItem(tr("Off"), QStringLiteral("off"));
    midiOutModeMenu->addItem(tr("MPE (a channel per note)"), QStringLiteral("mpe"));
    midiOutModeMenu->addItem(tr("MTS (retuned keys)"), QStringLiteral("mts"));
    midiOutModeMenu->addItem(tr("Plain (nearest key)"), QStringLiteral("plain"));
    midiOutModeMenu->setCurrentIndex(std::max(0, midiOutModeMenu->findData(settings.midiOutMode)));
    addRow(grid, tr("Output tuning"), midiOutModeMenu);

    bendRangeEdit = new QSpinBox(page);
    bendRangeEdit->setObjectName(QStringLiteral("bendRangeEdit"));
    bendRangeEdit->setRange(1, 96);
    bendRangeEdit->setSuffix(tr(" semitones"));
    bendRangeEdit->setValue(settings.mpeBendRange);
    addRow(grid, tr("MPE bend range"), bendRangeEdit);

    synthA4Edit = new QDoubleSpinBox(page);
    synthA4Edit->setObjectName(QStringLiteral("synthA4Edit"));
    synthA4Edit->setRange(100.0, 1000.0);
    synthA4Edit->setDecimals(2);
    synthA4Edit->setSuffix(QStringLiteral(" Hz"));
    synthA4Edit->setValue(double(settings.synthA4));
    synthA4Edit->setToolTip(tr("What the synthesizer tunes its A4 (key 69) to"));
    addRow(grid, tr("Synth A4"), synthA4Edit);

    internalSoundBox = new QCheckBox(tr("Play our own voices too"), page);
    internalSoundBox->setObjectName(QStringLiteral("internalSoundBox"));
    internalSoundBox->setChecked(settings.internalSound);
    addRow(grid, tr("Internal sound"), internalSoundBox);

    velocityBox = new QCheckBox(tr("Key velocity sets the note's volume"), page);
    velocityBox->setObjectName(QStringLiteral("velocityBox"));
    velocityBox->setChecked(settings.velocitySensitive);
    addRow(grid, tr("Velocity"), velocityBox);
    grid->setRowStretch(grid->rowCount(), 1);

    connect(midiApiMenu, qOverload<int>(&QComboBox::activated), this, [this] {
        application().settings().midiApi = midiApiMenu->currentData().toString();
        fillPorts();
        applyMidi();
    });
    for (QComboBox* menu : {midiInMenu, midiOutMenu, midiOutModeMenu})
        connect(menu, qOverload<int>(&QComboBox::activated), this, &OptionsDialog::applyMidi);
    connect(bendRangeEdit, &QSpinBox::editingFinished, this, &OptionsDialog::applyMidi);
    connect(synthA4Edit, &QDoubleSpinBox::editingFinished, this, &OptionsDialog::applyMidi);
    connect(internalSoundBox, &QCheckBox::toggled, this, &OptionsDialog::applyMidi);
    connect(velocityBox, &QCheckBox::toggled, this, &OptionsDialog::applyMidi);
    return page;
}

void OptionsDialog::fillPorts()
{
    const Settings& settings = application().settings();
    fillPortMenu(midiInMenu, MidiInput::sourcePorts(settings.midiApi), settings.midiInPort);
    fillPortMenu(midiOutMenu, MidiOutput::destinationPorts(settings.midiApi), settings.midiOutPort);
}

void OptionsDialog::applyMidi()
{
    Settings& settings = application().settings();
    settings.midiApi = midiApiMenu->currentData().toString();
    settings.midiInPort = midiInMenu->currentData().toString();
    settings.midiOutPort = midiOutMenu->currentData().toString();
    settings.midiOutMode = midiOutModeMenu->currentData().toString();
    settings.mpeBendRange = bendRangeEdit->value();
    settings.synthA4 = float(synthA4Edit->value());
    settings.internalSound = internalSoundBox->isChecked();
    settings.velocitySensitive = velocityBox->isChecked();
    application().startMidi();
}

namespace {

// "All interfaces", "This machine only" and each interface by name.
QComboBox* listenMenu(const QString& current, QWidget* parent)
{
    auto* menu = new QComboBox(parent);
    menu->addItem(QObject::tr("All interfaces"), QStringLiteral("all"));
    menu->addItem(QObject::tr("This machine only"), QStringLiteral("loopback"));
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces())
        if (!(interface.flags() & QNetworkInterface::IsLoopBack))
            menu->addItem(interface.humanReadableName(), interface.name());
    if (menu->findData(current) < 0)
        menu->addItem(current, current); // an address typed into options.json
    menu->setCurrentIndex(menu->findData(current));
    return menu;
}

QLineEdit* allowEdit(const QStringList& networks, QWidget* parent)
{
    auto* edit = new QLineEdit(networks.join(QStringLiteral(", ")), parent);
    edit->setPlaceholderText(QObject::tr("anyone"));
    edit->setToolTip(QObject::tr("Networks or addresses that may send, such as "
                                 "192.168.1.0/24, 10.0.0.7; empty lets anyone send"));
    return edit;
}

QStringList networksOf(const QLineEdit* edit)
{
    QStringList networks;
    for (const QString& part : edit->text().split(QLatin1Char(','), Qt::SkipEmptyParts))
        if (!part.trimmed().isEmpty())
            networks << part.trimmed();
    return networks;
}

// "Listen on" and "Allowed senders" of one listener, named `prefix`ListenMenu
// and `prefix`AllowEdit.
void addSenderRows(QGridLayout* grid, const QString& listen, const QStringList& allow,
                   const QString& prefix, QComboBox*& menu, QLineEdit*& edit)
{
    menu = listenMenu(listen, grid->parentWidget());
    menu->setObjectName(prefix + QStringLiteral("ListenMenu"));
    addRow(grid, QObject::tr("Listen on"), menu);
    edit = allowEdit(allow, grid->parentWidget());
    edit->setObjectName(prefix + QStringLiteral("AllowEdit"));
    addRow(grid, QObject::tr("Allowed senders"), edit);
}

} // namespace

QWidget* OptionsDialog::createNetworkTab()
{
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(12, 12, 12, 12);
    const Settings& settings = application().settings();
    const auto heading = [&](const QString& text) {
        auto* label = new QLabel(QStringLiteral("<b>%1</b>").arg(text), page);
        grid->addWidget(label, grid->rowCount(), 0, 1, 2);
    };

    heading(tr("Wand (port %1)").arg(settings.udpPort));
    addSenderRows(grid, settings.udpListen, settings.udpAllow, QStringLiteral("wand"),
                  wandListenMenu, wandAllowEdit);

    heading(tr("OSC"));
    oscPortEdit = new QSpinBox(page);
    oscPortEdit->setObjectName(QStringLiteral("oscPortEdit"));
    oscPortEdit->setRange(0, 65535);
    oscPortEdit->setSpecialValueText(tr("Off"));
    oscPortEdit->setValue(settings.oscPort);
    addRow(grid, tr("Port"), oscPortEdit);
    addSenderRows(grid, settings.oscListen, settings.oscAllow, QStringLiteral("osc"), oscListenMenu,
                  oscAllowEdit);
    auto* sendRow = new QHBoxLayout;
    oscSendHostEdit = new QLineEdit(settings.oscSendHost, page);
    oscSendHostEdit->setObjectName(QStringLiteral("oscSendHostEdit"));
    oscSendPortEdit = new QSpinBox(page);
    oscSendPortEdit->setObjectName(QStringLiteral("oscSendPortEdit"));
    oscSendPortEdit->setRange(0, 65535);
    oscSendPortEdit->setSpecialValueText(tr("None"));
    oscSendPortEdit->setValue(settings.oscSendPort);
    sendRow->addWidget(oscSendHostEdit);
    sendRow->addWidget(oscSendPortEdit);
    const int row = grid->rowCount();
    grid->addWidget(new QLabel(tr("Send state to"), page), row, 0);
    grid->addLayout(sendRow, row, 1);

    networkStatus = new QLabel(page);
    networkStatus->setObjectName(QStringLiteral("networkStatus"));
    networkStatus->setWordWrap(true);
    const OscInput& osc = application().oscInput();
    networkStatus->setText(
        settings.oscPort == 0 ? tr("OSC is off.")
        : osc.isRunning()     ? tr("OSC listens on port %1.").arg(osc.port())
                          : tr("OSC could not open port %1; see the log.").arg(settings.oscPort));
    grid->addWidget(networkStatus, grid->rowCount(), 0, 1, 2);
    grid->setRowStretch(grid->rowCount(), 1);

    for (QComboBox* menu : {wandListenMenu, oscListenMenu})
        connect(menu, qOverload<int>(&QComboBox::activated), this, &OptionsDialog::applyNetwork);
    for (QLineEdit* edit : {wandAllowEdit, oscAllowEdit, oscSendHostEdit})
        connect(edit, &QLineEdit::editingFinished, this, &OptionsDialog::applyNetwork);
    for (QSpinBox* edit : {oscPortEdit, oscSendPortEdit})
        connect(edit, &QSpinBox::editingFinished, this, &OptionsDialog::applyNetwork);
    return page;
}

void OptionsDialog::applyNetwork()
{
    Settings& settings = application().settings();
    const QString wandListen = wandListenMenu->currentData().toString();
    const QStringList wandAllow = networksOf(wandAllowEdit);
    const bool wandChanged = wandListen != settings.udpListen || wandAllow != settings.udpAllow;
    settings.udpListen = wandListen;
    settings.udpAllow = wandAllow;
    settings.oscPort = oscPortEdit->value();
    settings.oscListen = oscListenMenu->currentData().toString();
    settings.oscAllow = networksOf(oscAllowEdit);
    settings.oscSendHost = oscSendHostEdit->text().trimmed();
    settings.oscSendPort = oscSendPortEdit->value();
    if (wandChanged)
        application().restartUdpListener();
    QString why;
    if (!application().startOsc(&why))
        networkStatus->setText(why);
    else if (settings.oscPort == 0)
        networkStatus->setText(tr("OSC is off."));
    else
        networkStatus->setText(tr("OSC listens on port %1.").arg(application().oscInput().port()));
}

QWidget* OptionsDialog::createAboutTab()
{
    QString text;
    QFile about(QStringLiteral(":/text/about.html"));
    if (about.open(QIODevice::ReadOnly)) {
        // fromUtf8 of the bare pointer stops at the first NUL byte.
        const QByteArray bytes = about.readAll();
        text = QString::fromUtf8(bytes.constData());
    }
    text.replace(QStringLiteral("<version>"), application().version(), Qt::CaseSensitive);

    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(12);
    auto* label = new QLabel(text, page);
    label->setObjectName(QStringLiteral("aboutLabel"));
    label->setTextFormat(Qt::RichText);
    label->setOpenExternalLinks(true);
    label->setWordWrap(true);
    layout->addWidget(label);
    layout->addStretch();
    return page;
}

void OptionsDialog::onAudioDeviceMenuActivated(int index)
{
    const int old = audioOutput.selectedDevice();
    if (audioOutput.selectDevice(index))
        return;
    application().showCriticalMessage(
        tr("Failed to open audio device %1.").arg(audioDeviceMenu->itemText(index)));
    audioOutput.selectDevice(old);
    audioDeviceMenu->setCurrentIndex(old);
}

void OptionsDialog::onOneOneFreqEditValueChanged(double value)
{
    // The player copies the event before this returns.
    const LatticeEvent event(LatticeEvent::BaseFrequencySet, float(value));
    application().player().queueEventGui(&event);
}

void OptionsDialog::onCalibrationFreqEditValueChanged(int value)
{
    application().settings().calibrationFrequency = value;
}
