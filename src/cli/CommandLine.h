#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Output formats of the command line: the three files of the save command and
// the two clipboard texts written as bytes.
enum class TCliFormat { Text, Dxf, Jwc, ClipText, ClipJwt };

struct TCliOptions
{
    QStringList Inputs;
    QString Output;                       // empty: beside each input
    std::optional<TCliFormat> Format;     // empty: from the output's extension
    std::optional<int> Mode;              // PixelScanMode; empty: the stored one
    float Magnification = 1.0f;
    std::optional<float> Xrate;
    std::optional<float> Yrate;
    QString SettingsFile;                 // empty: the program's own stored settings
    int Jobs = 0;                         // 0: one per core
    bool Quiet = false;
};

// The outcome of reading the arguments: options to run with, or a text to print
// and the exit status (help and version: 0; bad usage: 2).
struct TCliParse
{
    std::optional<TCliOptions> Options;
    QString Text;
    int ExitCode = 0;
};

TCliParse ParseCommandLine(const QStringList &arguments);

// The usage text that --help prints.
QString UsageText();

// The format the save command would pick for a file name: ".dxf" DXF, ".jwc" JWC,
// anything else (no extension too) the coordinate text; case does not matter.
TCliFormat FormatForFileName(const QString &fileName);

// The extension (without the dot) an output of this format is named with;
// `textExtension` is the stored extension of the coordinate text file.
QString ExtensionForFormat(TCliFormat format, const QString &textExtension);
