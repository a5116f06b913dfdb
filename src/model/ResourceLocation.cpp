#include "ResourceLocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

bool holdsData(const QString& folder)
{
    return QFileInfo(folder + QStringLiteral("/patches")).isDir();
}

} // namespace

namespace ResourceLocation {

QString directory()
{
    return directory(QCoreApplication::applicationDirPath(),
                     QStringLiteral(LATTICE_INSTALL_DATA_DIR));
}

QString directory(const QString& executableFolder, const QString& configuredFolder)
{
    if (holdsData(executableFolder))
        return executableFolder;
    const QString installed =
        QDir::cleanPath(executableFolder + QStringLiteral("/../share/tuning-lattice"));
    if (holdsData(installed))
        return installed;
    return configuredFolder;
}

} // namespace ResourceLocation
