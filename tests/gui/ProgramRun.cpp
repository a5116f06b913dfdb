#include "ProgramRun.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QUdpSocket>
#include <signal.h>

ProgramRun::ProgramRun(const QString& program)
    : program_(program), environment_(QProcessEnvironment::systemEnvironment())
{
    QDir(folder()).mkpath(QStringLiteral("home"));
    environment_.insert(QStringLiteral("HOME"), folder() + QStringLiteral("/home"));
    environment_.insert(QStringLiteral("XDG_DATA_HOME"), folder() + QStringLiteral("/data"));
    environment_.insert(QStringLiteral("XDG_CONFIG_HOME"), folder() + QStringLiteral("/config"));
    environment_.insert(QStringLiteral("LATTICE_MESSAGE_LOG"),
                        folder() + QStringLiteral("/messages.jsonl"));
    environment_.insert(QStringLiteral("LATTICE_STARTUP_TRACE"), QStringLiteral("1"));
}

ProgramRun::~ProgramRun()
{
    if (isRunning()) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

bool ProgramRun::writeDataFile(const QString& name, const QByteArray& contents) const
{
    QDir().mkpath(dataDirectory());
    QFile file(dataDirectory() + '/' + name);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

QByteArray ProgramRun::dataFile(const QString& name) const
{
    QFile file(dataDirectory() + '/' + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void ProgramRun::start()
{
    process_.setProcessEnvironment(environment_);
    process_.start(program_, {});
}

bool ProgramRun::waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired() || !isRunning())
            return done();
        process_.waitForReadyRead(50);
        standardError();
    }
    return true;
}

bool ProgramRun::waitForExit(int timeoutMs)
{
    const bool ended = !isRunning() || process_.waitForFinished(timeoutMs);
    standardError();
    return ended;
}

bool ProgramRun::sendSignal(int signalNumber) const
{
    return isRunning() && ::kill(pid_t(process_.processId()), signalNumber) == 0;
}

int ProgramRun::exitStatus() const
{
    if (isRunning() || process_.exitStatus() != QProcess::NormalExit)
        return -1;
    return process_.exitCode();
}

QStringList ProgramRun::messages() const
{
    QFile file(folder() + QStringLiteral("/messages.jsonl"));
    QStringList texts;
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& line : file.readAll().split('\n'))
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
    QProcess tool;
    tool.start(QCoreApplication::applicationDirPath() + QStringLiteral("/lattice-tool"),
               {QStringLiteral("wand"), QLatin1String(tag), QStringLiteral("--port"),
                QString::number(port)});
    if (!tool.waitForFinished(10000))
        return "lattice-tool wand did not finish";
    return tool.exitCode() == 0 ? QByteArray() : "failed: " + tool.readAllStandardError();
}
