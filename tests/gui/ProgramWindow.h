#pragma once

#include <QtCore>
#include <functional>
#include <vector>

class ProgramRun;

// The window probe's (probe/WindowProbe.cpp) last report and where the ball
// dumps (LATTICE_DUMP_BALLS) placed each ball last, in screen pixels.
struct WindowReport
{
    struct Widget
    {
        QRect rect;
        QHash<QByteArray, QByteArray> values; // value=, checked=, current=, page=
    };

    QRect window; // the client area; invalid before the first report
    QHash<QByteArray, Widget> widgets;
    QHash<QByteArray, QPoint> balls;

    QPoint centre(const QByteArray& name) const { return widgets.value(name).rect.center(); }
    QByteArray value(const QByteArray& name, const QByteArray& key) const
    {
        return widgets.value(name).values.value(key);
    }
};

// The main window of a ProgramRun used as a user uses it: input goes through
// the X server (xdotool), what it shows comes back from the probe. Needs an X
// display with a window manager (scripts/xvfb-test-display.sh --wm). Test
// thread only; the waits keep collecting the run's output.
class ProgramWindow
{
public:
    // Loads the probe and the ball dump into run, not started yet.
    explicit ProgramWindow(ProgramRun& run);
    // Why the window cannot be driven here (no display, xdotool or probe, or
    // one of tools missing); empty when it can.
    static QString unavailableReason(const QStringList& tools = {});

    WindowReport report();
    // Bounded; false on timeout or when the program ends. A report counts
    // only once the X server has the window where the report says: a slow
    // program reports its first frame before the window manager has placed
    // the window, and a click at those places would miss.
    bool waitFor(const std::function<bool(const WindowReport&)>& done, int timeoutMs = 15000);
    qint64 firstFrameNanoseconds() // CLOCK_MONOTONIC; 0 before the first paint
    {
        const std::vector<qint64> frames = times("probe first-frame ");
        return frames.empty() ? 0 : frames.front();
    }
    bool popupShown(); // a combo box's list is open
    // Each key or button press, CLOCK_MONOTONIC.
    std::vector<qint64> inputTimes() { return times("probe input "); }

    // Buttons 4 and 5 turn the wheel up and down a notch.
    bool click(QPoint at, int button = 1, int times = 1);
    // Commands chained in one call, so that their events arrive back to back.
    static bool xdotool(const QStringList& commands) { return !output(commands).isNull(); }
    bool moveAndResize(QPoint position, QSize size); // through the window manager
    // Alt+F4: WM_DELETE_WINDOW, as the close button; true once it is gone.
    bool close();

private:
    static QByteArray output(const QStringList& xdotoolArguments); // null on failure
    QByteArray windowId();
    QPoint placedAt(); // the client area's top left on the X server; (-1, -1) unknown
    std::vector<qint64> times(const QByteArray& prefix); // of "probe KIND NANOSECONDS" lines

    ProgramRun& run_;
};
