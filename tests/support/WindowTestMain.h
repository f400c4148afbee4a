#pragma once

// main() of a window test program: the window program's own application object
// (with its top-level error report) on the offscreen platform, then Qt Test.

#include "app/TrazbitApplication.h"

#include <QTest>

#define TRAZBIT_WINDOW_TEST_MAIN(TestClass)                                                   \
    int main(int argc, char **argv)                                                          \
    {                                                                                        \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                  \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                         \
        TTrazbitApplication app(argc, argv);                                                 \
        TestClass test;                                                                      \
        return QTest::qExec(&test, argc, argv);                                              \
    }
