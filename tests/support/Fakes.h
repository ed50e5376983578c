#pragma once
// Fakes of the platform's replaceable interfaces, each installed for the life of an object:
// saves whose steps fail where a test says (a full disk, a refused rename), inotify with a
// limit of watches or a lost queue, and made-up volumes.
#include "platform/Fault.h"
#include "platform/Inotify.h"
#include "platform/Mounts.h"
#include "platform/PageFile.h"

#include <QtGlobal>

#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <mutex>
#include <sys/inotify.h>
#include <variant>

namespace fakes {

// Puts `fake` in through `set` for the life of the object; the one before comes back after.
template <class Interface> class Installed {
public:
    using Setter = std::shared_ptr<Interface> (*)(std::shared_ptr<Interface>);
    Installed(Setter set, std::shared_ptr<Interface> fake)
        : set_(set), previous_(set(std::move(fake))) {}
    ~Installed() { set_(previous_); }
    Q_DISABLE_COPY_MOVE(Installed)

private:
    Setter set_;
    std::shared_ptr<Interface> previous_;
};

// Unnamed: only the open of an unnamed file (O_TMPFILE), as where a file system lacks them.
enum class PageStep { Open, Reserve, Write, Flush, Link, Commit, Unnamed };

// While it exists, every save takes steps that fail where fail() says and otherwise go to the
// system; the steps before come back after it.
class PageStepFaults {
public:
    // `step` answers `err` from now on (0: it goes to the system again).
    void fail(PageStep step, int err) { steps_->errors[int(step)] = err; }

private:
    struct Steps : platform::SystemPageSteps {
        int errors[7] = {};
        template <class System> int or_(PageStep step, System system) {
            return errors[int(step)] ? errors[int(step)] : system();
        }
        int open(int dir, const char* name, int flags, int& fd) override {
            if ((flags & O_TMPFILE) == O_TMPFILE && errors[int(PageStep::Unnamed)])
                return errors[int(PageStep::Unnamed)];
            return or_(PageStep::Open, [&] { return SystemPageSteps::open(dir, name, flags, fd); });
        }
        int reserve(int fd, off_t size) override {
            return or_(PageStep::Reserve, [&] { return SystemPageSteps::reserve(fd, size); });
        }
        int write(int fd, QByteArrayView bytes, off_t at) override {
            return or_(PageStep::Write, [&] { return SystemPageSteps::write(fd, bytes, at); });
        }
        int flush(int fd) override {
            return or_(PageStep::Flush, [&] { return SystemPageSteps::flush(fd); });
        }
        int link(int fd, int dir, const char* name) override {
            return or_(PageStep::Link, [&] { return SystemPageSteps::link(fd, dir, name); });
        }
        int commit(int dir, const char* temp, const char* name) override {
            return or_(PageStep::Commit, [&] { return SystemPageSteps::commit(dir, temp, name); });
        }
    };
    std::shared_ptr<Steps> steps_ = std::make_shared<Steps>();
    Installed<platform::PageSteps> installed_{platform::setPageSteps, steps_};
};

// The system's inotify, except where a test says.
class FakeInotify : public platform::SystemInotifyCalls {
public:
    // Past `watches` watches, adding one fails with ENOSPC; past `instances` instances, making
    // one fails with EMFILE (as past the per-user limits).
    explicit FakeInotify(int watches = INT_MAX, int instances = INT_MAX)
        : left_(watches), instancesLeft_(instances) {}
    // The next read reports a lost queue (IN_Q_OVERFLOW) before the kernel's events.
    void loseQueue() { lose_ = true; }
    // The next read fails with `err`.
    void failNextRead(int err) { readError_ = err; }
    bool queueLost() const { return lost_; }

    int init(int flags) override {
        if (instancesLeft_-- <= 0) {
            errno = EMFILE;
            return -1;
        }
        return SystemInotifyCalls::init(flags);
    }
    int addWatch(int fd, const char* path, std::uint32_t mask) override {
        if (left_-- <= 0) {
            errno = ENOSPC;
            return -1;
        }
        return SystemInotifyCalls::addWatch(fd, path, mask);
    }
    ssize_t read(int fd, void* buffer, std::size_t size) override {
        if (const int err = readError_.exchange(0)) {
            errno = err;
            return -1;
        }
        if (!lose_.exchange(false))
            return SystemInotifyCalls::read(fd, buffer, size);
        inotify_event lost{};
        lost.wd = -1;
        lost.mask = IN_Q_OVERFLOW;
        std::memcpy(buffer, &lost, sizeof lost);
        lost_ = true;
        return sizeof lost;
    }

private:
    std::atomic<int> left_;
    std::atomic<int> instancesLeft_;
    std::atomic<int> readError_{0};
    std::atomic<bool> lose_{false};
    std::atomic<bool> lost_{false};
};

// Made-up volumes, so that nothing depends on this machine's mounts. Each answers its space at
// once, except `stuck`, which answers (false) only after release(), and those `refuses` names.
class Mounts : public platform::MountSource {
public:
    Mounts(std::vector<platform::Volume> list, quint64 total, quint64 available)
        : list_(std::move(list)), total_(total), available_(available) {}
    QByteArray stuck;
    std::function<bool(const QByteArray& mountPath)> refuses = [](const QByteArray&) {
        return false;
    };

    std::vector<platform::Volume> volumes() override { return list_; }
    bool space(const QByteArray& mountPath, quint64& total, quint64& available) override {
        std::unique_lock lock(mutex_);
        if (mountPath == stuck) {
            ++waiting_;
            changed_.wait(lock, [this] { return released_; });
            --waiting_;
            changed_.notify_all();
            return false;
        }
        total = total_;
        available = available_;
        return !refuses(mountPath);
    }
    // Lets the stuck query finish and waits until it has left the source.
    void release() {
        std::unique_lock lock(mutex_);
        released_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return waiting_ == 0; });
    }

private:
    const std::vector<platform::Volume> list_;
    const quint64 total_, available_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
    int waiting_ = 0;
};

// The fault of a table's case: none, a system call failing (by its hook name), or a step of
// the page's save failing.
using CaseFault = std::variant<std::monostate, const char*, PageStep>;

// Makes `fault` fail with `err`: a hook for `times` calls (< 0: all), a step of `steps`.
inline void arm(const CaseFault& fault, int err, int times, PageStepFaults& steps) {
    if (const auto* call = std::get_if<const char*>(&fault))
        platform::fault::inject(*call, err, 0, times);
    else if (const auto* step = std::get_if<PageStep>(&fault))
        steps.fail(*step, err);
}

} // namespace fakes
