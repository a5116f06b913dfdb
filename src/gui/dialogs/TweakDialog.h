#pragma once

#include <QDialog>
#include <QList>
#include <QPair>
#include <QString>

class MainWindow;
class QSignalMapper;
class QSpinBox;
class QVBoxLayout;

// A tuning aid for whoever lays out the lattice drawing: one spin box per
// layout constant. A change is written into its constant at once, but the
// drawing follows only when "Update" has the main window rebuild the lattice
// (which also stops every sounding note). The main window builds it hidden
// and opens it with Ctrl+T.
//
// GUI thread only.
class TweakDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TweakDialog(MainWindow* mainWindow);

    // Adds a row for the constant at value, below the rows added before and
    // above "Update". The spin box runs from -1000 to 1000 and starts at the
    // constant's value; value must outlive the dialog.
    void addTweak(const QString& name, int* value);

public slots:
    // The constant of row index takes its spin box's value.
    void valueChanged(int index);
    // Rebuilds the lattice drawing with the constants as they are now.
    void updateTweaks();

private:
    QVBoxLayout* rowsLayout;
    QSignalMapper* signalMapper;
    QList<QPair<QSpinBox*, int*>> tweaks;
    MainWindow* mainWindow;
};
