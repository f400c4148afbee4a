#pragma once

// The program's version as the version window and the command line show it.
#define TRAZBIT_VERSION_TEXT "4.20"
