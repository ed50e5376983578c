#pragma once
// Which loaded module (the program file or a shared library) holds a code address, and where
// within it: the start-up error box names the module and prints the address as an offset, so
// that the same failure reads the same from one run to the next despite address randomisation.
#include <QString>

#include <cstdint>

namespace platform {

struct ModulePosition {
    bool found = false;
    // The module's file name without its folder ("docindex"); empty when not found.
    QString moduleName;
    // The address minus the module's load address; the address itself when not found.
    std::uintptr_t offset = 0;
};

ModulePosition modulePositionOf(const void* address);

// The running program's file name without its folder.
QString programFileName();

// The address of `symbol` in the program's private library `fileName`, loaded from
// <program folder>/../lib/docindex/ (where the package installs it next to /usr/bin, and where
// the build tree puts it next to main/); null with the reason in `error` when it cannot be
// loaded. Never searched for elsewhere: the program may run as root.
void* programLibrarySymbol(const char* fileName, const char* symbol, QString& error);

} // namespace platform
