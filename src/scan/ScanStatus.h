#pragma once

// Status codes of the conversion methods.
enum TScanStatus : int {
    ScanDone = 0,          // conversion completed
    ScanBufferFailed = 1,  // the segment buffer could not be had (message shown)
    ScanUnreadable = 3,    // the file could not be read as a picture (message shown)
    ScanStopped = 5,       // cancelled, or stopped by a memory failure while appending
};
