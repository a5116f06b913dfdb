#pragma once

#include "Lattice.h"
#include "MidiInput.h"
#include "MidiMap.h"
#include "MidiOutput.h"
#include "OscInput.h"
#include "OscOutput.h"
#include "PaAudioOutput.h"
#include "PdPlayer.h"
#include "PerformanceRecorder.h"
#include "Settings.h"
#include "UdpListener.h"

#include <QApplication>
#include <QFile>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

class MainWindow;
class TerminationSignalWatcher;

// The program's application object: it owns every long-lived part of the
// instrument and runs the three phases of a run: init(), the event loop and
// shutdown(). Exactly one exists, on the stack of main(); the rest of the
// program reaches the shared objects through instance() and the accessors.
//
// It also owns the logging of the whole program: a process-wide message
// handler that appends warnings and failures to log.txt in the data folder
// and feeds the diagnostics channel (diagnosticMessage) with the records of
// the source files named on the command line.
//
// Threads: everything runs on the GUI thread, except the message handler,
// which runs on whichever thread logs (GUI, audio callback, UDP listener);
// the log file is guarded by logMutex_ and the signal needs no lock.
class TuningLatticeApplication : public QApplication
{
    Q_OBJECT

public:
    // Shows one message to the user and returns once it has been seen.
    using MessageReporter = std::function<void(const QString& text)>;

    // Reads the command line's filter words (the toolkit has taken its own
    // options by then), sets the application name and starts watching for
    // termination signals.
    TuningLatticeApplication(int& argc, char** argv);
    // Deletes the main window and uninstalls the message handler; the members
    // go in reverse order, the log file closing with its member.
    ~TuningLatticeApplication() override;

    // The running application, or null before its construction.
    static TuningLatticeApplication* instance();

    // The start-up sequence. False when a fatal failure has been shown to
    // the user: the caller then exits with status 1 without running the
    // event loop or shutdown().
    bool init();
    // The shutdown sequence, run once after the event loop has returned.
    void shutdown();
    QString version() const;

    Lattice& lattice() { return lattice_; }
    UdpListener& udpListener() { return udpListener_; }
    PdPlayer& player() { return player_; }
    PaAudioOutput& audioOutput() { return audioOutput_; }
    Settings& settings() { return settings_; }
    MidiInput& midiInput() { return midiInput_; }
    MidiOutput& midiOutput() { return midiOutput_; }
    // Opens the keyboard input and the output to other synthesizers as the
    // options say, closing what was open; again whenever they change.
    void startMidi();
    // Reads midi_map.json again (the keyboard input pauses meanwhile).
    bool reloadMidiMap();
    OscInput& oscInput() { return oscInput_; }
    OscOutput& oscOutput() { return oscOutput_; }
    // Opens OSC in and out as the options say, closing what was open; again
    // whenever they change. False (with the reason) when the port or
    // address cannot be had: OSC is off then.
    bool startOsc(QString* why = nullptr);
    // A take of what is heard into the data folder's "Recordings"; a
    // failure is shown. The window's record button follows.
    bool startRecording();
    void stopRecording();
    PerformanceRecorder& recorder() { return recorder_; }
    // Starts the wand's listener again with the options as they are now,
    // when it runs.
    void restartUdpListener();
    // Null until init() has created the window.
    MainWindow* mainWindow() const { return mainWindow_; }

    // The per-user folder of options.json, lattice.json, rfid_map.json,
    // log.txt and the runtime patch folder.
    static QString dataDirectory();
    // The folder of style.qss, style_win.qss and "patches": the one
    // ResourceLocation finds unless a test has pointed it elsewhere.
    QString resourceDirectory() const { return resourceDirectory_; }
    void setResourceDirectory(const QString& path) { resourceDirectory_ = path; }

    // Reads style.qss and then style_win.qss, each as Latin-1 up to its first
    // zero byte, and applies the two joined as the application's style sheet.
    // On failure logs a critical record, returns false and leaves the sheet
    // in force as it was.
    bool loadStyleSheet();
    // Brings target up to date with source: a target created no earlier than
    // the source is kept, an older one is replaced. Failures are logged.
    static bool copyFile(const QString& source, const QString& target);
    // Creates the runtime patch folder and copies the five shell patches into
    // it. Every copy is attempted; true only when all of them succeeded.
    bool initPatchDirectory();

    // The words that select source files for the diagnostics channel: every
    // argument with one leading "-" dropped, lower-cased. So "-PdPlayer"
    // gives pdplayer and "--all" gives -all.
    static QSet<QString> diagnosticFilterWords(const QStringList& arguments);
    // Replaces the words taken from the command line.
    void setDiagnosticFilters(const QSet<QString>& words) { diagnosticFilters_ = words; }

    // Shows a critical message box with no parent, the application name as
    // title and one OK button, unless a test has set another reporter or the
    // environment variable LATTICE_MESSAGE_LOG names a file, to which the
    // text is then appended as a one-line JSON string instead (for unattended
    // runs, where a modal box would wait for ever).
    void showCriticalMessage(const QString& text) const;
    void setMessageReporter(MessageReporter reporter) { messageReporter_ = std::move(reporter); }

    // Opens log.txt in the data folder for appending, installs the message
    // handler and writes the run header; start-up step 6. When the file does
    // not open, logs that through the toolkit's default output and returns
    // false: no handler is installed then.
    bool openLog();
    // log.txt grows by every run; at this size it becomes log.txt.1 (the
    // one before is dropped) and a new log.txt begins, at start-up or
    // before the record that would pass it.
    static constexpr qint64 logRotateBytes = 10 * 1024 * 1024;
    // Restores the toolkit's default output if the handler is installed.
    void uninstallMessageHandler();

signals:
    // One line "[hh:mm:ss.zzz]  message" per record that passes the filter
    // words. Emitted on the thread that logged.
    void diagnosticMessage(const QString& message);

public slots:
    // Shows the controller failure; the program goes on, played on screen.
    void onUdpFatalError(QString error);

private slots:
    void onTerminationRequested(int signalNumber);
    void onRecordingFinished(const QString& wavPath, const QString& error);

private:
    static void messageHandler(QtMsgType type, const QMessageLogContext& context,
                               const QString& message);
    void handleRecord(QtMsgType type, const QMessageLogContext& context, const QString& message);
    void writeRunHeader();

    static void registerMetaTypes();
    bool fail(const QString& text);
    bool openAudioOutput();
    void restoreWindowGeometry();
    void applySavedSettings();
    void startUdpListener();
    void connectOsc();
    void storeWindowState();

    // The members the rest of the program reaches, in the order in which
    // they are built (and destroyed in reverse).
    MainWindow* mainWindow_ = nullptr;
    Lattice lattice_;
    UdpListener udpListener_;
    PdPlayer player_;
    PaAudioOutput audioOutput_;
    Settings settings_;
    MidiMap midiMap_;
    MidiInput midiInput_{&player_, &midiMap_};
    MidiOutput midiOutput_{&player_};
    OscOutput oscOutput_{&player_};
    OscInput oscInput_{&player_, &oscOutput_};
    PerformanceRecorder recorder_{&player_};
    QSet<QString> diagnosticFilters_;
    QFile logFile_;
    QMutex logMutex_;
    // Moves a full log aside; the caller holds logMutex_ or runs alone.
    void rotateLogIfFull();

    QString resourceDirectory_;
    MessageReporter messageReporter_;
    TerminationSignalWatcher* terminationWatcher_ = nullptr;
    bool handlerInstalled_ = false;
    // Set when a termination signal was seen while a nested event loop ran
    // during init(): that loop's quit does not reach the main loop.
    bool terminationRequested_ = false;
};
