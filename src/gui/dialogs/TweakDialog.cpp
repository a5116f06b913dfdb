#include "TweakDialog.h"

#include "MainWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalMapper>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

// Wide enough for any length, angle or percentage the drawing uses.
constexpr int tweakMinimum = -1000;
constexpr int tweakMaximum = 1000;

} // namespace

TweakDialog::TweakDialog(MainWindow* mainWindow)
    : QDialog(mainWindow), rowsLayout(new QVBoxLayout(this)), signalMapper(new QSignalMapper(this)),
      mainWindow(mainWindow)
{
    auto* updateButton = new QPushButton(tr("Update"), this);
    rowsLayout->addWidget(updateButton);
    connect(updateButton, &QPushButton::clicked, this, &TweakDialog::updateTweaks);
    setWindowTitle(tr("Tweak Dialog"));
    connect(signalMapper, &QSignalMapper::mappedInt, this, &TweakDialog::valueChanged);
}

void TweakDialog::addTweak(const QString& name, int* value)
{
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(name, this));
    auto* spinBox = new QSpinBox(this);
    spinBox->setObjectName(name);
    spinBox->setRange(tweakMinimum, tweakMaximum);
    spinBox->setValue(*value);
    row->addWidget(spinBox);
    // Before the last item, the "Update" button, so rows keep their order.
    rowsLayout->insertLayout(rowsLayout->count() - 1, row);

    tweaks.append(qMakePair(spinBox, value));
    signalMapper->setMapping(spinBox, tweaks.size() - 1);
    connect(spinBox, qOverload<int>(&QSpinBox::valueChanged), signalMapper,
            qOverload<>(&QSignalMapper::map));
}

void TweakDialog::valueChanged(int index)
{
    if (index < 0 || index >= tweaks.size())
        return;
    *tweaks.at(index).second = tweaks.at(index).first->value();
}

void TweakDialog::updateTweaks()
{
    mainWindow->reloadLattice();
}
