// The platform notifier on its own, on the test's thread: the first wait after a busy start,
// a missing snapshot, failing system calls and unwatchable folders.
#include "platform/ChangeNotifier.h"
#include "platform/Fault.h"
#include "support/Fakes.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Wait = platform::ChangeNotifier::Wait;
using namespace std::chrono_literals;

// wait(), but a watchdog asks for a stop after `limit`, so that a missing change fails the
// test instead of hanging it.
Wait waitAtMost(platform::ChangeNotifier& notifier, std::chrono::milliseconds limit) {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (!done.wait_for(lock, limit, [&] { return finished; }))
            notifier.requestStop();
    });
    const Wait result = notifier.wait();
    {
        std::lock_guard lock(mutex);
        finished = true;
    }
    done.notify_all();
    watchdog.join();
    return result;
}

class ChangeNotifierTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    std::string path(const char* name) const { return dir.filePath(name).toStdString(); }
    void create(const char* name) const {
        const int fd = ::open(path(name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    void touch(const char* name) const {
        const timespec times[2] = {{0, UTIME_NOW}, {0, UTIME_NOW}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path(name).c_str(), times, 0), 0);
    }
    QByteArray root() const { return dir.path().toLocal8Bit(); }

    platform::fault::Scope faults;
    QTemporaryDir dir;
};

// Whatever happened between adding the watch and the snapshot counts: a listing made in
// between may have missed it. Afterwards the snapshot decides.
TEST_F(ChangeNotifierTest, EventsBeforeTheSnapshotCount) {
    create("a");
    platform::ChangeNotifier notifier(root());
    touch("a");
    EXPECT_EQ(waitAtMost(notifier, 2s), Wait::Changed);
    touch("a");
    ASSERT_EQ(::chmod(path("a").c_str(), 0444), 0);
    EXPECT_EQ(waitAtMost(notifier, 2s), Wait::Changed); // the touch alone would not answer
}

// Without a snapshot (the folder could not be read) every event for an entry is a change.
TEST_F(ChangeNotifierTest, NoSnapshotMakesEveryEventAChange) {
    create("a");
    platform::fault::inject("opendir", EACCES);
    platform::ChangeNotifier notifier(root());
    create("b");
    EXPECT_EQ(waitAtMost(notifier, 2s), Wait::Changed);
    touch("a");
    EXPECT_EQ(waitAtMost(notifier, 2s), Wait::Changed);
}

// Watching is background work: the thread that waits runs 10 steps nicer.
TEST_F(ChangeNotifierTest, TheWaitingThreadYields) {
    platform::ChangeNotifier notifier(root());
    int before = 0, after = 0;
    std::thread([&] {
        before = ::getpriority(PRIO_PROCESS, id_t(::gettid()));
        notifier.requestStop();
        EXPECT_EQ(notifier.wait(), Wait::Stopped);
        after = ::getpriority(PRIO_PROCESS, id_t(::gettid()));
    }).join();
    EXPECT_EQ(after, std::min(before + 10, 19));
}

TEST_F(ChangeNotifierTest, FailingCallsEndTheWait) {
    struct Case {
        const char* call;
        int err;
        Wait expected;
    };
    for (const Case& c : {Case{"read", EIO, Wait::Failed}, Case{"poll", ENOMEM, Wait::Failed},
                          Case{"poll", EINTR, Wait::Changed}, Case{"read", EINTR, Wait::Changed},
                          Case{"fstatat", EACCES, Wait::Changed}}) {
        SCOPED_TRACE(std::string(c.call) + " " + std::to_string(c.err));
        platform::fault::clear();
        // The inotify read fails through the fake; the other calls through their hooks.
        const auto inotify = std::make_shared<fakes::FakeInotify>();
        const fakes::Installed<platform::InotifyCalls> installed(platform::setInotifyCalls,
                                                                 inotify);
        platform::ChangeNotifier notifier(root());
        ASSERT_TRUE(notifier.isValid());
        // Snapshot and first drain without faults: a fresh notifier's first wait has no poll.
        create("primer");
        ASSERT_EQ(waitAtMost(notifier, 2s), Wait::Changed);
        ::unlink(path("primer").c_str());
        if (std::string_view(c.call) == "read")
            inotify->failNextRead(c.err);
        else
            platform::fault::inject(c.call, c.err, 0, 1);
        EXPECT_EQ(waitAtMost(notifier, 2s), c.expected);
    }
}

// What a listing shows is watched as it is described there: a loop of links is listed as a
// file, so its coming and going are changes.
TEST_F(ChangeNotifierTest, LinkLoopComesAndGoes) {
    platform::ChangeNotifier notifier(root());
    create("primer");
    ASSERT_EQ(waitAtMost(notifier, 2s), Wait::Changed);
    ASSERT_EQ(::symlink("loop", path("loop").c_str()), 0);
    EXPECT_EQ(waitAtMost(notifier, 2s), Wait::Changed);
    ASSERT_EQ(::unlink(path("loop").c_str()), 0);
    EXPECT_EQ(waitAtMost(notifier, 2s), Wait::Changed);
}

TEST_F(ChangeNotifierTest, UnwatchableFoldersKeepTheirErrno) {
    create("file");
    struct Case {
        QByteArray folder;
        int err;
    };
    for (const Case& c : {Case{root() + "/missing", ENOENT}, Case{root() + "/file", ENOTDIR},
                          Case{QByteArray(), ENOENT}}) {
        platform::ChangeNotifier notifier(c.folder);
        EXPECT_FALSE(notifier.isValid()) << c.folder.constData();
        EXPECT_EQ(notifier.error(), c.err) << c.folder.constData();
        EXPECT_EQ(notifier.wait(), Wait::Failed);
    }
}

} // namespace
