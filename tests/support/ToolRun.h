#pragma once

#include <QCoreApplication>
#include <QProcess>

// A run of the built lattice-tool, in folder if one is given: its exit status (-1 when it
// did not end normally within a minute), what it printed and what it reported.
struct ToolRun
{
    int exitCode;
    QString out, err;
};

inline ToolRun runTool(const QStringList& arguments, const QString& folder = QString())
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(QCoreApplication::applicationDirPath() + "/lattice-tool", arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return {-1, QString(), QStringLiteral("did not finish normally")};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}
