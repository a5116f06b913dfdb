#pragma once

#include "TestFiles.h"

#include <QtCore>
#include <functional>
#include <signal.h>

// One run of the real program as a process of its own, all it writes kept in a temporary
// folder: its data folder, and its message boxes, which LATTICE_MESSAGE_LOG turns into
// lines of a file instead of boxes that would wait for a click. Test thread only.
class ProgramRun
{
public:
    explicit ProgramRun(const QString& program = QCoreApplication::applicationDirPath() +
                                                 "/tuning-lattice");
    ~ProgramRun() // kills a program still running
    {
        process_.kill(); // nothing when it has ended
        process_.waitForFinished(5000);
    }

    static int freeUdpPort();
    // Plays tag to port with `lattice-tool wand`; empty when that worked.
    static QByteArray wand(const char* tag, int port);

    QString folder() const { return folder_.path(); }
    QString dataDirectory() const
    {
        return environment_.value("XDG_DATA_HOME") + "/Elsted Tuning Lattice";
    }
    QProcessEnvironment& environment() { return environment_; }
    bool writeDataFile(const QString& name, const QByteArray& contents) const
    {
        return putFile(dataDirectory() + '/' + name, contents);
    }
    QByteArray dataFile(const QString& name) const // empty when missing
    {
        return readFile(dataDirectory() + '/' + name);
    }
    QJsonObject options() const // empty when missing or invalid
    {
        return QJsonDocument::fromJson(dataFile("options.json")).object();
    }

    void start()
    {
        process_.setProcessEnvironment(environment_);
        process_.start(program_, {});
    }
    // Polls done for up to 30 s while the output keeps being collected;
    // false on timeout or once the program has ended without done holding.
    bool waitUntil(const std::function<bool()>& done);
    bool waitForEventLoop()
    {
        return waitUntil([this] { return standardError().contains("startup-trace event-loop "); });
    }
    bool waitForExit(); // bounded, 30 s
    bool sendSignal(int signalNumber) const
    {
        return isRunning() && ::kill(pid_t(process_.processId()), signalNumber) == 0;
    }
    bool isRunning() const { return process_.state() != QProcess::NotRunning; }
    int exitStatus() const // of a normal exit; -1 after a crash or a kill
    {
        const bool normal = !isRunning() && process_.exitStatus() == QProcess::NormalExit;
        return normal ? process_.exitCode() : -1;
    }
    qint64 processId() const { return process_.processId(); }
    QByteArray standardError() { return standardError_ += process_.readAllStandardError(); }
    QStringList messages() const; // the message boxes shown so far

private:
    QTemporaryDir folder_;
    QString program_;
    QProcessEnvironment environment_;
    QProcess process_;
    QByteArray standardError_;
};
