// Lexical normalization and the rename that never replaces.
#include "listing/ListingTestSupport.h"
#include "platform/Fault.h"
#include "platform/Paths.h"
#include "support/DocFiles.h"

#include <gtest/gtest.h>

#include <cerrno>

using listingtest::Folder;

namespace {

TEST(ListingNormalize, FoldsLexically) {
    struct Case {
        const char* path;
        const char* cwd;
        const char* result;
    } const cases[] = {
        {"a/b", "/cwd", "/cwd/a/b"},
        {"a/b/", "/cwd", "/cwd/a/b/"}, // a trailing '/' stays as written
        {"/x//y/./z/..", "/cwd", "/x/y"},
        {"/x//y/./z/../", "/cwd", "/x/y/"},
        {"/..", "/cwd", "/"}, // ".." at the root stays there
        {"../../..", "/a/b", "/"},
        {"..", "/a/b", "/a"},
        {".", "/a/b", "/a/b"},
        {"", "/a", "/a"},
        {"/", "/a", "/"},
        {"//", "/a", "/"},
        {"a/../", "/c", "/c/"},
        {"link/..", "/c", "/c"}, // links are never resolved
        {"./докум", "/дом", "/дом/докум"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::normalizePath(c.path, c.cwd), QByteArray(c.result))
            << c.path << " in " << c.cwd;
}

TEST(ListingPaths, ExactExistence) {
    Folder dir;
    ASSERT_TRUE(dir.file("a.txt"));
    ASSERT_TRUE(dir.folder("sub"));
    ASSERT_TRUE(dir.symlink("nowhere", "dangling"));
    ASSERT_TRUE(dir.symlink("sub", "linkdir"));
    EXPECT_TRUE(platform::pathExists(dir / "a.txt"));
    EXPECT_FALSE(platform::pathExists(dir / "A.txt"));
    EXPECT_TRUE(platform::pathExists(dir / "dangling"));
    EXPECT_FALSE(platform::isFolder(dir / "dangling"));
    EXPECT_TRUE(platform::isFolder(dir / "linkdir"));
    EXPECT_FALSE(platform::isFolder(dir / "a.txt"));
    platform::fault::Scope faults;
    platform::fault::inject("lstat", EACCES);
    EXPECT_FALSE(platform::pathExists(dir / "a.txt"));
}

// Each case: what exists, the rename, the expected errno, and the names afterwards. Run
// once with renameat2 and once with the fallback of file systems that refuse its flag.
struct RenameCase {
    const char* what;
    const char* from;
    const char* to;
    int err;
};

void prepare(const Folder& dir) {
    ASSERT_TRUE(dir.file("file", 1));
    ASSERT_TRUE(dir.file("other", 2));
    ASSERT_TRUE(dir.folder("dir"));
    ASSERT_TRUE(dir.folder("emptydir"));
}

void runRenameCases(bool fallback) {
    const RenameCase cases[] = {
        {"file to a free name", "file", "new", 0},
        {"file onto a file", "file", "other", EEXIST},
        {"file onto a folder", "file", "dir", EEXIST},
        {"folder onto an empty folder", "dir", "emptydir", EEXIST},
        {"folder to a free name", "dir", "newdir", 0},
        {"case only", "file", "FILE", 0},
        {"missing source", "nothing", "new", ENOENT},
    };
    for (const RenameCase& c : cases) {
        Folder dir;
        prepare(dir);
        platform::fault::Scope faults;
        if (fallback)
            platform::fault::inject("renameat2", EINVAL);
        const auto before = docfiles::snapshot(dir.path());
        EXPECT_EQ(platform::renameNoReplace(dir / c.from, dir / c.to), c.err) << c.what;
        if (c.err == 0) {
            EXPECT_FALSE(dir.exists(c.from)) << c.what;
            EXPECT_TRUE(dir.exists(c.to)) << c.what;
        } else {
            EXPECT_EQ(docfiles::snapshot(dir.path()), before)
                << c.what; // nothing replaced, nothing moved
        }
    }
}

TEST(ListingRename, NeverReplaces) {
    runRenameCases(false);
}

TEST(ListingRename, FallbackWhereTheFlagIsRefused) {
    runRenameCases(true);
}

TEST(ListingRename, FallbackWithoutHardLinks) {
    Folder dir;
    prepare(dir);
    platform::fault::Scope faults;
    platform::fault::inject("renameat2", EINVAL);
    platform::fault::inject("link", EPERM);
    EXPECT_EQ(platform::renameNoReplace(dir / "file", dir / "other"), EEXIST);
    EXPECT_EQ(platform::renameNoReplace(dir / "file", dir / "new"), 0);
    EXPECT_TRUE(dir.exists("new"));
    EXPECT_FALSE(dir.exists("file"));
}

TEST(ListingRename, FailedUnlinkLeavesOneName) {
    Folder dir;
    prepare(dir);
    platform::fault::Scope faults;
    platform::fault::inject("renameat2", EINVAL);
    platform::fault::inject("unlink", EACCES, 0, 1);
    EXPECT_EQ(platform::renameNoReplace(dir / "file", dir / "new"), EACCES);
    EXPECT_TRUE(dir.exists("file"));
    EXPECT_FALSE(dir.exists("new"));
}

} // namespace
