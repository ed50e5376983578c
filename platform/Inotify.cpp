#include "platform/Inotify.h"

#include "platform/Replaceable.h"

#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

namespace platform {
namespace {

Replaceable<InotifyCalls, SystemInotifyCalls>& current() {
    static Replaceable<InotifyCalls, SystemInotifyCalls> calls;
    return calls;
}

} // namespace

int SystemInotifyCalls::init(int flags) {
    return ::inotify_init1(flags);
}

int SystemInotifyCalls::addWatch(int fd, const char* path, std::uint32_t mask) {
    return ::inotify_add_watch(fd, path, mask);
}

ssize_t SystemInotifyCalls::read(int fd, void* buffer, std::size_t size) {
    return ::read(fd, buffer, size);
}

std::shared_ptr<InotifyCalls> setInotifyCalls(std::shared_ptr<InotifyCalls> calls) {
    return current().set(std::move(calls));
}

std::shared_ptr<InotifyCalls> inotifyCalls() {
    return current().get();
}

int drainInotify(InotifyCalls& calls, int fd,
                 const std::function<void(const InotifyEvent&)>& each) {
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = calls.read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno == EAGAIN ? 0 : errno;
        }
        if (n == 0)
            return 0;
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
            inotify_event e;
            std::memcpy(&e, buffer + at, sizeof e);
            const char* name = buffer + at + sizeof(inotify_event);
            at += ssize_t(sizeof(inotify_event) + e.len);
            each(InotifyEvent{e.wd, e.mask,
                              QByteArrayView(name, qsizetype(::strnlen(name, e.len)))});
        }
    }
}

} // namespace platform
