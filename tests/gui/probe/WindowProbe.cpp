// Loaded into the real program (QT_PLUGIN_PATH, QT_QPA_GENERIC_PLUGINS=
// latticewindowprobe) to tell where its widgets are. One line each on standard
// error, joined by standard output (the LATTICE_DUMP_BALLS lines) so that both
// arrive in order:
//   probe first-frame NANOSECONDS   the main window's first frame painted
//   probe input NANOSECONDS         a key or mouse button press received
//   probe popup 1|0                 a popup (a combo box's list) shown or hidden
//   probe window NAME X Y W H       a report: the main window's client area,
//   probe widget NAME X Y W H [KEY=VALUE ...]   every visible named widget,
//   probe end                       and the end of the report.
//
// Rectangles in screen pixels, times CLOCK_MONOTONIC. A report follows every
// change on screen once nothing has changed for a moment. GUI thread only.

#include <QtWidgets>
#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace {

void printLine(const QByteArray& line)
{
    std::fprintf(stderr, "probe %s\n", line.constData());
    std::fflush(stderr);
}

qint64 nowNanoseconds()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return qint64(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
}

QByteArray rectText(const QWidget* widget)
{
    const QPoint origin = widget->mapToGlobal(QPoint(0, 0));
    return QByteArray::number(origin.x()) + ' ' + QByteArray::number(origin.y()) + ' ' +
           QByteArray::number(widget->width()) + ' ' + QByteArray::number(widget->height());
}

QByteArray valuesText(const QWidget* widget)
{
    if (const auto* slider = qobject_cast<const QSlider*>(widget))
        return " value=" + QByteArray::number(slider->value());
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->isCheckable() ? QByteArray(" checked=") + "01"[button->isChecked()]
                                     : QByteArray();
    if (const auto* combo = qobject_cast<const QComboBox*>(widget))
        return " current=" + QUrl::toPercentEncoding(combo->currentText());
    const auto* stack = qobject_cast<const QStackedWidget*>(widget);
    return stack && stack->currentWidget()
               ? " page=" + stack->currentWidget()->objectName().toUtf8()
               : QByteArray();
}

QByteArray reportedName(const QWidget* widget)
{
    // The look switcher is not named by the window's form.
    const auto* label = qobject_cast<const QLabel*>(widget);
    if (label && label->text().contains("href"))
        return "linkLabel";
    const QString name = widget->objectName();
    return name.startsWith("qt_") ? QByteArray() : name.toUtf8();
}

class WindowWatcher : public QObject
{
public:
    WindowWatcher()
    {
        settle_.setSingleShot(true);
        settle_.setInterval(100); // quiet time before a report
        connect(&settle_, &QTimer::timeout, this, &WindowWatcher::report);
    }

    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (!object->isWidgetType())
            return false;
        const auto* widget = static_cast<QWidget*>(object);
        const QEvent::Type type = event->type();
        noteInput(event);
        if (widget->windowType() == Qt::Popup && (type == QEvent::Show || type == QEvent::Hide))
            printLine(type == QEvent::Show ? "popup 1" : "popup 0");
        QMainWindow* window = qobject_cast<QMainWindow*>(widget->window());
        if (window && widget == window && type == QEvent::Paint && !painted_) {
            painted_ = true;
            // The zero timer runs once the paint and its flush are done.
            QTimer::singleShot(
                0, this, [] { printLine("first-frame " + QByteArray::number(nowNanoseconds())); });
        }
        static const QSet<int> changes{QEvent::Paint, QEvent::Show, QEvent::Hide, QEvent::Move,
                                       QEvent::Resize};
        if (window && changes.contains(type)) {
            window_ = window;
            settle_.start();
        }
        return false;
    }

private:
    // A press reaches the filter once per widget it propagates through, and
    // a key first as a shortcut override (an open combo list takes Return
    // there); the window system's time stamp tells presses apart.
    void noteInput(const QEvent* event)
    {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride &&
            event->type() != QEvent::MouseButtonPress)
            return;
        const auto* input = static_cast<const QInputEvent*>(event);
        if (!event->spontaneous() || input->timestamp() == lastInput_)
            return;
        lastInput_ = input->timestamp();
        printLine("input " + QByteArray::number(nowNanoseconds()));
    }

    void report()
    {
        if (!window_ || !window_->isVisible())
            return;
        printLine("window " + window_->objectName().toUtf8() + ' ' + rectText(window_));
        for (const QWidget* widget : window_->findChildren<QWidget*>()) {
            const QByteArray name = reportedName(widget);
            if (!name.isEmpty() && widget->isVisible())
                printLine("widget " + name + ' ' + rectText(widget) + valuesText(widget));
        }
        printLine("end");
    }

    QTimer settle_;
    QPointer<QMainWindow> window_;
    bool painted_ = false;
    ulong lastInput_ = 0;
};

} // namespace

class WindowProbe : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "WindowProbe.json")

public:
    QObject* create(const QString&, const QString&) override
    {
        std::fflush(stdout);
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
        auto* watcher = new WindowWatcher;
        qApp->installEventFilter(watcher);
        return watcher;
    }
};

#include "WindowProbe.moc"
