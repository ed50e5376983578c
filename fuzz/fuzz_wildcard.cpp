// The wildcard mask matcher against a plain dynamic-programming matcher. The first byte is the
// pattern's length, then the pattern and the name (both any bytes, UTF-8 or not).
#include "FuzzCheck.h"

#include "platform/Enumerate.h"
#include "platform/FsString.h"

#include <vector>

namespace {

// Characters as the search compares them: decoded like a file name (a byte of an invalid
// sequence is one character), case-folded.
std::vector<char32_t> folded(QByteArrayView bytes) {
    const QString text = platform::fromFsBytes(bytes);
    std::vector<char32_t> out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        out.push_back(QChar::toCaseFolded(c));
    }
    return out;
}

bool referenceMatch(QByteArrayView pattern, QByteArrayView name) {
    if (pattern.isEmpty())
        return false;
    if (pattern == "*" || pattern == "*.*")
        return true;
    bool noExtension = false;
    while (pattern.endsWith('.')) {
        pattern.chop(1);
        noExtension = true;
    }
    if (noExtension && name.contains('.'))
        return false;
    const std::vector<char32_t> p = folded(pattern);
    const std::vector<char32_t> s = folded(name);
    // row[j]: the pattern so far matches the first j characters of the name.
    std::vector<char> row(s.size() + 1, 0);
    row[0] = 1;
    for (char32_t pc : p) {
        std::vector<char> next(s.size() + 1, 0);
        if (pc == U'*') {
            char any = 0;
            for (std::size_t j = 0; j <= s.size(); ++j)
                next[j] = any = char(any | row[j]);
        } else {
            for (std::size_t j = 1; j <= s.size(); ++j)
                next[j] = row[j - 1] && (pc == U'?' || pc == s[j - 1]);
        }
        row.swap(next);
    }
    return row[s.size()] != 0;
}

QByteArray swapAsciiCase(QByteArray bytes) {
    for (char& c : bytes) {
        if (c >= 'a' && c <= 'z')
            c = char(c - 32);
        else if (c >= 'A' && c <= 'Z')
            c = char(c + 32);
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > 1024)
        return 0;
    const auto* bytes = reinterpret_cast<const char*>(data);
    const qsizetype patternSize = qMin(qsizetype(data[0]), qsizetype(size) - 1);
    const QByteArray pattern(bytes + 1, patternSize);
    const QByteArray name(bytes + 1 + patternSize, qsizetype(size) - 1 - patternSize);

    const platform::WildcardPattern compiled(pattern);
    const bool matched = compiled.matches(name);
    FUZZ_CHECK(matched == referenceMatch(pattern, name));
    FUZZ_CHECK(compiled.isEmpty() == pattern.isEmpty());
    if (compiled.matchesAll())
        FUZZ_CHECK(matched);
    // Case never matters, neither in the name nor in the pattern.
    FUZZ_CHECK(compiled.matches(swapAsciiCase(name)) == matched);
    FUZZ_CHECK(platform::WildcardPattern(swapAsciiCase(pattern)).matches(name) == matched);
    // A name without wildcards in it matches itself.
    if (!name.isEmpty() && !name.contains('*') && !name.contains('?') && !name.endsWith('.'))
        FUZZ_CHECK(platform::WildcardPattern(name).matches(name));
    return 0;
}
