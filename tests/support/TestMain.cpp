// Test entry point: one Qt application object for the whole program, and a private HOME so
// that nothing a test does can reach the real home folder.
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <sys/stat.h>

#ifdef DOCINDEX_GUI_TESTS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char** argv) {
    // A death test runs this program again with the parent's environment: it keeps the
    // parent's home, so that a child ending by _Exit leaves no folder behind.
    std::optional<TempDir> home;
    QByteArray homePath = qgetenv("DOCINDEX_TEST_HOME");
    if (homePath.isEmpty()) {
        home.emplace();
        if (!home->isValid())
            return 2;
        homePath = home->path().toLocal8Bit();
        setenv("DOCINDEX_TEST_HOME", homePath.constData(), 1);
    }
    setenv("HOME", homePath.constData(), 1);
    setenv("XDG_CONFIG_HOME", (homePath + "/.config").constData(), 1);
    setenv("XDG_CACHE_HOME", (homePath + "/.cache").constData(), 1);
    setenv("XDG_DATA_HOME", (homePath + "/.local/share").constData(), 1);
    // Qt makes a runtime folder in the temporary folder when none is set, and leaves it there.
    const QByteArray runtime = homePath + "/.runtime";
    if (::mkdir(runtime.constData(), 0700) != 0 && errno != EEXIST)
        return 2;
    setenv("XDG_RUNTIME_DIR", runtime.constData(), 1);
    if (!getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("DOCINDEX_SOURCE_DIR", DOCINDEX_SOURCE_DIR, 0);
    setenv("DOCINDEX_BINARY_DIR", DOCINDEX_BINARY_DIR, 0);

    ::testing::InitGoogleTest(&argc, argv);
    TestApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
