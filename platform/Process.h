#pragma once
// What a long-running command needs of its process: the stop requests SIGINT and SIGTERM as
// something an event loop can wait on, and whether an output stream is a terminal.
#include <cstdio>

namespace platform {

// While it exists, SIGINT and SIGTERM no longer end the process: each makes fd() readable
// instead, so the program can finish what it is doing and end on its own. One at a time;
// the previous handlers come back when it goes.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    bool isValid() const { return read_ >= 0; }
    int fd() const { return read_; }
    // Whether a stop was requested (reads the pending requests).
    bool take();

private:
    int read_ = -1;
    int write_ = -1;
};

bool isTerminal(std::FILE* stream);

} // namespace platform
