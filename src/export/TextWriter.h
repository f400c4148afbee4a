#pragma once

// The coordinate text file.
//   NewTextWriter - its writer: Write is false when a write failed.

#include "export/OutputFormats.h"

#include <QString>

#include <memory>

// The coordinate text file: one line per segment, "Divide1 X1 Divide2 Y1
// Divide3 X2 Divide4 Y2 Divide5", CR LF, code page 932.
std::unique_ptr<TFormatWriter> NewTextWriter();
