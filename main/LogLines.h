#pragma once
// Lines for a log that runs unattended (the watch mode under a service manager): syslog
// priorities where the journal reads them, and repeated errors said once a minute, not once a
// change. Qt Core only.
#include <QByteArray>
#include <QList>

#include <chrono>
#include <cstdio>
#include <map>
#include <optional>

namespace cli {

enum class Priority { Error = 3, Warning = 4, Info = 6 };

// "<3>" and the like when `stream` is the journal, which then files the line under that
// priority (journalctl -p err shows only failures); elsewhere nothing.
QByteArray priorityPrefix(std::FILE* stream, Priority priority);

// Holds back a line printed less than a minute ago and counts it instead. The minute starts
// again with each line printed, so a failure that keeps happening is said about once a minute
// with the number of times it came in between.
class RepeatedLines {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::minutes kInterval{1};

    // The lines to print now for `line` (without its newline) at `now`: the line itself, after
    // the count of its repeats held back so far; nothing while it is held back.
    QList<QByteArray> admit(const QByteArray& line, Clock::time_point now);
    // The counts whose minute has passed by `now`, and forgets lines that no longer repeat.
    QList<QByteArray> due(Clock::time_point now);
    // When due() will next have something to say.
    std::optional<Clock::time_point> nextDue() const;

private:
    struct Seen {
        Clock::time_point printed;
        long long repeats = 0;
    };
    static QByteArray countOf(const QByteArray& line, long long repeats);

    std::map<QByteArray, Seen> seen_;
};

} // namespace cli
