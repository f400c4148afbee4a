#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <gtest/gtest.h>

// For a test that needs an outside program (xvfb-run, xclip, ezdxf, ...) that
// is not there: a failure under CI (CI=true), where scripts/setup installs
// every such program, and a skip with the reason elsewhere. Returns from the
// test either way.
#define TRAZBIT_OUTSIDE_PROGRAM_MISSING(reason)                                                    \
    do {                                                                                           \
        if (qgetenv("CI") == QByteArray("true"))                                                   \
            FAIL() << "CI=true: " << reason;                                                       \
        else                                                                                       \
            GTEST_SKIP() << reason;                                                                \
    } while (0)
