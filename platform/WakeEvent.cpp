#include "platform/WakeEvent.h"

#include "platform/Fault.h"

#include <cerrno>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

WakeEvent::WakeEvent() {
    if (int err = fault::take("eventfd")) {
        m_error = err;
        return;
    }
    m_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_fd < 0)
        m_error = errno;
}

WakeEvent::~WakeEvent() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void WakeEvent::signal() {
    if (m_fd < 0)
        return;
    const uint64_t one = 1;
    // Fails only when the counter would overflow, and then it is signalled anyway.
    [[maybe_unused]] ssize_t written = ::write(m_fd, &one, sizeof one);
}

void WakeEvent::clear() {
    if (m_fd < 0)
        return;
    uint64_t count = 0;
    // Non-blocking: EAGAIN when nothing was signalled.
    [[maybe_unused]] ssize_t got = ::read(m_fd, &count, sizeof count);
}

} // namespace platform
