#pragma once

#include <QString>

#include <exception>
#include <functional>

// The application's top-level error report: an error that escapes a command ends
// up here and its text is shown in a message box; the program goes on.

// The text shown for an error: the program's own errors carry their message,
// other exceptions their what() text.
QString ErrorText(const std::exception &error);

void ReportError(const QString &text);
void ReportException(const std::exception &error);

// Replaces the report (tests record instead of showing a box); returns the old one.
// An empty function restores the message box.
using TErrorReporter = std::function<void(const QString &text)>;
TErrorReporter SetErrorReporter(TErrorReporter reporter);
