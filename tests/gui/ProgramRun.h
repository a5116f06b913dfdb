#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>

// One run of the real program, started as a process of its own the way a
// user starts it, with everything it writes kept in a temporary folder: its
// data folder (XDG_DATA_HOME and HOME point there), and the texts of its
// message boxes, which LATTICE_MESSAGE_LOG turns into lines of a file instead
// of boxes that would wait for a click. Start-up marks (LATTICE_STARTUP_TRACE)
// tell when the event loop runs.
//
// Test thread only.
class ProgramRun
{
public:
    explicit ProgramRun(const QString& program = defaultProgram());
    // Kills a program still running.
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    // tuning-lattice beside the test executable.
    static QString defaultProgram();
    // A UDP port nobody uses right now.
    static int freeUdpPort();
    // Plays tag to port with `lattice-tool wand`; empty when that worked,
    // else why not.
    static QByteArray wand(const char* tag, int port);
    static QString applicationName() { return QStringLiteral("Elsted Tuning Lattice"); }

    QString folder() const { return folder_.path(); }
    // The per-user data folder the program uses, not created until needed.
    QString dataDirectory() const;
    QProcessEnvironment& environment() { return environment_; }

    // Writes a file into the data folder, creating the folder.
    bool writeDataFile(const QString& name, const QByteArray& contents) const;
    QByteArray dataFile(const QString& name) const;
    // options.json parsed; empty when it is missing or invalid.
    QJsonObject options() const;

    void start();
    // True once the event loop runs; false when the program ended first or
    // did not get there within the time.
    bool waitForEventLoop(int timeoutMs = 30000);
    // True once standard error holds text.
    bool waitForError(const QByteArray& text, int timeoutMs = 30000);
    bool waitForExit(int timeoutMs = 30000);
    bool sendSignal(int signalNumber) const;
    bool isRunning() const { return process_.state() != QProcess::NotRunning; }
    // Status of a program that ended by itself (not by a crash or a kill);
    // -1 otherwise.
    int exitStatus() const;
    qint64 processId() const { return process_.processId(); }

    // Everything on standard error so far.
    QByteArray standardError();
    bool sawMark(const char* name);
    // The message boxes shown so far, in order.
    QStringList messages() const;
    // True once at least count message boxes have been shown.
    bool waitForMessages(int count, int timeoutMs = 30000);
    // True once log.txt in the data folder holds text.
    bool waitForLog(const QByteArray& text, int timeoutMs = 30000);

private:
    void collectError();
    // Files give no signal when they change: poll, bounded, while the
    // program's output keeps being collected.
    bool pollUntil(const std::function<bool()>& done, int timeoutMs);

    QTemporaryDir folder_;
    QString program_;
    QProcessEnvironment environment_;
    QProcess process_;
    QByteArray standardError_;
};
