#include "OptionsDialog.h"

#include "LatticeEvent.h"
#include "TuningLatticeApplication.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpacerItem>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

constexpr int dialogWidth = 450;
constexpr int dialogHeight = 260;
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

} // namespace

OptionsDialog::OptionsDialog(QWidget* parent)
    : OptionsDialog(TuningLatticeApplication::instance()->audioOutput(), parent)
{
}

OptionsDialog::OptionsDialog(AudioOutput& output, QWidget* parent)
    : QDialog(parent), audioOutput(output), tabWidget(new QTabWidget(this))
{
    tabWidget->addTab(createOptionsTab(), tr("Options"));
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

    grid->addItem(new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), 3, 0);

    // Filled before the connections, so that opening the dialog sends nothing.
    const Settings& settings = application().settings();
    calibrationEdit->setValue(settings.calibrationFrequency);
    oneOneEdit->setValue(double(settings.baseFrequency));

    connect(audioDeviceMenu, qOverload<int>(&QComboBox::activated), this,
            &OptionsDialog::onAudioDeviceMenuActivated);
    connect(oneOneEdit, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
            &OptionsDialog::onOneOneFreqEditValueChanged);
    connect(calibrationEdit, qOverload<int>(&QSpinBox::valueChanged), this,
            &OptionsDialog::onCalibrationFreqEditValueChanged);
    return page;
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
