// The program file finds the window's private library beside it (../lib/docindex/), as in the
// build tree and the package, and nowhere else.
#include "main/WindowLibrary.h"
#include "platform/Module.h"

#include <gtest/gtest.h>

TEST(WindowLibrary, FoundOnlyInTheProgramsOwnLibraryFolder) {
    const struct {
        const char* name;
        const char* file;
        const char* symbol;
        bool found;
        const char* inError;
    } cases[] = {
        {"the window's entry", windowlib::kFileName, windowlib::kEntry, true, ""},
        // runWindowMode(int, char**) itself stays inside the library.
        {"a symbol it does not export", windowlib::kFileName, "_Z13runWindowModeiPPc", false,
         "_Z13runWindowModeiPPc"},
        {"a library that is not there", "no-such-library.so", windowlib::kEntry, false,
         "/lib/docindex/no-such-library.so"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        void* address = platform::programLibrarySymbol(c.file, c.symbol, error);
        EXPECT_EQ(address != nullptr, c.found) << qPrintable(error);
        EXPECT_TRUE(error.contains(QLatin1String(c.inError))) << qPrintable(error);
    }
}
