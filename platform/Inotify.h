#pragma once
// The inotify system calls behind a replaceable interface: tests put in one that refuses (the
// per-user limits of instances and watches) or reports events the kernel would give only
// under load (a queue that overflowed).
#include <QByteArrayView>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <sys/types.h>

namespace platform {

// Each answers as its system call does: -1 with errno set on failure.
class InotifyCalls {
public:
    virtual ~InotifyCalls() = default;
    virtual int init(int flags) = 0;
    virtual int addWatch(int fd, const char* path, std::uint32_t mask) = 0;
    virtual ssize_t read(int fd, void* buffer, std::size_t size) = 0;
};

class SystemInotifyCalls : public InotifyCalls {
public:
    int init(int flags) override;
    int addWatch(int fd, const char* path, std::uint32_t mask) override;
    ssize_t read(int fd, void* buffer, std::size_t size) override;
};

// The calls every inotify instance made from now on uses (nullptr restores the system's);
// answers the previous ones.
std::shared_ptr<InotifyCalls> setInotifyCalls(std::shared_ptr<InotifyCalls> calls);
std::shared_ptr<InotifyCalls> inotifyCalls();

// One event as read: its watch, its mask, and the entry's name (empty for the watched folder
// itself); the name is valid during the call that receives it.
struct InotifyEvent {
    int watch;
    std::uint32_t mask;
    QByteArrayView name;
};

// Reads every event queued on the non-blocking instance `fd` (until it would block), handing
// each to `each` in order: a burst is taken whole. 0, or the errno that stopped the reading.
int drainInotify(InotifyCalls& calls, int fd, const std::function<void(const InotifyEvent&)>& each);

} // namespace platform
