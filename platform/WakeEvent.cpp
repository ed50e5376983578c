#include "platform/WakeEvent.h"

#include "platform/Fault.h"

#include <cerrno>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

WakeEvent::WakeEvent() {
    if (int err = fault::take("eventfd")) {
        error_ = err;
        return;
    }
    fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd_ < 0)
        error_ = errno;
}

WakeEvent::~WakeEvent() {
    if (fd_ >= 0)
        ::close(fd_);
}

void WakeEvent::signal() {
    if (fd_ < 0)
        return;
    const uint64_t one = 1;
    // Fails only when the counter would overflow, and then it is signalled anyway.
    [[maybe_unused]] ssize_t written = ::write(fd_, &one, sizeof one);
}

void WakeEvent::clear() {
    if (fd_ < 0)
        return;
    uint64_t count = 0;
    // Non-blocking: EAGAIN when nothing was signalled.
    [[maybe_unused]] ssize_t got = ::read(fd_, &count, sizeof count);
}

} // namespace platform
