#pragma once
// Fakes of the platform's replaceable interfaces, each installed for the life of an object:
// saves whose steps fail where a test says (a full disk, a refused rename), and inotify with a
// limit of watches (ENOSPC past it, as past fs.inotify.max_user_watches).
#include "platform/Fault.h"
#include "platform/Inotify.h"
#include "platform/PageFile.h"

#include <QtGlobal>

#include <atomic>
#include <cerrno>
#include <memory>
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

enum class PageStep { Open, Reserve, Write, Flush, Commit };

// While it exists, every save takes steps that fail where fail() says and otherwise go to the
// system; the steps before come back after it.
class PageStepFaults {
public:
    // `step` answers `err` from now on (0: it goes to the system again).
    void fail(PageStep step, int err) { steps_->errors[int(step)] = err; }

private:
    struct Steps : platform::SystemPageSteps {
        int errors[5] = {};
        template <class System> int or_(PageStep step, System system) {
            return errors[int(step)] ? errors[int(step)] : system();
        }
        int open(int dir, const char* name, int flags, int& fd) override {
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
        int commit(int dir, const char* temp, const char* name) override {
            return or_(PageStep::Commit, [&] { return SystemPageSteps::commit(dir, temp, name); });
        }
    };
    std::shared_ptr<Steps> steps_ = std::make_shared<Steps>();
    Installed<platform::PageSteps> installed_{platform::setPageSteps, steps_};
};

class LimitedInotify : public platform::SystemInotifyCalls {
public:
    explicit LimitedInotify(int watches) : left_(watches) {}
    int addWatch(int fd, const char* path, std::uint32_t mask) override {
        if (left_-- <= 0) {
            errno = ENOSPC;
            return -1;
        }
        return SystemInotifyCalls::addWatch(fd, path, mask);
    }

private:
    std::atomic<int> left_;
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
