#include "main/WindowLibrary.h"

#include "platform/FsString.h"
#include "platform/Module.h"

#include <cstdio>

namespace windowlib {

int runWindowMode(int argc, char** argv) {
    QString error;
    const auto entry =
        reinterpret_cast<Entry>(platform::programLibrarySymbol(kFileName, kEntry, error));
    if (!entry) {
        const QByteArray reason = platform::toFsBytes(error);
        std::fprintf(stderr, "docindex: cannot open the window: %s\n", reason.constData());
        return 1;
    }
    return entry(argc, argv);
}

} // namespace windowlib
