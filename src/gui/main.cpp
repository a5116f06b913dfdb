// The instrument's entry point: start-up, event loop, shutdown.

#include "CommandLine.h"
#include "StartupTrace.h"
#include "TuningLatticeApplication.h"

#include <QTimer>
#include <QtGlobal>
#include <cstdio>

int main(int argc, char** argv)
{
    if (const auto answer = CommandLine::answer(argc, argv)) {
        std::fputs(answer->constData(), stdout);
        return 0;
    }
    StartupTrace::mark("main");
    // Every log record is stamped with the local time. With TZ unset, glibc
    // re-reads /etc/localtime on each stamp, which halves how many wand
    // datagrams a second the listener can take; naming the zone file once
    // keeps the same local time without the disk check.
    if (!qEnvironmentVariableIsSet("TZ"))
        qputenv("TZ", ":/etc/localtime");
    // Nothing here draws with OpenGL; without this the X11 platform still
    // loads Mesa and LLVM, some 50 MiB of resident memory for nothing.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    TuningLatticeApplication app(argc, argv);
    if (!app.init())
        return 1;
    if (StartupTrace::enabled())
        QTimer::singleShot(0, [] { StartupTrace::mark("event-loop"); });
    const int status = app.exec();
    app.shutdown();
    return status;
}
