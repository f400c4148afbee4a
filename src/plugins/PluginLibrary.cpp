#include "plugins/PluginLibrary.h"

#include <map>
#include <mutex>
#include <utility>

namespace {

struct TOpenLibrary
{
    QLibrary *Library;
    int Users;
};

std::mutex gLock;
std::map<QString, TOpenLibrary> gOpen;

} // namespace

TPluginLibrary::TPluginLibrary(const QString &path) : FPath(path)
{
    const std::lock_guard lock(gLock);
    const auto found = gOpen.find(path);
    if (found != gOpen.end()) {
        ++found->second.Users;
        FLibrary = found->second.Library;
        return;
    }
    auto *library = new QLibrary(path);
    if (!library->load()) {
        delete library;
        return;
    }
    gOpen.emplace(path, TOpenLibrary{library, 1});
    FLibrary = library;
}

TPluginLibrary::~TPluginLibrary()
{
    if (!FLibrary)
        return;
    const std::lock_guard lock(gLock);
    const auto found = gOpen.find(FPath);
    if (found == gOpen.end() || --found->second.Users > 0)
        return;
    found->second.Library->unload();
    delete found->second.Library;
    gOpen.erase(found);
}

QString TPluginLibrary::FileName() const
{
    return FLibrary ? FLibrary->fileName() : QString();
}

QFunctionPointer TPluginLibrary::Resolve(const char *name) const
{
    return FLibrary ? FLibrary->resolve(name) : nullptr;
}
