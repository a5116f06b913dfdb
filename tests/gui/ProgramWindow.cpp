#include "ProgramWindow.h"

#include "ProgramRun.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

namespace {

QString xdotoolPath()
{
    return QStandardPaths::findExecutable(QStringLiteral("xdotool"));
}

// Runs xdotool to the end; its standard output, or a null array on failure.
QByteArray runXdotool(const QStringList& arguments)
{
    QProcess process;
    process.start(xdotoolPath(), arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return QByteArray();
    const QByteArray output = process.readAllStandardOutput();
    return output.isNull() ? QByteArray("") : output;
}

QString number(int value)
{
    return QString::number(value);
}

QPoint pointFrom(const QByteArray& text)
{
    const QList<QByteArray> parts = text.split(',');
    return parts.size() == 2 ? QPoint(parts.at(0).toInt(), parts.at(1).toInt()) : QPoint();
}

QRect rectFrom(const QList<QByteArray>& fields, int first)
{
    return QRect(fields.at(first).toInt(), fields.at(first + 1).toInt(),
                 fields.at(first + 2).toInt(), fields.at(first + 3).toInt());
}

// The last complete probe report in the output, and the last block of ball
// lines (a ball line after any other line starts a new block).
WindowReport parse(const QByteArray& output)
{
    WindowReport done, current;
    QHash<QByteArray, QPoint> balls, block;
    bool inBallBlock = false;
    for (const QByteArray& line : output.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const bool ball = fields.size() == 4 && fields.at(0) == "ball";
        if (ball) {
            if (!inBallBlock)
                block.clear();
            block.insert(fields.at(1), QPoint(fields.at(2).toInt(), fields.at(3).toInt()));
            balls = block;
        }
        inBallBlock = ball;
        if (fields.size() < 2 || fields.at(0) != "probe")
            continue;
        if (fields.at(1) == "window" && fields.size() == 7) {
            current = WindowReport();
            current.window = rectFrom(fields, 3);
        } else if (fields.at(1) == "widget" && fields.size() >= 7) {
            WindowReport::Widget widget;
            widget.rect = rectFrom(fields, 3);
            for (int i = 7; i < fields.size(); ++i) {
                const int equals = fields.at(i).indexOf('=');
                widget.values.insert(fields.at(i).left(equals),
                                     QByteArray::fromPercentEncoding(fields.at(i).mid(equals + 1)));
            }
            current.widgets.insert(fields.at(2), widget);
        } else if (fields.at(1) == "end" && current.window.isValid()) {
            done = current;
        }
    }
    for (auto it = balls.cbegin(); it != balls.cend(); ++it)
        done.balls.insert(it.key(), it.value() + done.window.topLeft());
    return done;
}

} // namespace

QPoint WindowReport::handle(const QByteArray& name) const
{
    return pointFrom(value(name, "handle"));
}

ProgramWindow::ProgramWindow(ProgramRun& run) : run_(run)
{
    run.environment().insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    run.environment().insert(QStringLiteral("QT_PLUGIN_PATH"),
                             QStringLiteral(LATTICE_WINDOW_PROBE_DIR));
    run.environment().insert(QStringLiteral("QT_QPA_GENERIC_PLUGINS"),
                             QStringLiteral("latticewindowprobe"));
    run.environment().insert(QStringLiteral("LATTICE_DUMP_BALLS"), QStringLiteral("1"));
}

QString ProgramWindow::unavailableReason(const QStringList& tools)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return QStringLiteral("needs an X display; run through scripts/xvfb-test-display.sh");
    if (xdotoolPath().isEmpty())
        return QStringLiteral("xdotool is not installed");
    if (!QFileInfo::exists(QStringLiteral(LATTICE_WINDOW_PROBE_DIR "/generic")))
        return QStringLiteral("the window probe is not built");
    for (const QString& tool : tools)
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return QStringLiteral("%1 is not installed").arg(tool);
    return QString();
}

WindowReport ProgramWindow::report()
{
    return parse(run_.standardError());
}

bool ProgramWindow::waitFor(const std::function<bool(const WindowReport&)>& done, int timeoutMs)
{
    return QTest::qWaitFor(
               [&] {
                   const WindowReport latest = report();
                   return !run_.isRunning() || (latest.window.isValid() && done(latest));
               },
               timeoutMs) &&
           run_.isRunning();
}

qint64 ProgramWindow::firstFrameNanoseconds()
{
    const QByteArray output = run_.standardError();
    const int at = output.indexOf("probe first-frame ");
    if (at < 0)
        return 0;
    const int end = output.indexOf('\n', at);
    return end < 0 ? 0 : output.mid(at + 18, end - at - 18).toLongLong();
}

bool ProgramWindow::popupShown()
{
    const QByteArray output = run_.standardError();
    return output.lastIndexOf("probe popup 1\n") > output.lastIndexOf("probe popup 0\n");
}

std::vector<qint64> ProgramWindow::inputTimes()
{
    std::vector<qint64> times;
    for (const QByteArray& line : run_.standardError().split('\n'))
        if (line.startsWith("probe input "))
            times.push_back(line.mid(12).toLongLong());
    return times;
}

bool ProgramWindow::xdotool(const QStringList& commands)
{
    return !runXdotool(commands).isNull();
}

bool ProgramWindow::click(QPoint at)
{
    return !runXdotool({"mousemove", "--sync", number(at.x()), number(at.y()), "click", "1"})
                .isNull();
}

bool ProgramWindow::drag(QPoint from, QPoint to)
{
    // Two steps on the way, as a hand moves, so the slider follows.
    const QPoint middle = (from + to) / 2;
    return !runXdotool({"mousemove", "--sync", number(from.x()), number(from.y()), "mousedown", "1",
                        "mousemove", "--sync", number(middle.x()), number(middle.y()), "mousemove",
                        "--sync", number(to.x()), number(to.y()), "mouseup", "1"})
                .isNull();
}

bool ProgramWindow::key(const QString& keys)
{
    return !runXdotool({"key", "--clearmodifiers", keys}).isNull();
}

QByteArray ProgramWindow::windowId()
{
    const QByteArray found =
        runXdotool({"search", "--onlyvisible", "--pid", QString::number(run_.processId()), "--name",
                    "^" + ProgramRun::applicationName() + "$"});
    return found.split('\n').value(0).trimmed();
}

bool ProgramWindow::moveAndResize(QPoint position, QSize size)
{
    const QByteArray window = windowId();
    return !window.isEmpty() && !runXdotool({"windowmove", "--sync", window, number(position.x()),
                                             number(position.y()), "windowsize", "--sync", window,
                                             number(size.width()), number(size.height())})
                                     .isNull();
}

bool ProgramWindow::close()
{
    const QByteArray window = windowId();
    if (window.isEmpty() ||
        runXdotool({"windowactivate", "--sync", window, "key", "--clearmodifiers", "alt+F4"})
            .isNull())
        return false;
    return QTest::qWaitFor([this] { return windowId().isEmpty(); }, 10000);
}
