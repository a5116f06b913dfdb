#pragma once

#include <QString>

// The folder of the programs' read-only data: the style sheets, the note
// glyphs and "patches".
namespace ResourceLocation {

// The first folder that holds a "patches" folder, of: the executable's own
// (the build tree), <executable>/../share/tuning-lattice (an installed tree,
// wherever it was moved to); else the data folder of the prefix the build
// was configured for. Needs the application object.
QString directory();

// The same choice for a given executable folder and configured data folder.
QString directory(const QString& executableFolder, const QString& configuredFolder);

} // namespace ResourceLocation
