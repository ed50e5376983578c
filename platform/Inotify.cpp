#include "platform/Inotify.h"

#include "platform/Replaceable.h"

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

} // namespace platform
