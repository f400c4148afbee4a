#include "export/WriteBack.h"

#include <QSaveFile>

#if defined(__linux__)
#include <fcntl.h>
#endif

void StartWriteBack(QIODevice &device)
{
#if defined(__linux__) && defined(SYNC_FILE_RANGE_WRITE)
    auto *file = qobject_cast<QSaveFile *>(&device);
    if (!file)
        return;
    const int handle = file->handle();
    // The whole file: pages already on their way are passed over.
    if (handle >= 0)
        sync_file_range(handle, 0, 0, SYNC_FILE_RANGE_WRITE);
#else
    (void)device;
#endif
}
