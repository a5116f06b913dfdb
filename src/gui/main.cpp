// The instrument's entry point: start-up, event loop, shutdown.

#include "StartupTrace.h"
#include "TuningLatticeApplication.h"

#include <QTimer>

int main(int argc, char** argv)
{
    StartupTrace::mark("main");
    TuningLatticeApplication app(argc, argv);
    if (!app.init())
        return 1;
    if (StartupTrace::enabled())
        QTimer::singleShot(0, [] { StartupTrace::mark("event-loop"); });
    const int status = app.exec();
    app.shutdown();
    return status;
}
