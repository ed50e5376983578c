#include "platform/Module.h"

#include "platform/FsString.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstring>

namespace platform {
namespace {

QString baseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return fromFsBytes(slash ? slash + 1 : path);
}

// The folder of the running program file, with a trailing '/'; empty when unknown.
QByteArray programFolder() {
    char path[PATH_MAX + 1];
    const ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
    if (length <= 0)
        return {};
    const QByteArray file(path, length);
    return file.left(file.lastIndexOf('/') + 1);
}

} // namespace

ModulePosition modulePositionOf(const void* address) {
    ModulePosition position;
    position.offset = reinterpret_cast<std::uintptr_t>(address);
    if (!address)
        return position;
    Dl_info info{};
    if (dladdr(address, &info) == 0 || !info.dli_fbase || !info.dli_fname)
        return position;
    position.found = true;
    position.offset -= reinterpret_cast<std::uintptr_t>(info.dli_fbase);
    // The main program reports an empty name on some systems; fall back to its file.
    position.moduleName = *info.dli_fname ? baseName(info.dli_fname) : programFileName();
    return position;
}

QString programFileName() {
    char path[PATH_MAX + 1];
    const ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
    if (length <= 0)
        return QStringLiteral("docindex");
    path[length] = '\0';
    return baseName(path);
}

void* programLibrarySymbol(const char* fileName, const char* symbol, QString& error) {
    const QByteArray folder = programFolder();
    if (folder.isEmpty()) {
        error = QStringLiteral("cannot find the program's own file (/proc/self/exe)");
        return nullptr;
    }
    const QByteArray path = folder + "../lib/docindex/" + fileName;
    // RTLD_NOW: a missing library dependency shows here, not as a crash later.
    void* library = dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        error = fromFsBytes(dlerror());
        return nullptr;
    }
    void* address = dlsym(library, symbol);
    if (!address)
        error = fromFsBytes(dlerror());
    // The library stays loaded for the rest of the process.
    return address;
}

} // namespace platform
