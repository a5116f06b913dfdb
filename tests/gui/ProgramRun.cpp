#include "ProgramRun.h"
#include "ToolRun.h"

#include <QUdpSocket>

ProgramRun::ProgramRun(const QString& program)
    : program_(program), environment_(QProcessEnvironment::systemEnvironment())
{
    QDir(folder()).mkpath("home");
    environment_.insert("HOME", folder() + "/home");
    environment_.insert("XDG_DATA_HOME", folder() + "/data");
    environment_.insert("XDG_CONFIG_HOME", folder() + "/config");
    environment_.insert("LATTICE_MESSAGE_LOG", folder() + "/messages.jsonl");
    environment_.insert("LATTICE_STARTUP_TRACE", "1");
}

bool ProgramRun::waitUntil(const std::function<bool()>& done)
{
    const QDeadlineTimer deadline(30000);
    while (!done()) {
        if (deadline.hasExpired() || !isRunning())
            return done();
        process_.waitForReadyRead(50);
        standardError();
    }
    return true;
}

bool ProgramRun::waitForExit()
{
    const bool ended = !isRunning() || process_.waitForFinished(30000);
    standardError();
    return ended;
}

QStringList ProgramRun::messages() const
{
    QStringList texts;
    for (const QByteArray& line : readFile(folder() + "/messages.jsonl").split('\n'))
        if (!line.isEmpty())
            texts.append(QJsonDocument::fromJson(line).array().at(0).toString());
    return texts;
}

int ProgramRun::freeUdpPort()
{
    QUdpSocket socket;
    socket.bind(QHostAddress::LocalHost, 0);
    return socket.localPort();
}

QByteArray ProgramRun::wand(const char* tag, int port)
{
    const ToolRun tool = runTool({"wand", tag, "--port", QString::number(port)});
    return tool.exitCode == 0 ? QByteArray() : "failed: " + tool.err.toUtf8();
}
