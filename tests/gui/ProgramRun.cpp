#include "ProgramRun.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
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

QString ProgramRun::defaultProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/tuning-lattice");
}

QString ProgramRun::dataDirectory() const
{
    return environment_.value(QStringLiteral("XDG_DATA_HOME")) + QLatin1Char('/') +
           applicationName();
}

bool ProgramRun::writeDataFile(const QString& name, const QByteArray& contents) const
{
    QDir().mkpath(dataDirectory());
    QFile file(dataDirectory() + QLatin1Char('/') + name);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

QByteArray ProgramRun::dataFile(const QString& name) const
{
    QFile file(dataDirectory() + QLatin1Char('/') + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject ProgramRun::options() const
{
    return QJsonDocument::fromJson(dataFile(QStringLiteral("options.json"))).object();
}

void ProgramRun::start()
{
    process_.setProcessEnvironment(environment_);
    process_.setProgram(program_);
    process_.start();
}

void ProgramRun::collectError()
{
    standardError_ += process_.readAllStandardError();
}

QByteArray ProgramRun::standardError()
{
    collectError();
    return standardError_;
}

bool ProgramRun::sawMark(const char* name)
{
    return standardError().contains(QByteArray("startup-trace ") + name + ' ');
}

bool ProgramRun::waitForError(const QByteArray& text, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!standardError().contains(text)) {
        if (!isRunning() || deadline.hasExpired())
            return standardError().contains(text);
        process_.waitForReadyRead(100);
    }
    return true;
}

bool ProgramRun::waitForEventLoop(int timeoutMs)
{
    return waitForError("startup-trace event-loop ", timeoutMs);
}

bool ProgramRun::waitForExit(int timeoutMs)
{
    const bool ended =
        process_.state() == QProcess::NotRunning || process_.waitForFinished(timeoutMs);
    collectError();
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
    if (!file.open(QIODevice::ReadOnly))
        return texts;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (!line.isEmpty())
            texts.append(QJsonDocument::fromJson(line).array().at(0).toString());
    return texts;
}

bool ProgramRun::pollUntil(const std::function<bool()>& done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired() || !isRunning())
            return done();
        process_.waitForReadyRead(50);
        collectError();
    }
    return true;
}

bool ProgramRun::waitForMessages(int count, int timeoutMs)
{
    return pollUntil([&] { return messages().size() >= count; }, timeoutMs);
}

bool ProgramRun::waitForLog(const QByteArray& text, int timeoutMs)
{
    return pollUntil([&] { return dataFile(QStringLiteral("log.txt")).contains(text); }, timeoutMs);
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
