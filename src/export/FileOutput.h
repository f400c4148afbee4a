#pragma once

#include <QString>

class QFile;
class TFormatWriter;
struct TExportContext;

// The save command's files: created (or truncated) and written unbuffered,
// since the writers buffer themselves.
bool OpenOutputFile(QFile &file);
// The writer's whole output into an open file, which is then closed; false
// when a write or the close failed.
bool WriteOutputFile(QFile &file, TFormatWriter &writer, const TExportContext &context);
