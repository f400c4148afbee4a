#pragma once

#include <QString>

// What the main window keeps of its commands beside the conversion's result
// (TScanState): the open command sets the file and the converted flag, the
// save and copy commands read them and set the magnification, the preview
// reads the flag and the file.
struct TMainWindowState
{
    // True only after a conversion that ended without error or cancel; the
    // save and copy commands refuse to run while it is false.
    bool DataConverted = false;
    // The magnification the last save or copy took from the magnification
    // edit; 0 until the first.
    float Magnification = 0;
    // Full path of the last file picked for conversion; its name part
    // proposes the save name.
    QString SourceFileName;
};
