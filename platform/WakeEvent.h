#pragma once
// A wake-up signal that a poll() or an event loop's socket notifier can wait on beside other
// descriptors: any thread signals, the waiting thread wakes. Signals do not queue up: one
// clear() takes them all.
//
// The system calls ask the fault hook first, under the name "eventfd".

namespace platform {

class WakeEvent {
public:
    // isValid() is false when no descriptor could be had (errno is then kept in error()).
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    bool isValid() const { return fd_ >= 0; }
    int error() const { return error_; }
    // Readable while signalled.
    int fd() const { return fd_; }

    // From any thread while the object exists.
    void signal();
    // Back to unsignalled.
    void clear();

private:
    int fd_ = -1;
    int error_ = 0;
};

} // namespace platform
