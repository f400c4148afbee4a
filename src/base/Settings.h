#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>

#include <memory>

class QSettings;

// Every user option of the program. Held by the main window for the whole run,
// loaded once at start and saved once at close.
struct TSettings
{
    // System
    int PixelScanMode = 1;   // 1 line, 2 box, 3 line 2
    float Xrate = 1.0f;      // horizontal scanner ratio
    float Yrate = 1.0f;      // vertical scanner ratio
    int SaveMode = 1;        // last save: 1 coordinate text, 2 DXF, 3 JWC
    QString OpenDir;         // folder the open dialog starts in
    QString SaveDir;         // folder the save dialog starts in
    bool AutoPreview = true; // the preview window opens after each conversion
    // Jwc
    int JwcPenColor = 1;     // 1..6
    int JwcLineType = 1;     // 1..9
    int SaveGroup = 0;       // 0..15
    int JwcSaveLayer = 0;    // 0..15
    QString SaveGroupName = QStringLiteral("ScanData");
    QString SaveLayerName = QStringLiteral("TZB Data");
    // Dxf
    int DxfPenColor = 1;
    QString DxfSaveLayer = QStringLiteral("Scan Data");
    bool R12opt = true;
    int DxfLineType = 1;     // 1 solid, 2 dotted
    int DxfValueMode = 2;    // 1 integer, 2 real, 3 fixed digits
    int DxfValueFigure = 4;
    bool DxfFileUse = true;
    // Txt
    QString FileExtention = QStringLiteral("txt");
    QString Divide1;
    QString Divide2 = QStringLiteral(" ");
    QString Divide3 = QStringLiteral(" ");
    QString Divide4 = QStringLiteral(" ");
    QString Divide5;
    int TxtValueMode = 2;
    int TxtValueFigure = 4;
    // Cleanup: clean-up of real scans, every step off by default
    QString CleanupThreshold;        // "" exact black, "auto", or a level 0..255
    int CleanupDespeckle = 0;        // largest speck or hole removed, pixels
    bool CleanupCenterline = false;  // thin strokes to centre lines
    QString CleanupMerge;            // "" off, or a tolerance in pixels
    bool CleanupTextLayer = false;   // text strokes apart, on a layer of their own
    QString CleanupOcr;              // "" off, or the languages text is read in ("jpn+eng")
    QString CleanupOcrData;          // "" the system's, or the folder of the language data
    QString CleanupArcs;             // "" off, or the tolerance of lines and arcs in pixels
    QString CleanupSnap;             // "" off, or the axis snap in degrees (0 .. 45)
    bool CleanupDeskew = false;      // remove the ink's skew from the coordinates
    bool CleanupLinetypes = false;   // dashed, dash-dot and dotted lines as one entity with a line type
    QString CleanupWidths;           // "" off, "auto", or width classes "W1,W2,..." in drawing units
    bool CleanupFills = false;       // fills kept as filled shapes, not thinned

    // The defaults, with both folders set to the program's folder.
    static TSettings Defaults();
};

// Where the settings live: the registry key Software\Kestrow\Trazbit of the
// current user on Windows, an INI file under the user's configuration folder
// elsewhere (XDG_CONFIG_HOME is honoured), or a file named explicitly.
namespace SettingsStore {

// The user's own store (organisation "Kestrow", application "Trazbit").
std::unique_ptr<QSettings> OpenUserStore();
// An INI file of the same sections and keys.
std::unique_ptr<QSettings> OpenFile(const QString &path);
// The explicit file when one is named, else the user's own store.
std::unique_ptr<QSettings> Open(const QString &explicitPath);

// Fills the record (and the window position) in the order of the store; a
// missing or unreadable value gives the default. For each value that is there
// but does not parse (a ratio also when it is not a finite 32-bit float),
// `warnings`, when given, receives a line naming its section, key and text.
// A file that is not UTF-8 is read as code page 932.
void Load(QSettings &store, TSettings &settings, QPoint *windowPosition = nullptr,
          QStringList *warnings = nullptr);
// Why the store could not be read ("設定ファイル x.conf は INI 形式ではありませ
// ん。"), or empty when it could.
QString StoreProblem(QSettings &store);
// Writes the whole record and the window position, every value a string.
void Save(QSettings &store, const TSettings &settings, QPoint windowPosition);

} // namespace SettingsStore
