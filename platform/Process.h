#pragma once
// What a long-running command needs of its process: the stop requests SIGINT and SIGTERM (and,
// where asked, the reload request SIGHUP) as something an event loop can wait on, and whether
// an output stream is a terminal.
#include <cstdio>

namespace platform {

// While it exists, SIGINT and SIGTERM no longer end the process: each makes fd() readable
// instead, so the program can finish what it is doing and end on its own. One at a time;
// the previous handlers come back when it goes. With `reload`, SIGHUP is caught too and
// reported apart from the stop requests.
class StopSignals {
public:
    explicit StopSignals(bool reload = false);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    bool isValid() const { return read_ >= 0; }
    int fd() const { return read_; }
    struct Requests {
        bool stop = false;
        bool reload = false;
    };
    // Reads the pending requests.
    Requests takeRequests();
    // Whether a stop was requested (reads the pending requests).
    bool take() { return takeRequests().stop; }

private:
    int read_ = -1;
    int write_ = -1;
    bool reload_ = false;
};

bool isTerminal(std::FILE* stream);

} // namespace platform
