#include "ProgramWindow.h"

#include "ProgramRun.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

namespace {

// xdotool's standard output, or a null array on failure.
QByteArray runXdotool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStandardPaths::findExecutable(QStringLiteral("xdotool")), arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return QByteArray();
    const QByteArray output = process.readAllStandardOutput();
    return output.isNull() ? QByteArray("") : output;
}

QStringList moveTo(QPoint at)
{
    return {"mousemove", "--sync", QString::number(at.x()), QString::number(at.y())};
}

QRect rectFrom(const QList<QByteArray>& fields)
{
    return QRect(fields.at(3).toInt(), fields.at(4).toInt(), fields.at(5).toInt(),
                 fields.at(6).toInt());
}

// The last complete probe report in output, and the last block of ball lines.
WindowReport parse(const QByteArray& output)
{
    WindowReport done, current;
    QHash<QByteArray, QPoint> balls;
    bool inBallBlock = false;
    for (const QByteArray& line : output.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const bool ball = fields.size() == 4 && fields.at(0) == "ball";
        if (ball && !inBallBlock)
            balls.clear();
        if (ball)
            balls.insert(fields.at(1), QPoint(fields.at(2).toInt(), fields.at(3).toInt()));
        inBallBlock = ball;
        if (fields.size() < 2 || fields.at(0) != "probe")
            continue;
        if (fields.at(1) == "window" && fields.size() == 7) {
            current = WindowReport();
            current.window = rectFrom(fields);
        } else if (fields.at(1) == "widget" && fields.size() >= 7) {
            WindowReport::Widget widget{rectFrom(fields), {}};
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
    const QList<QByteArray> parts = value(name, "handle").split(',');
    return parts.size() == 2 ? QPoint(parts.at(0).toInt(), parts.at(1).toInt()) : QPoint();
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
    if (!QFileInfo::exists(QStringLiteral(LATTICE_WINDOW_PROBE_DIR "/generic")))
        return QStringLiteral("the window probe is not built");
    for (const QString& tool : QStringList{QStringLiteral("xdotool")} + tools)
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
    const auto shown = [&] {
        const WindowReport latest = report();
        return !run_.isRunning() || (latest.window.isValid() && done(latest));
    };
    return QTest::qWaitFor(shown, timeoutMs) && run_.isRunning();
}

qint64 ProgramWindow::firstFrameNanoseconds()
{
    const QByteArray output = run_.standardError();
    const int at = output.indexOf("probe first-frame ");
    const int end = output.indexOf('\n', at);
    return at < 0 || end < 0 ? 0 : output.mid(at + 18, end - at - 18).toLongLong();
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
    return xdotool(moveTo(at) << "click"
                              << "1");
}

bool ProgramWindow::drag(QPoint from, QPoint to)
{
    // A step on the way, as a hand moves, so that the slider follows.
    return xdotool(moveTo(from) << "mousedown"
                                << "1" << moveTo((from + to) / 2) << moveTo(to) << "mouseup"
                                << "1");
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
    const QString window = QString::fromLatin1(windowId());
    return !window.isEmpty() &&
           xdotool({"windowmove", "--sync", window, QString::number(position.x()),
                    QString::number(position.y()), "windowsize", "--sync", window,
                    QString::number(size.width()), QString::number(size.height())});
}

bool ProgramWindow::close()
{
    const QString window = QString::fromLatin1(windowId());
    return !window.isEmpty() &&
           xdotool({"windowactivate", "--sync", window, "key", "--clearmodifiers", "alt+F4"}) &&
           QTest::qWaitFor([this] { return windowId().isEmpty(); }, 10000);
}
