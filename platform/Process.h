#pragma once
// What a long-running command needs of its process: the stop requests SIGINT and SIGTERM (and,
// where asked, the reload request SIGHUP) as something an event loop can wait on, and whether
// an output stream is a terminal.
#include <cstddef>
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
    // Whether SIGINT or SIGTERM came while this StopSignals exists; for long work that must
    // end soon after (a walk between folders, a batch of reads).
    static bool requested();

private:
    int read_ = -1;
    int write_ = -1;
    bool reload_ = false;
};

bool isTerminal(std::FILE* stream);

// Descriptors 0, 1 and 2 that are closed at start are opened on /dev/null, so that no file
// the program opens later (a page, a document) takes their number and receives what is meant
// for standard output or error. Each is opened for the other direction (0 for writing, 1 and 2
// for reading): reading or writing it still fails with EBADF, as on the closed descriptor, so
// a status line that cannot be printed is a failure. Call first, before any other file.
void openClosedStandardDescriptors();

} // namespace platform

namespace platform {

// Asks for huge pages for a large buffer about to be filled (the whole 2 MiB pages within it):
// a page of 100,000 rows would otherwise fault in 5,000 times. Only advice: nothing changes
// where the system has no transparent huge pages.
void adviseHugePages(void* data, std::size_t size);

} // namespace platform
