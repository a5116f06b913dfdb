#pragma once

// Set-up shared by the tests that run inside a TuningLatticeApplication of their own.

#include "SignalLog.h"
#include "TestFiles.h"
#include "TuningLatticeApplication.h"

#include <QtTest>

inline TuningLatticeApplication& app()
{
    return *TuningLatticeApplication::instance();
}

// Runs the queued events as the audio thread would; what the player emitted.
inline QStringList drain()
{
    SignalLog log(&app().player());
    app().player().processCommandBuffers();
    return log.take();
}

#define LATTICE_APP_TEST_MAIN(TestClass)                                                           \
    int main(int argc, char** argv)                                                                \
    {                                                                                              \
        TuningLatticeApplication application(argc, argv);                                          \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
