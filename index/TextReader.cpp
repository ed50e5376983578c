#include "index/TextReader.h"

#include "base/Exception.h"
#include "platform/Errors.h"
#include "platform/Words.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

void raiseOnFailure(const platform::IoStatus& status) {
    if (status)
        return;
    EInOutError error(status.code);
    // "I/O error 1921" or "File access denied" alone does not say what happened (a mode, a
    // read-only file system, a FIFO); the system's text does. "File not found" says it all.
    if (status.err != 0 && status.err != ENOENT)
        error.SetReason(platform::systemErrorText(status.err));
    throw error;
}

} // namespace

void TextReader::Open(const QByteArray& path) {
    pos_ = 0;
    end_ = 0;
    raiseOnFailure(file_.open(path));
}

void TextReader::OpenAt(int folderFd, const QByteArray& name) {
    pos_ = 0;
    end_ = 0;
    raiseOnFailure(file_.openAt(folderFd, name));
}

void TextReader::refill() {
    qsizetype count = 0;
    pos_ = 0;
    end_ = 0;
    const platform::IoStatus status = file_.read(buffer_, BufferSize, &count);
    if (!status) {
        // Whatever happens next, the text has ended.
        buffer_[0] = CtrlZ;
        end_ = 1;
        raiseOnFailure(status);
    }
    if (count == 0) {
        // The end of the data reads as a Ctrl+Z that is never consumed.
        buffer_[0] = CtrlZ;
        count = 1;
    }
    end_ = count;
}

bool TextReader::AtEnd() {
    return peek() == CtrlZ;
}

QByteArray TextReader::ReadLine() {
    QByteArray line;
    ReadLineInto(line);
    return line;
}

void TextReader::ReadLineInto(QByteArray& line) {
    for (;;) {
        if (pos_ >= end_)
            refill();
        const char* begin = buffer_ + pos_;
        const char* stop = buffer_ + end_;
        const char* p = begin;
        while (p != stop && *p != '\n' && *p != '\r' && *p != CtrlZ)
            ++p;
        line.append(begin, p - begin);
        pos_ = p - buffer_;
        if (p == stop)
            continue;
        switch (*p) {
        case '\n':
            ++pos_;
            return;
        case CtrlZ:
            return; // the end of the text: not consumed
        default:    // CR: a line end only when LF follows, else dropped
            ++pos_;
            if (peek() == '\n') {
                ++pos_;
                return;
            }
            break;
        }
    }
}

void TextReader::Close() {
    pos_ = 0;
    end_ = 0;
    raiseOnFailure(file_.close());
}

void TextReader::AppendLines(QByteArrayView data, QByteArray& text) {
    // The text ends at the first Ctrl+Z, which the pass below stops at.
    if (data.isEmpty() || data.front() == CtrlZ)
        return;
    // Each LF becomes the next line's space and the first line gains one: one byte more at most.
    const qsizetype at = text.size();
    text.resize(at + data.size() + 1);
    char* const begin = text.data() + at;
    char* out = begin;
    *out++ = ' ';
    namespace words = platform::words;
    const char* p = data.data();
    const char* const end = p + data.size();
    while (p != end) {
        // The bytes before a line end go eight at a time. Copying a whole word stays inside
        // the room made: `out` is at most one byte ahead of `p`, which has eight more bytes.
        while (end - p >= 8) {
            const std::uint64_t word = words::load(p);
            const std::uint64_t ends = words::bytesEqual(word, '\r') |
                                       words::bytesEqual(word, '\n') |
                                       words::bytesEqual(word, CtrlZ);
            std::memcpy(out, &word, sizeof word);
            if (ends != 0) {
                const int plain = words::firstMarked(ends);
                out += plain;
                p += plain;
                break;
            }
            out += 8;
            p += 8;
        }
        if (p == end)
            break;
        const char c = *p++;
        if (c == CtrlZ)
            break;
        if (c == '\r')
            continue; // before LF part of the line end, elsewhere dropped
        if (c == '\n') {
            if (p != end && *p != CtrlZ) // a last LF starts no line
                *out++ = ' ';
            continue;
        }
        *out++ = c;
    }
    text.truncate(at + (out - begin));
}
