#pragma once

#include "BenchTiming.h"
#include "LatticePath.h"
#include "PdPlayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

// Helpers shared by the sound engine benchmarks. Main thread only.
namespace BenchSupport {

constexpr int sampleRate = 44100;
constexpr int blockFrames = 256;
// One 256-frame block at 44.1 kHz, in microseconds.
constexpr double blockBudgetUs = 1e6 * blockFrames / sampleRate;

inline double nowUs()
{
    using namespace std::chrono;
    return duration<double, std::micro>(steady_clock::now().time_since_epoch()).count();
}

// Benchmarks measure the engine, not the terminal: only critical records
// are printed.
inline void quietLogging()
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
}

inline QString patchesFolder()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/patches");
}

inline QStringList shippedVoices()
{
    QStringList voices;
    const QDir folder(patchesFolder());
    for (const QString& name : folder.entryList({QStringLiteral("*.pd")}, QDir::Files))
        voices.append(folder.filePath(name));
    return voices;
}

// Lays out a runtime patch folder as the program does; returns the main
// patch, or an empty string.
inline QString prepareRuntimeFolder(const QTemporaryDir& folder, const QString& voice)
{
    const QString shell = patchesFolder() + QStringLiteral("/shell/");
    for (const char* name : {"lattice_main.pd", "lattice_vprep.pd", "equal-loudness.pd",
                             "tb_compressor~.pd", "tb_compressorUI.pd"})
        if (!QFile::copy(shell + QLatin1String(name), folder.filePath(QLatin1String(name))))
            return QString();
    if (!QFile::copy(voice, folder.filePath(QStringLiteral("lattice_voice.pd"))))
        return QString();
    return folder.filePath(QStringLiteral("lattice_main.pd"));
}

// `count` (up to 270) distinct lattice paths of at most six steps, between
// about 65 Hz and 5 kHz over 440 Hz.
inline QList<LatticePath> distinctPaths(int count)
{
    QList<LatticePath> paths;
    for (int thirteen = 0; thirteen <= 1; ++thirteen)
        for (int eleven = -1; eleven <= 1; ++eleven)
            for (int seven = -1; seven <= 1; ++seven)
                for (int five = -1; five <= 1; ++five)
                    for (int three = -2; three <= 2; ++three) {
                        if (paths.size() == count)
                            return paths;
                        LatticePath path;
                        for (int i = 0; i < std::abs(three); ++i)
                            path.append(three > 0 ? 3 : -3);
                        for (int step : {five * 5, seven * 7, eleven * 11, thirteen * 13})
                            if (step != 0)
                                path.append(step);
                        paths.append(path);
                    }
    return paths;
}

} // namespace BenchSupport
