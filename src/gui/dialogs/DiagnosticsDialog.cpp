#include "DiagnosticsDialog.h"

#include "PdPlayer.h"
#include "TuningLatticeApplication.h"
#include "ui_DiagnosticsDialog.h"

DiagnosticsDialog::DiagnosticsDialog(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::DiagnosticsDialog>())
{
    // The form connects Close to reject(), which hides the dialog; its
    // setupUi also connects any on_<object>_<signal> slots by name.
    ui->setupUi(this);
    // A log reads better at full screen.
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint);
    // It listens for as long as the program runs, shown or not: on an
    // installation that runs for days only the latest records are kept.
    ui->textArea->setMaximumBlockCount(historyLines);
    connect(TuningLatticeApplication::instance(), &TuningLatticeApplication::diagnosticMessage,
            this, &DiagnosticsDialog::onMessage, Qt::AutoConnection);
}

DiagnosticsDialog::~DiagnosticsDialog() = default;

void DiagnosticsDialog::onMessage(const QString& message)
{
    ui->textArea->appendPlainText(message);
}

void DiagnosticsDialog::showEvent(QShowEvent* event)
{
    tracingBefore_ = PdPlayer::isAudioTracing();
    PdPlayer::setAudioTracing(true);
    QDialog::showEvent(event);
}

void DiagnosticsDialog::hideEvent(QHideEvent* event)
{
    PdPlayer::setAudioTracing(tracingBefore_);
    QDialog::hideEvent(event);
}
