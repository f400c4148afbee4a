#pragma once

#include <QString>
#include <QStringList>

#include <optional>

struct TOutputFormat;

struct TCliOptions
{
    QStringList Inputs;
    QString Output;                          // empty: beside each input
    const TOutputFormat *Format = nullptr;   // nullptr: from the output's extension
    std::optional<int> Mode;                 // PixelScanMode; empty: the stored one
    float Magnification = 1.0f;
    std::optional<float> Xrate;
    std::optional<float> Yrate;
    // Clean-up of real scans; empty: the stored setting.
    std::optional<QString> Threshold;        // "auto" or 0..255
    std::optional<int> Despeckle;
    bool Centerline = false;                 // on; off: the stored setting
    std::optional<QString> Merge;            // tolerance in pixels
    bool TextLayer = false;                  // on; off: the stored setting
    std::optional<QString> Ocr;              // languages, "jpn+eng"; "" off
    std::optional<QString> Arcs;             // tolerance of lines and arcs in pixels
    std::optional<QString> Snap;             // axis snap in degrees
    bool Deskew = false;                     // on; off: the stored setting
    bool Linetypes = false;                  // on; off: the stored setting
    std::optional<QString> Widths;           // "auto" or width classes "W1,W2,..."
    bool Fills = false;                      // on; off: the stored setting
    QString SettingsFile;                    // empty: the program's own stored settings
    int Jobs = 0;                            // 0: one per core
    qint64 MaxPixels = 0;                    // 0: half the machine's memory as a mask
    bool Quiet = false;
    // Archive-scale batches.
    QString FilesFrom;                       // more inputs, one a line ("-": standard input)
    QString Report;                          // JSON Lines, one object per input
    bool SkipExisting = false;               // leave inputs whose output is not older
    QStringList PluginDirs;                  // searched for plug-ins before the usual folders
    bool ListFormats = false;                // list the picture formats instead of converting
    QString Preview;                         // --preview: PNG file (one input) or folder
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

// The text that --help prints.
QString UsageText();
