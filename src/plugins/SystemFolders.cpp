#include "plugins/SystemFolders.h"

#ifdef _WIN32
#include <windows.h>

QString SystemFolder()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return QString();
    return QString::fromWCharArray(buffer, int(length));
}

QString WindowsFolder()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    const UINT length = GetWindowsDirectoryW(buffer, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return QString();
    return QString::fromWCharArray(buffer, int(length));
}

#else

QString SystemFolder()
{
    return QString();
}

QString WindowsFolder()
{
    return QString();
}

#endif
