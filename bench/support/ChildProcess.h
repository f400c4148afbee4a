#pragma once

// Runs a program to its end and tells how long it took and how much memory it
// held at most, as the operating system accounts for the finished process.

#include <QStringList>

struct TChildRun
{
    int ExitCode = -1;       // -1: could not be started or did not end normally
    double Seconds = 0;      // wall-clock time
    double PeakMB = -1;      // largest resident set; -1 where the system cannot tell
    double CpuSeconds = -1;  // user and system time; -1 where the system cannot tell
};

// program with arguments; its standard output and error go to /dev/null (or NUL).
TChildRun RunChild(const QString &program, const QStringList &arguments);
