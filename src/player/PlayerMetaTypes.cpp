#include "PlayerMetaTypes.h"

#include "LatticePath.h"
#include "LatticeRatio.h"

#include <QList>
#include <QMetaType>

void registerPlayerMetaTypes()
{
    qRegisterMetaType<LatticeRatio>("LatticeRatio");
    qRegisterMetaType<LatticePath>("LatticePath");
    qRegisterMetaType<QList<float>>("QList<float>");
}
