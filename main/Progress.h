#pragma once
// A one-line running count of folders and documents on a terminal's stderr, for long walks.
#include <QByteArray>

#include <chrono>
#include <cstdio>
#include <functional>

namespace cli {

class Progress {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // Draws on `stream` only when `shown` (a terminal, and not quiet).
    Progress(std::FILE* stream, bool shown, Clock clock = std::chrono::steady_clock::now);
    ~Progress();

    // One folder read with this many documents; redraws at most ten times a second.
    void addFolder(int documents);
    // Takes the line off the screen (before other output and at the end).
    void clear();

    // What was counted so far (also when nothing is drawn).
    long long folders() const { return folders_; }
    long long documents() const { return documents_; }

private:
    std::FILE* stream_;
    bool shown_;
    Clock clock_;
    bool drawn_ = false; // the line is on the screen
    bool everDrawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
    long long folders_ = 0;
    long long documents_ = 0;
};

} // namespace cli
