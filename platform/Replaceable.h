#pragma once
// One process-wide implementation of an interface through which the platform reaches the
// system (mounts, a page's save steps, inotify). The system's is the default; tests put in a
// fake, so that failures and events the machine will not give on demand need no hook in the
// shipped code. Callers take a reference once per task and keep it while they work.
#include <memory>
#include <mutex>
#include <utility>

namespace platform {

template <class Interface, class System> class Replaceable {
public:
    std::shared_ptr<Interface> get() const {
        std::lock_guard lock(mutex_);
        return current_;
    }
    // nullptr restores the system's; answers the previous one.
    std::shared_ptr<Interface> set(std::shared_ptr<Interface> next) {
        std::lock_guard lock(mutex_);
        return std::exchange(current_, next ? std::move(next) : std::make_shared<System>());
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<Interface> current_ = std::make_shared<System>();
};

} // namespace platform
