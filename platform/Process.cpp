#include "platform/Process.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace platform {
namespace {

std::atomic<int> stopWriteFd{-1};
struct sigaction previousInt {};
struct sigaction previousTerm {};
struct sigaction previousHup {};
// What was asked for; the pipe only wakes the reader, so a full one loses no request. A stop
// stays asked while its StopSignals exists: long work polls it (requested()) besides the pipe.
std::atomic<bool> stopAsked{false};
std::atomic<bool> reloadAsked{false};

void onStopSignal(int signal) {
    const int saved = errno;
    const int fd = stopWriteFd.load(std::memory_order_relaxed);
    (signal == SIGHUP ? reloadAsked : stopAsked).store(true);
    if (fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1); // full pipe: already pending
    }
    errno = saved;
}

} // namespace

StopSignals::StopSignals(bool reload) : reload_(reload) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    read_ = fds[0];
    write_ = fds[1];
    stopAsked = false;
    reloadAsked = false;
    stopWriteFd.store(write_, std::memory_order_relaxed);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &previousInt);
    ::sigaction(SIGTERM, &action, &previousTerm);
    if (reload_)
        ::sigaction(SIGHUP, &action, &previousHup);
}

StopSignals::~StopSignals() {
    if (read_ < 0)
        return;
    ::sigaction(SIGINT, &previousInt, nullptr);
    ::sigaction(SIGTERM, &previousTerm, nullptr);
    if (reload_)
        ::sigaction(SIGHUP, &previousHup, nullptr);
    stopWriteFd.store(-1, std::memory_order_relaxed);
    stopAsked = false; // answered by whoever held us
    ::close(read_);
    ::close(write_);
}

StopSignals::Requests StopSignals::takeRequests() {
    Requests requests;
    char buffer[64];
    while (read_ >= 0 && ::read(read_, buffer, sizeof buffer) > 0) {
    }
    requests.stop = stopAsked.load();
    requests.reload = reloadAsked.exchange(false);
    return requests;
}

bool StopSignals::requested() {
    return stopAsked.load(std::memory_order_relaxed);
}

void openClosedStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number is taken, which is `fd`, the ones below being open by now.
        int got = ::open("/dev/null", (fd == 0 ? O_WRONLY : O_RDONLY) | O_NOCTTY);
        if (got < 0) // no /dev in a bare chroot: any descriptor that cannot be written will do
            got = ::open("/", O_PATH | O_DIRECTORY);
        if (got >= 0 && got != fd)
            ::close(got);
    }
}

bool isTerminal(std::FILE* stream) {
    return stream && ::isatty(::fileno(stream)) == 1;
}

} // namespace platform

namespace platform {

void adviseHugePages(void* data, std::size_t size) {
    constexpr std::uintptr_t kHuge = std::uintptr_t(2) << 20;
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kHuge - 1);
    if (end > begin)
        (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

} // namespace platform
