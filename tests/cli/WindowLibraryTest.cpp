// The program file finds the window's private library beside it (../lib/docindex/), as in the
// build tree and the package, and nowhere else.
#include "main/WindowLibrary.h"
#include "platform/Module.h"

#include <QFile>
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
    // The symbol that must stay hidden is really in the library (its symbol table), so that a
    // rename cannot make the refusal below pass for want of the symbol.
    QFile library(qEnvironmentVariable("DOCINDEX_BINARY_DIR") + "/lib/docindex/" +
                  windowlib::kFileName);
    ASSERT_TRUE(library.open(QIODevice::ReadOnly)) << qPrintable(library.fileName());
    EXPECT_TRUE(library.readAll().contains(QByteArray("_Z13runWindowModeiPPc") + '\0'));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        void* address = platform::programLibrarySymbol(c.file, c.symbol, error);
        EXPECT_EQ(address != nullptr, c.found) << qPrintable(error);
        EXPECT_TRUE(error.contains(QLatin1String(c.inError))) << qPrintable(error);
    }
}
