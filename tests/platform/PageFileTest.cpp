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
#include <sys/resource.h>
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

    faults_.fail(fakes::PageStep::Unnamed, EOPNOTSUPP); // a temporary name, then none left
    ASSERT_TRUE(saveFileAtomically(page_, ""));
    EXPECT_EQ(docfiles::readFile(page_), QByteArray(""));
    EXPECT_EQ(docfiles::snapshot(root_).keys(), QList<QByteArray>{"index.htm"});
}

// Swapped for a link after it was looked at: the link is replaced, its target never written.
TEST_F(PageFileTest, PageSwappedForALinkIsReplaced) {
    ASSERT_TRUE(docfiles::writeFile(root_ + "/secret", "its own", 0600));
    ASSERT_TRUE(docfiles::writeFile(page_, "old"));
    platform::fault::Scope faults;
    platform::fault::onReach("page-name", [&] {
        ASSERT_EQ(::unlink(page_.constData()) + ::symlink("secret", page_.constData()), 0);
    });
    ASSERT_TRUE(saveFileAtomically(page_, "new"));
    EXPECT_EQ(docfiles::readFile(root_ + "/secret"), QByteArray("its own"));
    EXPECT_EQ(docfiles::readFile(page_), QByteArray("new"));
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
        {PageStep::Link, EIO, SaveFailure::Write},
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

TEST_F(PageFileTest, KeepsOwnerAndGroupAsRoot) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "changing the owner needs root";
    ASSERT_TRUE(docfiles::writeFile(page_, "old page", 0644));
    ASSERT_EQ(::chown(page_.constData(), 1234, 4321), 0);
    ASSERT_TRUE(saveFileAtomically(page_, "new page"));
    struct stat st;
    ASSERT_EQ(::stat(page_.constData(), &st), 0);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 4321u);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(docfiles::readFile(page_), QByteArray("new page"));
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
