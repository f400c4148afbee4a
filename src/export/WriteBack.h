#pragma once

class QIODevice;

// A file that will be forced to disk when it is complete (a QSaveFile, which
// syncs before it replaces the old file) is asked to start writing out what
// has been written so far, so that the disk works while the rest is made and
// the final sync has little left to wait for. Does nothing for other devices
// or where the system offers no such request.
void StartWriteBack(QIODevice &device);
