// Atomic saving: the old file stays exactly as it was unless the new content is complete.
#include "platform/PageFile.h"
#include "platform/Fault.h"

#include "support/DocFiles.h"
#include "support/Fakes.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

using platform::SaveFailure;
using platform::saveFileAtomically;

namespace {

class PageFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        root_ = QFile::encodeName(dir_.path());
        page_ = root_ + "/index.htm";
    }

    QTemporaryDir dir_;
    QByteArray root_;
    QByteArray page_;
    fakes::PageStepFaults faults_;
};

mode_t modeOf(const QByteArray& path) {
    struct stat st;
    return ::stat(path.constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

TEST_F(PageFileTest, CreatesAndReplaces) {
    ASSERT_TRUE(saveFileAtomically(page_, "first"));
    EXPECT_EQ(docfiles::readFile(page_), QByteArray("first"));
    const mode_t umaskValue = ::umask(022);
    ::umask(umaskValue);
    EXPECT_EQ(modeOf(page_), mode_t(0666 & ~umaskValue));

    ASSERT_EQ(::chmod(page_.constData(), 0640), 0);
    ASSERT_TRUE(saveFileAtomically(page_, "second, longer"));
    EXPECT_EQ(docfiles::readFile(page_), QByteArray("second, longer"));
    EXPECT_EQ(modeOf(page_), mode_t(0640));

    ASSERT_TRUE(saveFileAtomically(page_, ""));
    EXPECT_EQ(docfiles::readFile(page_), QByteArray(""));
    EXPECT_EQ(docfiles::snapshot(root_).keys(), QList<QByteArray>{"index.htm"});
}

// Saves in a child process, as nobody when asked (root only).
static bool saveAs(bool nobody, const QByteArray& path, const QByteArray& bytes) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (nobody && (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                       ::setresuid(65534, 65534, 65534) != 0))
            ::_exit(2);
        ::_exit(saveFileAtomically(path, bytes) ? 0 : 1);
    }
    int wstatus = 0;
    return child > 0 && ::waitpid(child, &wstatus, 0) == child && WIFEXITED(wstatus) &&
           WEXITSTATUS(wstatus) == 0;
}

// Whatever stands at the name is replaced by the page, also when it is swapped for a link
// after it was looked at; what it points to is never written, whoever runs the save.
TEST_F(PageFileTest, ReplacesTheNameNeverWhatItLeadsTo) {
    const QByteArray outside = root_ + "/outside";
    ASSERT_EQ(::mkdir(outside.constData(), 0755), 0);
    const QByteArray folder = root_ + "/pub";
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    ASSERT_TRUE(docfiles::writeFile(outside + "/secret", "its owner's own", 0600));
    ASSERT_TRUE(docfiles::writeFile(folder + "/real.htm", "old"));
    const QByteArray page = folder + "/index.htm";
    const auto linkOutside = [](const char* at) { return ::symlink("../outside/secret", at); };
    const struct {
        const char* what;
        std::function<int(const char*)> make;
        bool swapAfterCheck;
    } cases[] = {
        {"link in the folder", [](const char* at) { return ::symlink("real.htm", at); }, false},
        {"link outside", linkOutside, false},
        {"dangling link", [](const char* at) { return ::symlink("../outside/new", at); }, false},
        {"FIFO", [](const char* at) { return ::mkfifo(at, 0644); }, false},
        {"device", [](const char* at) { return ::mknod(at, S_IFCHR | 0644, makedev(1, 3)); },
         false},
        {"page swapped for a link",
         [](const char* at) { return docfiles::writeFile(at, "p") ? 0 : -1; }, true},
    };
    for (const bool nobody : {false, true}) {
        if (nobody &&
            (::geteuid() != 0 || std::system(("chown -R 65534:65534 " + root_).constData()) != 0))
            continue;
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            SCOPED_TRACE(nobody ? "as nobody" : "as the test's user");
            platform::fault::Scope faults;
            ::unlink(page.constData());
            if (c.make(page.constData()) != 0) {
                EXPECT_EQ(errno, EPERM) << "only a device may be refused, to an unprivileged user";
                continue;
            }
            if (c.swapAfterCheck)
                platform::fault::onReach("page-name", [&] {
                    ::unlink(page.constData());
                    linkOutside(page.constData());
                });
            const auto before = docfiles::snapshot(outside);
            ASSERT_TRUE(saveAs(nobody, page, "new"));
            struct stat st;
            ASSERT_EQ(::lstat(page.constData(), &st), 0);
            EXPECT_TRUE(S_ISREG(st.st_mode));
            EXPECT_EQ(docfiles::readFile(page), QByteArray("new"));
            EXPECT_EQ(docfiles::readFile(folder + "/real.htm"), QByteArray("old"));
            EXPECT_EQ(docfiles::snapshot(outside), before);
            EXPECT_EQ(docfiles::snapshot(folder).keys(),
                      (QList<QByteArray>{"index.htm", "real.htm"}));
        }
    }
}

// The page is made unnamed; a temporary name only where the file system has no unnamed files.
TEST_F(PageFileTest, TemporaryNameOnlyWithoutUnnamedFiles) {
    for (const bool exists : {false, true}) {
        faults_.fail(fakes::PageStep::Unnamed, EOPNOTSUPP);
        faults_.fail(fakes::PageStep::Commit,
                     EXDEV); // stops the fallback with its name still there
        if (exists) {
            ASSERT_TRUE(docfiles::writeFile(page_, "old", 0640));
        }
        EXPECT_EQ(saveFileAtomically(page_, "new").err, EXDEV);
        faults_.fail(fakes::PageStep::Unnamed, 0);
        faults_.fail(fakes::PageStep::Commit, 0);
        ASSERT_TRUE(saveFileAtomically(page_, "newer"));
        EXPECT_EQ(docfiles::readFile(page_), QByteArray("newer"));
        EXPECT_EQ(docfiles::snapshot(root_).keys(), QList<QByteArray>{"index.htm"});
    }
}

TEST_F(PageFileTest, ReachesAFolderWhoseNameIsNotUtf8) {
    const QByteArray folder = root_ + "/\xCF\xE0\xEF\xEA\xE0"; // "Папка" in cp1251
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    ASSERT_TRUE(docfiles::writeFile(folder + "/index.htm", "old"));
    ASSERT_TRUE(saveFileAtomically(folder + "/index.htm", "new"));
    EXPECT_EQ(docfiles::readFile(folder + "/index.htm"), QByteArray("new"));
    EXPECT_EQ(docfiles::snapshot(folder).keys(), QList<QByteArray>{"index.htm"});
    docfiles::removeTree(folder);
}

TEST_F(PageFileTest, CreateFailuresLeaveEverythingAsItWas) {
    ASSERT_EQ(::mkdir((root_ + "/folder.htm").constData(), 0755), 0);
    ASSERT_TRUE(docfiles::writeFile(root_ + "/readonly.htm", "old page", 0444));
    ASSERT_TRUE(docfiles::writeFile(root_ + "/plain", "x"));
    const struct {
        QByteArray name;
        int err;
    } cases[] = {
        {"/readonly.htm", EACCES}, // refused even as root
        {"/folder.htm", EISDIR},       {"/missing/index.htm", ENOENT},
        {"/plain/index.htm", ENOTDIR}, {QByteArray("/plain\0/index.htm", 17), EINVAL},
    };
    const auto before = docfiles::snapshot(root_);
    for (const auto& c : cases) {
        const platform::SaveStatus status = saveFileAtomically(root_ + c.name, "new page");
        EXPECT_EQ(status.failure, SaveFailure::Create) << c.name.constData();
        EXPECT_EQ(status.err, c.err) << c.name.constData();
    }
    EXPECT_EQ(docfiles::snapshot(root_), before);
}

TEST_F(PageFileTest, EveryStepThatFailsKeepsTheOldFile) {
    using fakes::PageStep;
    ASSERT_TRUE(docfiles::writeFile(page_, "old page", 0640));
    const struct {
        PageStep step;
        int err;
        SaveFailure failure;
    } cases[] = {
        {PageStep::Open, EACCES, SaveFailure::Create},
        {PageStep::Open, EROFS, SaveFailure::Create},
        {PageStep::Write, ENOSPC, SaveFailure::Write},
        {PageStep::Flush, EIO, SaveFailure::Write},
        {PageStep::Link, EMLINK, SaveFailure::Write},
        {PageStep::Commit, EXDEV, SaveFailure::Write},
    };
    const auto before = docfiles::snapshot(root_);
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.step));
        fakes::PageStepFaults faults;
        faults.fail(c.step, c.err);
        const platform::SaveStatus status = saveFileAtomically(page_, "a new page");
        EXPECT_EQ(status.failure, c.failure);
        EXPECT_EQ(status.err, c.err);
        EXPECT_EQ(docfiles::snapshot(root_), before);
    }
}

TEST_F(PageFileTest, ShortWriteKeepsTheOldFile) {
    ASSERT_TRUE(docfiles::writeFile(page_, "old page"));
    const auto before = docfiles::snapshot(root_);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The file-size limit makes the first write come back short and the next one fail.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, 100};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const platform::SaveStatus status = saveFileAtomically(page_, QByteArray(1000, 'x'));
        ::_exit(status.failure == SaveFailure::Write ? 0 : 1);
    }
    int wstatus = 0;
    ASSERT_EQ(::waitpid(child, &wstatus, 0), child);
    ASSERT_TRUE(WIFEXITED(wstatus));
    EXPECT_EQ(WEXITSTATUS(wstatus), 0);
    EXPECT_EQ(docfiles::snapshot(root_), before);
}

// As root the page stays its owner's; a member of a shared folder's group keeps its group
// and its group write bit (the owner stays the writer's).
TEST_F(PageFileTest, KeepsOwnerGroupAndMode) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "changing the owner needs root";
    ASSERT_EQ(::chown(root_.constData(), 0, 4321), 0);
    ASSERT_EQ(::chmod(root_.constData(), 02775), 0);
    for (const bool member : {false, true}) {
        SCOPED_TRACE(member ? "group member" : "root");
        ASSERT_TRUE(docfiles::writeFile(page_, "old page", 0664));
        ASSERT_EQ(::chown(page_.constData(), 1234, 4321), 0);
        ASSERT_EQ(::chmod(page_.constData(), 0664), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const gid_t group = 4321;
            ::umask(022);
            if (member && (::setgroups(1, &group) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                           ::setresuid(65534, 65534, 65534) != 0))
                ::_exit(2);
            ::_exit(saveFileAtomically(page_, "new page") ? 0 : 3);
        }
        int wstatus = 0;
        ASSERT_EQ(::waitpid(child, &wstatus, 0), child);
        EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) << wstatus;
        struct stat st;
        ASSERT_EQ(::stat(page_.constData(), &st), 0);
        EXPECT_EQ(st.st_uid, member ? 65534u : 1234u);
        EXPECT_EQ(st.st_gid, 4321u);
        EXPECT_EQ(st.st_mode & 07777, 0664u);
        EXPECT_EQ(docfiles::readFile(page_), QByteArray("new page"));
    }
}

TEST(PageFilePath, FullPathOf) {
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    const QByteArray here(cwd);
    const struct {
        QByteArray path;
        QByteArray full;
    } cases[] = {
        {"/a/b/index.htm", "/a/b/index.htm"},
        {"/a/./b//../c/index.htm", "/a/c/index.htm"},
        {"/../index.htm", "/index.htm"},
        {"/a/b/", "/a/b/"},
        {"index.htm", (here == "/" ? QByteArray() : here) + "/index.htm"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::fullPathOf(c.path), c.full) << c.path.constData();
}

// Folder not writable, page writable: rewritten in place, but only once its size is reserved.
TEST_F(PageFileTest, InPlaceRewriteReservesFirst) {
    ASSERT_TRUE(docfiles::writeFile(page_, "the old page"));
    ASSERT_EQ(::chmod(root_.constData(), 0555), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Root writes any folder: as nobody, only the page (handed over) is writable.
        if (::geteuid() == 0 &&
            (::chown(page_.constData(), 65534, 65534) != 0 ||
             ::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0))
            ::_exit(2);
        faults_.fail(fakes::PageStep::Reserve, ENOSPC);
        const platform::SaveStatus full = saveFileAtomically(page_, QByteArray(5000, 'n'));
        const bool kept = full.err == ENOSPC && docfiles::readFile(page_) == "the old page";
        faults_.fail(fakes::PageStep::Reserve, 0);
        ::_exit(kept && saveFileAtomically(page_, "new") && docfiles::readFile(page_) == "new" ? 0
                                                                                               : 3);
    }
    int wstatus = 0;
    ASSERT_EQ(::waitpid(child, &wstatus, 0), child);
    ::chmod(root_.constData(), 0755);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) << wstatus;
    EXPECT_EQ(docfiles::snapshot(root_).keys(), QList<QByteArray>{"index.htm"});
}
