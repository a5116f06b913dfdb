#pragma once

#include <QDialog>
#include <QString>
#include <memory>

namespace Ui {
class DiagnosticsDialog;
}

// A read-only log window for the people who support the instrument: it shows
// the diagnostic lines the application emits for the source files named on
// the command line. It keeps the latest historyLines lines it receives,
// also while hidden, so showing it again shows the recent history. Ctrl+9 in
// the main window shows and hides it; Close hides it. While it shows, the audio thread's
// debug traces are on (they cost the callback time and allocations, so
// they are off while nobody reads them).
//
// GUI thread. Lines logged on the audio or controller thread reach onMessage
// through the automatic connection, queued through the event loop.
class DiagnosticsDialog : public QDialog
{
    Q_OBJECT

public:
    static constexpr int historyLines = 5000;

    // Listens to the application's diagnosticMessage from now on.
    explicit DiagnosticsDialog(QWidget* parent = nullptr);
    ~DiagnosticsDialog() override;

public slots:
    // Appends message as a new paragraph of plain text.
    void onMessage(const QString& message);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::unique_ptr<Ui::DiagnosticsDialog> ui;
    // Whether the logging rules had the traces on before the dialog showed.
    bool tracingBefore_ = false;
};
