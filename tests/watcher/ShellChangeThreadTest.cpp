// The change watcher: which changes call back, on which thread, how often, and that stopping
// (one watcher, or all at exit) is prompt and final.
#include "filectrls/ShellChangeThread.h"
#include "base/ApplicationException.h"
#include "base/Exception.h"
#include "platform/Fault.h"
#include "support/Fakes.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// How long a "no callback" check waits after its action. A callback comes within a few
// milliseconds; the real change made afterwards proves the watcher had looked by then.
constexpr int kQuietMs = 200;
constexpr int kDeadlineMs = 5000;

// Plain POSIX steps, each one system call where possible, so that one action is one event.
struct Fs {
    std::string root;
    std::string path(const std::string& name) const { return root + "/" + name; }

    void create(const std::string& name) const {
        const int fd = ::open(path(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << name;
        ::close(fd);
    }
    void write(const std::string& name, const std::string& data) const {
        const int fd = ::open(path(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << name;
        ASSERT_EQ(::write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
        ::close(fd);
    }
    void overwriteInPlace(const std::string& name, const std::string& data) const {
        const int fd = ::open(path(name).c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0) << name;
        ASSERT_EQ(::pwrite(fd, data.data(), data.size(), 0), static_cast<ssize_t>(data.size()));
        ::close(fd);
    }
    void mkdir(const std::string& name) const { ASSERT_EQ(::mkdir(path(name).c_str(), 0755), 0); }
    void rmdir(const std::string& name) const { ASSERT_EQ(::rmdir(path(name).c_str()), 0); }
    void unlink(const std::string& name) const { ASSERT_EQ(::unlink(path(name).c_str()), 0); }
    void rename(const std::string& from, const std::string& to) const {
        ASSERT_EQ(::rename(path(from).c_str(), path(to).c_str()), 0);
    }
    void chmod(const std::string& name, mode_t mode) const {
        ASSERT_EQ(::chmod(path(name).c_str(), mode), 0);
    }
    void truncate(const std::string& name, off_t size) const {
        ASSERT_EQ(::truncate(path(name).c_str(), size), 0);
    }
    void touch(const std::string& name) const {
        const timespec times[2] = {{0, UTIME_NOW}, {0, UTIME_NOW}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path(name).c_str(), times, 0), 0);
    }
    void symlink(const std::string& target, const std::string& name) const {
        ASSERT_EQ(::symlink(target.c_str(), path(name).c_str()), 0);
    }
    void read(const std::string& name) const {
        const int fd = ::open(path(name).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0) << name;
        char buffer[16];
        ASSERT_GE(::read(fd, buffer, sizeof buffer), 0);
        ::close(fd);
    }
};

class WatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        fs.root = dir.path().toStdString();
        ASSERT_EQ(TShellChangeThread::LiveCount(), 0);
    }

    void TearDown() override {
        if (watcher)
            watcher->Terminate();
        watcher = nullptr;
        TShellChangeThread::StopAll();
        platform::setInotifyCalls(nullptr); // a case may have put in a fake
        // Let stale hand-overs of stopped watchers drain.
        QCoreApplication::processEvents();
        EXPECT_EQ(TShellChangeThread::LiveCount(), 0);
    }

    void start(const std::string& folder) {
        watcher = TShellChangeThread::Create(QByteArray::fromStdString(folder), [this] {
            ++calls;
            if (QThread::currentThread() != QCoreApplication::instance()->thread())
                ++callsOffGuiThread;
            if (onCall)
                onCall();
        });
        ASSERT_NE(watcher, nullptr);
    }

    // Starts watching the temporary folder and waits until the watcher has taken its
    // snapshot, proved by a first change coming back.
    void startPrimed() {
        start(fs.root);
        fs.create("primer" + std::to_string(primers++));
        ASSERT_TRUE(waitForCalls(1));
        ASSERT_TRUE(settlesAt(1));
    }

    bool waitForCalls(int n) {
        return QTest::qWaitFor([&] { return calls >= n; }, kDeadlineMs);
    }
    // True when no further callback comes within the quiet time.
    bool settlesAt(int n) {
        QTest::qWait(kQuietMs);
        return calls == n;
    }
    // Waits (without running the GUI thread's events) until a hand-over is queued.
    static bool waitForPendingHandOver() {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (TShellChangeThread::PendingCount() == 0) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }
    static bool waitForLiveCount(int n) {
        return QTest::qWaitFor([&] { return TShellChangeThread::LiveCount() == n; }, kDeadlineMs);
    }

    QTemporaryDir dir;
    Fs fs;
    TShellChangeThread* watcher = nullptr;
    TShellChangeThread* second = nullptr;
    int calls = 0;
    int callsOffGuiThread = 0;
    int primers = 0;
    std::function<void()> onCall;
};

struct FsCase {
    const char* name;
    std::function<void(const Fs&)> setup;
    std::function<void(const Fs&)> action;
};

void PrintTo(const FsCase& c, std::ostream* os) {
    *os << c.name;
}
std::string caseName(const ::testing::TestParamInfo<FsCase>& param) {
    return param.param.name;
}

// --- changes a listing shows call back exactly once, on the GUI thread ---

class WatcherChangeTest : public WatcherTest, public ::testing::WithParamInterface<FsCase> {};

TEST_P(WatcherChangeTest, CallsBackOnceOnTheGuiThread) {
    const FsCase& c = GetParam();
    if (c.setup)
        c.setup(fs);
    startPrimed();
    c.action(fs);
    ASSERT_TRUE(waitForCalls(2)) << "no callback";
    EXPECT_TRUE(settlesAt(2)) << calls << " callbacks";
    EXPECT_EQ(callsOffGuiThread, 0);
}

const auto none = [](const Fs&) {};
const auto withFile = [](const Fs& fs) { fs.write("a_.txt", "12345"); };

INSTANTIATE_TEST_SUITE_P(
    Changes, WatcherChangeTest,
    ::testing::Values(
        FsCase{"CreateFile", none, [](const Fs& fs) { fs.create("new_.txt"); }},
        FsCase{"CreateFolder", none, [](const Fs& fs) { fs.mkdir("sub"); }},
        FsCase{"CreateSymlink", none, [](const Fs& fs) { fs.symlink("nowhere", "link"); }},
        FsCase{"DeleteFile", withFile, [](const Fs& fs) { fs.unlink("a_.txt"); }},
        FsCase{"DeleteFolder", [](const Fs& fs) { fs.mkdir("sub"); },
               [](const Fs& fs) { fs.rmdir("sub"); }},
        FsCase{"RenameFile", withFile, [](const Fs& fs) { fs.rename("a_.txt", "b_.txt"); }},
        FsCase{"RenameOntoExistingSameSize",
               [](const Fs& fs) {
                   fs.write("a_.txt", "12345");
                   fs.write("b_.txt", "abcde");
               },
               [](const Fs& fs) { fs.rename("b_.txt", "a_.txt"); }},
        FsCase{"MoveOutToSubfolder",
               [](const Fs& fs) {
                   fs.write("a_.txt", "12345");
                   fs.mkdir("sub");
               },
               [](const Fs& fs) { fs.rename("a_.txt", "sub/a_.txt"); }},
        FsCase{"MoveInOntoExistingSameSize",
               [](const Fs& fs) {
                   fs.write("a_.txt", "12345");
                   fs.mkdir("sub");
                   fs.write("sub/a_.txt", "abcde");
               },
               [](const Fs& fs) { fs.rename("sub/a_.txt", "a_.txt"); }},
        FsCase{"Grow", withFile, [](const Fs& fs) { fs.truncate("a_.txt", 4096); }},
        FsCase{"Shrink", withFile, [](const Fs& fs) { fs.truncate("a_.txt", 1); }},
        FsCase{"AppendInPlace", withFile,
               [](const Fs& fs) { fs.overwriteInPlace("a_.txt", "1234567"); }},
        FsCase{"MakeReadOnly", withFile, [](const Fs& fs) { fs.chmod("a_.txt", 0444); }},
        // The folder's own rights: it may have become unreadable, or readable again.
        FsCase{"ChmodTheFolderItself", none,
               [](const Fs& fs) { ASSERT_EQ(::chmod(fs.root.c_str(), 0750), 0); }},
        FsCase{"MakeWritable",
               [](const Fs& fs) {
                   fs.write("a_.txt", "12345");
                   fs.chmod("a_.txt", 0444);
               },
               [](const Fs& fs) { fs.chmod("a_.txt", 0644); }}),
    caseName);

// --- what a listing does not show never calls back ---

class WatcherQuietTest : public WatcherTest, public ::testing::WithParamInterface<FsCase> {};

TEST_P(WatcherQuietTest, DoesNotCallBack) {
    const FsCase& c = GetParam();
    if (c.setup)
        c.setup(fs);
    startPrimed();
    c.action(fs);
    EXPECT_TRUE(settlesAt(1)) << "the action called back";
    // A real change still comes back once: the watcher was looking all along.
    fs.create("sentinel");
    ASSERT_TRUE(waitForCalls(2));
    EXPECT_TRUE(settlesAt(2)) << calls << " callbacks";
}

INSTANTIATE_TEST_SUITE_P(
    NonChanges, WatcherQuietTest,
    ::testing::Values(FsCase{"Touch", withFile, [](const Fs& fs) { fs.touch("a_.txt"); }},
                      FsCase{"TouchFolder", [](const Fs& fs) { fs.mkdir("sub"); },
                             [](const Fs& fs) { fs.touch("sub"); }},
                      FsCase{"ChmodSameMode", withFile,
                             [](const Fs& fs) { fs.chmod("a_.txt", 0644); }},
                      FsCase{"RewriteSameSizeInPlace", withFile,
                             [](const Fs& fs) { fs.overwriteInPlace("a_.txt", "54321"); }},
                      FsCase{"Read", withFile, [](const Fs& fs) { fs.read("a_.txt"); }},
                      FsCase{"CreateInSubfolder", [](const Fs& fs) { fs.mkdir("sub"); },
                             [](const Fs& fs) { fs.write("sub/deep_.txt", "text"); }},
                      FsCase{"DeleteAndRenameInSubfolder",
                             [](const Fs& fs) {
                                 fs.mkdir("sub");
                                 fs.write("sub/a_.txt", "1");
                                 fs.write("sub/b_.txt", "2");
                             },
                             [](const Fs& fs) {
                                 fs.unlink("sub/a_.txt");
                                 fs.rename("sub/b_.txt", "sub/c_.txt");
                             }},
                      FsCase{"TouchTheFolderItself", none,
                             [](const Fs& fs) {
                                 const timespec times[2] = {{0, UTIME_NOW}, {0, UTIME_NOW}};
                                 ASSERT_EQ(::utimensat(AT_FDCWD, fs.root.c_str(), times, 0), 0);
                             }}),
    caseName);

// --- bursts, stops and the end of the folder ---

TEST_F(WatcherTest, BurstDuringCallbackGivesExactlyOneMore) {
    startPrimed();
    onCall = [this] {
        if (calls != 2)
            return;
        // The watcher is blocked in its hand-over while this runs.
        for (int i = 0; i < 50; ++i)
            fs.write("burst" + std::to_string(i) + "_.txt", "x");
        fs.unlink("burst0_.txt");
        fs.chmod("burst1_.txt", 0444);
    };
    fs.create("trigger");
    ASSERT_TRUE(waitForCalls(3));
    EXPECT_TRUE(settlesAt(3)) << calls << " callbacks";
}

TEST_F(WatcherTest, StopsAtOnceWithoutAnyChange) {
    start(fs.root);
    ASSERT_TRUE(waitForLiveCount(1));
    QTest::qWait(50); // let it settle into its wait
    const auto before = std::chrono::steady_clock::now();
    watcher->Terminate();
    watcher = nullptr;
    ASSERT_TRUE(waitForLiveCount(0));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_EQ(calls, 0);
}

class WatcherUnwatchableTest : public WatcherTest, public ::testing::WithParamInterface<FsCase> {};

TEST_P(WatcherUnwatchableTest, EndsAtOnceWithoutCallback) {
    platform::fault::Scope faults;
    const FsCase& c = GetParam();
    c.setup(fs);
    start(fs.path("target"));
    EXPECT_EQ(TShellChangeThread::LiveCount(), 0);
    if (QDir(dir.filePath("target")).exists())
        fs.create("target/x");
    EXPECT_TRUE(settlesAt(0));
}

INSTANTIATE_TEST_SUITE_P(
    Folders, WatcherUnwatchableTest,
    ::testing::Values(FsCase{"Missing", [](const Fs&) {}, nullptr},
                      FsCase{"AFile", [](const Fs& fs) { fs.write("target", "file"); }, nullptr},
                      FsCase{"TooManyInstances",
                             [](const Fs& fs) {
                                 fs.mkdir("target");
                                 platform::setInotifyCalls(
                                     std::make_shared<fakes::FakeInotify>(INT_MAX, 0));
                             },
                             nullptr},
                      FsCase{"TooManyWatches",
                             [](const Fs& fs) {
                                 fs.mkdir("target");
                                 platform::setInotifyCalls(std::make_shared<fakes::FakeInotify>(0));
                             },
                             nullptr},
                      FsCase{"NoWakeEvent",
                             [](const Fs& fs) {
                                 fs.mkdir("target");
                                 platform::fault::inject("eventfd", EMFILE);
                             },
                             nullptr}),
    caseName);

TEST_F(WatcherTest, EmptyFolderNameIsNotWatched) {
    watcher = TShellChangeThread::Create(QByteArray(), [this] { ++calls; });
    EXPECT_EQ(TShellChangeThread::LiveCount(), 0);
}

// The folder itself going away gives one last callback, and the thread ends.
class WatcherFolderGoneTest : public WatcherTest, public ::testing::WithParamInterface<FsCase> {};

TEST_P(WatcherFolderGoneTest, CallsBackOnceAndEnds) {
    fs.mkdir("watched");
    start(fs.path("watched"));
    ASSERT_TRUE(waitForLiveCount(1));
    GetParam().action(fs);
    ASSERT_TRUE(waitForCalls(1));
    ASSERT_TRUE(waitForLiveCount(0));
    EXPECT_TRUE(settlesAt(1));
}

INSTANTIATE_TEST_SUITE_P(
    Ends, WatcherFolderGoneTest,
    ::testing::Values(FsCase{"Deleted", nullptr, [](const Fs& fs) { fs.rmdir("watched"); }},
                      FsCase{"Renamed", nullptr,
                             [](const Fs& fs) { fs.rename("watched", "elsewhere"); }}),
    caseName);

TEST_F(WatcherTest, InterruptedWaitGoesOn) {
    platform::fault::Scope faults;
    platform::fault::inject("poll", EINTR, 0, 3);
    startPrimed();
    fs.create("after");
    ASSERT_TRUE(waitForCalls(2));
}

TEST_F(WatcherTest, FailedWaitEndsQuietly) {
    platform::fault::Scope faults;
    platform::fault::inject("poll", ENOMEM);
    start(fs.root);
    ASSERT_TRUE(waitForLiveCount(0));
    platform::fault::clear();
    fs.create("after");
    EXPECT_TRUE(settlesAt(0));
}

// Once the kernel's queue overflowed, the change still comes back once, and the snapshot
// is taken again (a touch afterwards is still no change).
TEST_F(WatcherTest, QueueOverflowIsOneChange) {
    fs.create("f0");
    fs.create("f1");
    startPrimed();
    onCall = [this] {
        if (calls != 2)
            return;
        // Alternating names, so that the kernel cannot merge the events; more of them than
        // it queues by default (16384).
        for (int i = 0; i < 20000; ++i)
            fs.touch(i % 2 ? "f1" : "f0");
    };
    fs.create("trigger");
    ASSERT_TRUE(waitForCalls(3));
    EXPECT_TRUE(settlesAt(3)) << calls << " callbacks";
    onCall = nullptr;
    fs.touch("f1");
    EXPECT_TRUE(settlesAt(3));
    fs.unlink("f0");
    ASSERT_TRUE(waitForCalls(4));
}

// --- the callback's errors and the guarantees of stopping ---

TEST_F(WatcherTest, ThrowingCallbackGoesToTheApplicationAndWatchingGoesOn) {
    std::vector<std::string> reported;
    const auto previous = setApplicationExceptionHandler([&](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            reported.push_back(e.what());
        }
    });
    startPrimed();
    onCall = [this] {
        if (calls == 2)
            throw EInOutError(2);
        if (calls == 3)
            throw std::runtime_error("second");
    };
    fs.create("one");
    ASSERT_TRUE(waitForCalls(2));
    fs.create("two");
    ASSERT_TRUE(waitForCalls(3));
    fs.create("three");
    ASSERT_TRUE(waitForCalls(4));
    setApplicationExceptionHandler(previous);
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported[0], "File not found");
    EXPECT_EQ(reported[1], "second");
    EXPECT_EQ(TShellChangeThread::LiveCount(), 1);
}

TEST_F(WatcherTest, NoCallbackAfterTerminateEvenWhenHandedOver) {
    startPrimed();
    fs.create("change");
    ASSERT_TRUE(waitForPendingHandOver());
    watcher->Terminate();
    watcher = nullptr;
    EXPECT_TRUE(settlesAt(1));
    EXPECT_TRUE(waitForLiveCount(0));
}

TEST_F(WatcherTest, TerminateFromInsideTheCallback) {
    startPrimed();
    onCall = [this] {
        watcher->Terminate();
        watcher = nullptr;
        fs.create("during");
    };
    fs.create("change");
    ASSERT_TRUE(waitForCalls(2));
    EXPECT_TRUE(waitForLiveCount(0));
    EXPECT_TRUE(settlesAt(2));
}

TEST_F(WatcherTest, ToggledManyTimesLeavesOneWatcher) {
    auto token = std::make_shared<int>(0);
    for (int i = 0; i < 25; ++i) {
        if (watcher)
            watcher->Terminate();
        // The old watchers' callbacks must be gone with their Terminate().
        watcher = TShellChangeThread::Create(QByteArray::fromStdString(fs.root),
                                             [this, token] { ++calls; });
    }
    ASSERT_TRUE(waitForLiveCount(1));
    EXPECT_EQ(token.use_count(), 2);
    fs.create("change");
    ASSERT_TRUE(waitForCalls(1));
    EXPECT_TRUE(settlesAt(1)) << calls << " callbacks";
}

TEST_F(WatcherTest, StopAllJoinsAWatcherBlockedInItsHandOver) {
    auto token = std::make_shared<int>(0);
    int blockedCalls = 0;
    TShellChangeThread* blocked = TShellChangeThread::Create(
        QByteArray::fromStdString(fs.root), [token, &blockedCalls] { ++blockedCalls; });
    startPrimed(); // a second, idle watcher on the same folder
    ASSERT_EQ(blockedCalls, 1);
    fs.create("change");
    ASSERT_TRUE(waitForPendingHandOver());
    TShellChangeThread::StopAll();
    EXPECT_EQ(TShellChangeThread::LiveCount(), 0);
    EXPECT_EQ(token.use_count(), 1) << "the callback was not released";
    const int before = calls;
    QTest::qWait(kQuietMs);
    EXPECT_EQ(blockedCalls, 1);
    EXPECT_EQ(calls, before);
    EXPECT_EQ(TShellChangeThread::PendingCount(), 0);
    blocked->Terminate(); // still accepted after StopAll
    // New watchers work after StopAll.
    watcher->Terminate();
    watcher = nullptr;
    calls = 0;
    startPrimed();
}

// The program ends while a watcher waits in its hand-over: destroying the application object
// stops and joins it (the child process then leaves at once, skipping main's own clean-up).
TEST_F(WatcherTest, ApplicationEndJoinsAWatcherBlockedInItsHandOver) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            startPrimed();
            fs.create("change");
            if (!waitForPendingHandOver())
                std::_Exit(2);
            QCoreApplication* app = QCoreApplication::instance();
            app->~QCoreApplication();
            const bool joined = TShellChangeThread::LiveCount() == 0 && calls == 1;
            dir.remove(); // the child's own folder: _Exit skips the fixture's clean-up
            std::_Exit(joined ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}

// exit() from anywhere with watchers alive, one blocked in its hand-over, neither hangs nor
// aborts.
TEST_F(WatcherTest, ExitWithLiveWatchersDoesNotHang) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // The child's own folder goes last: exit() skips the fixture's clean-up.
            static QTemporaryDir* folder = &dir;
            std::atexit([] { folder->remove(); });
            startPrimed();
            // A member, so that it stays reachable: exit() skips every Terminate().
            second = TShellChangeThread::Create(QByteArray::fromStdString(fs.root), [] {});
            fs.create("change");
            if (!waitForPendingHandOver())
                std::_Exit(2);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
