#pragma once

#include <QString>

// The folder of the running program file, with a trailing separator in the
// platform's own form ("C:\Trazbit\" on Windows, "/opt/trazbit/bin/" here).
QString ProgramFolder();
