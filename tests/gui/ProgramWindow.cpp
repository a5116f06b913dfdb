#include "ProgramWindow.h"

#include "ProgramRun.h"

#include <QtTest>

namespace {

// The lines of output written so far, without one still being written.
QList<QByteArray> completeLines(const QByteArray& output)
{
    return output.left(std::max(0, output.lastIndexOf('\n'))).split('\n');
}

// The last complete probe report in output, and where each ball was dumped last.
WindowReport parse(const QByteArray& output)
{
    WindowReport done, current;
    QHash<QByteArray, QPoint> balls;
    for (const QByteArray& line : completeLines(output)) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 4 && fields.at(0) == "ball")
            balls.insert(fields.at(1), QPoint(fields.at(2).toInt(), fields.at(3).toInt()));
        if (line == "probe end" && current.window.isValid())
            done = current;
        if (fields.size() < 7 || fields.at(0) != "probe")
            continue;
        const QRect rect(fields.at(3).toInt(), fields.at(4).toInt(), fields.at(5).toInt(),
                         fields.at(6).toInt());
        if (fields.at(1) == "window") {
            current = WindowReport();
            current.window = rect;
        } else if (fields.at(1) == "widget") {
            WindowReport::Widget& widget = current.widgets[fields.at(2)];
            widget.rect = rect;
            for (const QByteArray& pair : fields.mid(7))
                widget.values.insert(
                    pair.left(pair.indexOf('=')),
                    QByteArray::fromPercentEncoding(pair.mid(pair.indexOf('=') + 1)));
        }
    }
    for (auto it = balls.cbegin(); it != balls.cend(); ++it)
        done.balls.insert(it.key(), it.value() + done.window.topLeft());
    return done;
}

} // namespace

ProgramWindow::ProgramWindow(ProgramRun& run) : run_(run)
{
    run.environment().insert("QT_QPA_PLATFORM", "xcb");
    run.environment().insert("QT_PLUGIN_PATH", LATTICE_WINDOW_PROBE_DIR);
    run.environment().insert("QT_QPA_GENERIC_PLUGINS", "latticewindowprobe");
    run.environment().insert("LATTICE_DUMP_BALLS", "1");
}

QString ProgramWindow::unavailableReason(const QStringList& tools)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return "needs an X display; run through scripts/xvfb-test-display.sh";
    if (!QFileInfo::exists(LATTICE_WINDOW_PROBE_DIR "/generic"))
        return "the window probe is not built";
    for (const QString& tool : QStringList{"xdotool", "xwininfo"} + tools)
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return tool + " is not installed";
    return QString();
}

WindowReport ProgramWindow::report()
{
    return parse(run_.standardError());
}

bool ProgramWindow::waitFor(const std::function<bool(const WindowReport&)>& done, int timeoutMs)
{
    const auto shown = [&] {
        const WindowReport latest = report();
        return !run_.isRunning() || (latest.window.isValid() && done(latest) &&
                                     placedAt() == latest.window.topLeft());
    };
    return QTest::qWaitFor(shown, timeoutMs) && run_.isRunning();
}

std::vector<qint64> ProgramWindow::times(const QByteArray& prefix)
{
    std::vector<qint64> times;
    for (const QByteArray& line : completeLines(run_.standardError()))
        if (line.startsWith(prefix))
            times.push_back(line.mid(prefix.size()).toLongLong());
    return times;
}

bool ProgramWindow::popupShown()
{
    const QByteArray output = run_.standardError();
    return output.lastIndexOf("probe popup 1\n") > output.lastIndexOf("probe popup 0\n");
}

QByteArray ProgramWindow::output(const QStringList& xdotoolArguments)
{
    QProcess process;
    process.start("xdotool", xdotoolArguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return QByteArray();
    const QByteArray output = process.readAllStandardOutput();
    return output.isNull() ? QByteArray("") : output;
}

bool ProgramWindow::click(QPoint at, int button, int times)
{
    // Without --sync, which waits for a motion that never comes when the
    // pointer is already there; the press still follows the move.
    return xdotool({"mousemove", QString::number(at.x()), QString::number(at.y()), "click",
                    "--repeat", QString::number(times), QString::number(button)});
}

QByteArray ProgramWindow::windowId()
{
    const QString pid = QString::number(run_.processId());
    const QByteArray found =
        output({"search", "--onlyvisible", "--pid", pid, "--name", "^Elsted Tuning Lattice$"});
    return found.split('\n').value(0).trimmed();
}

QPoint ProgramWindow::placedAt()
{
    const QString window = windowId();
    if (window.isEmpty())
        return QPoint(-1, -1);
    // xwininfo's absolute position is the client area's; xdotool's
    // getwindowgeometry adds the frame's offset once more.
    QProcess process;
    process.start("xwininfo", {"-id", window});
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return QPoint(-1, -1);
    const QByteArray info = process.readAllStandardOutput();
    const auto field = [&info](const QByteArray& name) {
        const int from = info.indexOf(name);
        bool ok = false;
        const int value =
            from < 0 ? 0 : info.mid(from + name.size(), 12).split('\n').value(0).trimmed().toInt(&ok);
        return ok ? value : -1;
    };
    const QPoint at(field("Absolute upper-left X:"), field("Absolute upper-left Y:"));
    return at.x() >= 0 && at.y() >= 0 ? at : QPoint(-1, -1);
}

bool ProgramWindow::moveAndResize(QPoint position, QSize size)
{
    const QString window = windowId();
    return !window.isEmpty() &&
           xdotool({"windowmove", "--sync", window, QString::number(position.x()),
                    QString::number(position.y()), "windowsize", "--sync", window,
                    QString::number(size.width()), QString::number(size.height())});
}

bool ProgramWindow::close()
{
    const QString window = windowId();
    return !window.isEmpty() &&
           xdotool({"windowactivate", "--sync", window, "key", "--clearmodifiers", "alt+F4"}) &&
           QTest::qWaitFor([this] { return windowId().isEmpty(); }, 10000);
}
