#pragma once

// The errors the program raises.
//   ETrazbitError - the base: what() is the message in UTF-8, Message() the
//                   same as text; the rest name the platform service that failed.

#include <QString>

#include <stdexcept>
#include <string>

// The base of every error the program raises. what() is the message, UTF-8; the
// application's top-level error report shows Message().
class ETrazbitError : public std::runtime_error
{
public:
    explicit ETrazbitError(const std::string &message) : std::runtime_error(message) {}
    explicit ETrazbitError(const QString &message) : std::runtime_error(message.toStdString()) {}
    explicit ETrazbitError(const char *message) : std::runtime_error(message) {}
    QString Message() const { return QString::fromUtf8(what()); }
};

// Failures of the platform services the program leans on, named as the program's
// messages name them.
class EOutOfResources : public ETrazbitError { using ETrazbitError::ETrazbitError; };
class EOutOfMemory : public ETrazbitError { using ETrazbitError::ETrazbitError; };
class EInvalidGraphic : public ETrazbitError { using ETrazbitError::ETrazbitError; };
class ERangeError : public ETrazbitError { using ETrazbitError::ETrazbitError; };
// A stream that ends before an exact read is satisfied ("Stream read error").
class EReadError : public ETrazbitError { using ETrazbitError::ETrazbitError; };
// A file that cannot be created, opened or written (the system's text follows).
class EFileError : public ETrazbitError { using ETrazbitError::ETrazbitError; };
// The silent abort: stops an operation without a message.
class EAbort : public ETrazbitError { using ETrazbitError::ETrazbitError; };
