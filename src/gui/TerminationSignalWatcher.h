#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the GUI thread, so
// that a session logout, Ctrl+C in a terminal or `kill` end the program
// through its orderly shutdown (options.json saved, audio closed) instead of
// killing it on the spot.
//
// The POSIX handler only writes the signal's number into one end of a socket
// pair, which is all that is safe inside a signal handler; a socket notifier
// on the other end emits terminationRequested() from the event loop. The
// handler also restores the default action, so a second signal during a
// shutdown that hangs ends the program at once.
//
// One instance at a time (the handlers are process-wide). Constructed,
// used and destroyed on the GUI thread; the handler runs on whichever thread
// the kernel picks. On platforms without POSIX signals it does nothing.
class TerminationSignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignalWatcher(QObject* parent = nullptr);
    // Restores the default actions and closes the socket pair.
    ~TerminationSignalWatcher() override;

    // False when the socket pair could not be made; the signals then keep
    // their default actions.
    bool isWatching() const { return notifier_ != nullptr; }

signals:
    // Emitted once per signal received, from the event loop.
    void terminationRequested(int signalNumber);

private slots:
    void onReadable();

private:
    QSocketNotifier* notifier_ = nullptr;
};
