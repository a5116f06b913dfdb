// A plugin that window tests and benchmarks load into the real program, so
// that a harness driving it from outside (with xdotool on an X display) knows
// where its widgets are and when its window first showed. A user's run never
// loads it: it is found only through QT_PLUGIN_PATH (the folder above
// "generic") and loaded only when QT_QPA_GENERIC_PLUGINS names
// "latticewindowprobe", as the application object is made.
//
// It reports on standard error, one line each:
//
//   probe first-frame NANOSECONDS   once, when the main window's first frame is painted
//   probe input NANOSECONDS         a key or mouse button pressed, when the program got it
//   probe popup 1|0                 a popup (a combo box's list) shown or hidden
//   probe window NAME X Y W H       a report: the main window's client area, then
//   probe widget NAME X Y W H [KEY=VALUE ...]   every visible named widget,
//   probe end                       and the end of the report.
//
// The program's standard output (where LATTICE_DUMP_BALLS writes the ball
// positions) is joined to standard error, so that a harness reading standard
// error sees both in the order they were written.
//
// Rectangles are in screen pixels. A rich-text label with links (the look
// switcher) is reported as "linkLabel", whatever its name. Values: value= of
// sliders, handle=X,Y (the centre of a slider's handle), checked= of
// checkable buttons, current= of combo boxes (percent-encoded), page= of
// stacked widgets (the shown page's name). A report follows every change on
// screen (a paint, a move, a resize, a widget shown or hidden) once nothing
// has changed for a moment; harnesses use the last one. NANOSECONDS is
// CLOCK_MONOTONIC, as in the program's start-up marks.
//
// GUI thread only.

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QGenericPlugin>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QSlider>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace {

// Quiet time after the last change before a report, in milliseconds.
constexpr int settleMs = 100;

void printLine(const QByteArray& line)
{
    std::fprintf(stderr, "probe %s\n", line.constData());
    std::fflush(stderr);
}

// CLOCK_MONOTONIC, as the program's start-up marks.
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

// Where the style draws the handle, as QSlider::initStyleOption() describes
// the slider to it.
QPoint handleCentre(const QSlider* slider)
{
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.subControls = QStyle::SC_None;
    option.activeSubControls = QStyle::SC_None;
    option.orientation = slider->orientation();
    option.maximum = slider->maximum();
    option.minimum = slider->minimum();
    option.tickPosition = slider->tickPosition();
    option.tickInterval = slider->tickInterval();
    option.upsideDown = slider->orientation() == Qt::Horizontal
                            ? slider->invertedAppearance() != (option.direction == Qt::RightToLeft)
                            : !slider->invertedAppearance();
    option.direction = Qt::LeftToRight;
    option.sliderPosition = slider->sliderPosition();
    option.sliderValue = slider->value();
    option.singleStep = slider->singleStep();
    option.pageStep = slider->pageStep();
    if (slider->orientation() == Qt::Horizontal)
        option.state |= QStyle::State_Horizontal;
    const QRect handle = slider->style()->subControlRect(QStyle::CC_Slider, &option,
                                                         QStyle::SC_SliderHandle, slider);
    return slider->mapToGlobal(handle.center());
}

QByteArray valuesText(const QWidget* widget)
{
    QByteArray text;
    if (const auto* slider = qobject_cast<const QSlider*>(widget)) {
        const QPoint handle = handleCentre(slider);
        text += " value=" + QByteArray::number(slider->value()) +
                " handle=" + QByteArray::number(handle.x()) + ',' + QByteArray::number(handle.y());
    } else if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        if (button->isCheckable())
            text += QByteArray(" checked=") + (button->isChecked() ? '1' : '0');
    } else if (const auto* combo = qobject_cast<const QComboBox*>(widget)) {
        text += " current=" + QUrl::toPercentEncoding(combo->currentText());
    } else if (const auto* stack = qobject_cast<const QStackedWidget*>(widget)) {
        if (stack->currentWidget())
            text += " page=" + stack->currentWidget()->objectName().toUtf8();
    }
    return text;
}

QByteArray reportedName(const QWidget* widget)
{
    // The look switcher is not named by the window's form.
    const auto* label = qobject_cast<const QLabel*>(widget);
    if (label && label->text().contains(QLatin1String("href")))
        return "linkLabel";
    const QString name = widget->objectName();
    return name.startsWith(QLatin1String("qt_")) ? QByteArray() : name.toUtf8();
}

class WindowWatcher : public QObject
{
public:
    WindowWatcher()
    {
        settle_.setSingleShot(true);
        settle_.setInterval(settleMs);
        connect(&settle_, &QTimer::timeout, this, &WindowWatcher::report);
    }

    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (!object->isWidgetType())
            return false;
        const auto* widget = static_cast<QWidget*>(object);
        noteInput(event);
        if (widget->windowType() == Qt::Popup &&
            (event->type() == QEvent::Show || event->type() == QEvent::Hide))
            printLine(event->type() == QEvent::Show ? "popup 1" : "popup 0");
        QMainWindow* window = qobject_cast<QMainWindow*>(widget->window());
        if (!window)
            return false;
        switch (event->type()) {
        case QEvent::Paint:
            if (widget == window && !painted_) {
                painted_ = true;
                // Painting and the flush to the screen finish in this same
                // event; the zero timer runs once they have.
                QTimer::singleShot(0, this, [] {
                    printLine("first-frame " + QByteArray::number(nowNanoseconds()));
                });
            }
            Q_FALLTHROUGH();
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::Move:
        case QEvent::Resize:
            window_ = window;
            settle_.start();
            break;
        default:
            break;
        }
        return false;
    }

private:
    // A press reaches the filter once for every widget it propagates
    // through, and a key first as a shortcut override (which a combo box's
    // open list takes Return from, so that no key press follows); the
    // window system's time stamp tells presses apart.
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
    // The application deletes the returned object when it ends.
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
