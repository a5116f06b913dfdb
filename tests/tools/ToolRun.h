#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// Runs the built lattice-tool as a user would: one command, its arguments,
// what it prints and how it exits. Test thread.
struct ToolRun
{
    int exitCode;
    QString out, err;
};

inline ToolRun runTool(const QString& command, const QStringList& arguments,
                       const QString& workingDirectory = QString())
{
    QProcess process;
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    process.start(QStringLiteral(LATTICE_TOOL_PATH), QStringList{command} + arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return {-1, QString(), QStringLiteral("did not finish normally")};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}
