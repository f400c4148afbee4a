#pragma once

#include <QLibrary>
#include <QString>

// A plug-in library loaded by path. Everyone who loads the same path shares one
// loaded library, which is released when the last of them lets go: QLibrary
// itself unloads a library as soon as any one of its objects for that path
// unloads, even while others still use it.
class TPluginLibrary
{
public:
    // Loads the library; Loaded() tells whether that worked.
    explicit TPluginLibrary(const QString &path);
    ~TPluginLibrary();
    TPluginLibrary(const TPluginLibrary &) = delete;
    TPluginLibrary &operator=(const TPluginLibrary &) = delete;

    bool Loaded() const { return FLibrary != nullptr; }
    // The file the system loaded.
    QString FileName() const;
    // An exported function by name, or null.
    QFunctionPointer Resolve(const char *name) const;

private:
    QString FPath;
    QLibrary *FLibrary = nullptr;
};
