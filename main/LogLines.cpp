#include "main/LogLines.h"

#include "platform/Service.h"

namespace cli {

QByteArray priorityPrefix(std::FILE* stream, Priority priority) {
    if (!platform::isJournalStream(stream))
        return {};
    return '<' + QByteArray::number(int(priority)) + '>';
}

QByteArray RepeatedLines::countOf(const QByteArray& line, long long repeats) {
    return line + " (" + QByteArray::number(repeats) +
           (repeats == 1 ? " more time" : " more times") + " since it was last said)";
}

QList<QByteArray> RepeatedLines::admit(const QByteArray& line, Clock::time_point now) {
    const auto [it, added] = seen_.try_emplace(line, Seen{now, 0});
    if (added)
        return {line};
    Seen& seen = it->second;
    if (now - seen.printed < kInterval) {
        ++seen.repeats;
        return {};
    }
    QList<QByteArray> lines;
    if (seen.repeats > 0)
        lines.append(countOf(line, seen.repeats));
    lines.append(line);
    seen = Seen{now, 0};
    return lines;
}

QList<QByteArray> RepeatedLines::due(Clock::time_point now) {
    QList<QByteArray> lines;
    for (auto it = seen_.begin(); it != seen_.end();) {
        Seen& seen = it->second;
        if (now - seen.printed < kInterval) {
            ++it;
        } else if (seen.repeats > 0) {
            // The count is this minute's one line: a repeat right after it waits again.
            lines.append(countOf(it->first, seen.repeats));
            seen = Seen{now, 0};
            ++it;
        } else {
            it = seen_.erase(it);
        }
    }
    return lines;
}

std::optional<RepeatedLines::Clock::time_point> RepeatedLines::nextDue() const {
    std::optional<Clock::time_point> next;
    for (const auto& [line, seen] : seen_) {
        if (seen.repeats > 0 && (!next || seen.printed + kInterval < *next))
            next = seen.printed + kInterval;
    }
    return next;
}

} // namespace cli
