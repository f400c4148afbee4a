#pragma once

// Status codes of the conversion methods.
enum TScanStatus : int {
    ScanDone = 0,          // conversion completed
    ScanBufferFailed = 1,  // the segment buffer could not be had (message shown)
    ScanUnreadable = 3,    // the file could not be read as a picture (message shown)
    ScanStopped = 5,       // cancelled, or stopped by a memory failure while appending
    // A tracer's own: the segment list could not grow while appending (the
    // list released). The scan driver reports it ("メモリが確保出来ませんでした。")
    // and returns ScanStopped instead.
    ScanOutOfMemory = 6,
};
