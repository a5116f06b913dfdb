#pragma once

#include <QByteArray>
#include <QHash>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class ProgramRun;

// What the window probe (tests/gui/probe) last reported about the program's
// main window, with the ball positions of the lattice view's latest dump
// (LATTICE_DUMP_BALLS), all in screen pixels.
struct WindowReport
{
    struct Widget
    {
        QRect rect;
        QHash<QByteArray, QByteArray> values; // value=, handle=, checked=, current=, page=
    };

    QRect window; // the client area; invalid before the first report
    QHash<QByteArray, Widget> widgets;
    QHash<QByteArray, QPoint> balls;

    bool shows(const QByteArray& name) const { return widgets.contains(name); }
    QPoint centre(const QByteArray& name) const { return widgets.value(name).rect.center(); }
    QByteArray value(const QByteArray& name, const QByteArray& key) const
    {
        return widgets.value(name).values.value(key);
    }
    // The centre of a slider's handle.
    QPoint handle(const QByteArray& name) const;
};

// The main window of a ProgramRun on the test's X display, used the way a
// user uses it: clicks, drags and keys go through the X server (xdotool),
// and what the window shows is read back from the probe's reports. Needs an
// X display with a window manager (scripts/xvfb-test-display.sh --wm).
//
// Test thread only; the waits process the thread's events, so the run's
// output keeps being collected.
class ProgramWindow
{
public:
    // Loads the probe and the ball dump into run, which must not have
    // started yet.
    explicit ProgramWindow(ProgramRun& run);

    // Why window tests cannot run here (no probe built, no xdotool); empty
    // when they can.
    // Why the window cannot be driven here (no display, no xdotool, no
    // probe, or one of `tools` missing); empty when it can.
    static QString unavailableReason(const QStringList& tools = {});

    WindowReport report();
    // Waits, bounded, for a report in which done holds; false on timeout or
    // when the program ends.
    bool waitFor(const std::function<bool(const WindowReport&)>& done, int timeoutMs = 15000);
    // When the first frame was painted (CLOCK_MONOTONIC nanoseconds); 0 while
    // not yet.
    qint64 firstFrameNanoseconds();

    // Whether a popup (a combo box's list) is open, by the last word of the
    // probe.
    bool popupShown();
    // When the program received each key or mouse button press so far
    // (CLOCK_MONOTONIC nanoseconds), in order.
    std::vector<qint64> inputTimes();

    bool click(QPoint at);
    // Presses the left button at from, moves to to, releases.
    bool drag(QPoint from, QPoint to);
    // Key names as xdotool knows them ("Up", "Return", "alt+F4"), to the
    // window with the keyboard focus.
    bool key(const QString& keys);
    // xdotool commands chained in one call, so that their events reach the
    // X server back to back.
    static bool xdotool(const QStringList& commands);
    // Moves and resizes the window through the window manager, as a user's
    // drags of its frame would.
    bool moveAndResize(QPoint position, QSize size);
    // Asks the window manager to close the window (Alt+F4, which sends
    // WM_DELETE_WINDOW: what the close button does); true once it is gone.
    bool close();

private:
    QByteArray windowId();

    ProgramRun& run_;
};
