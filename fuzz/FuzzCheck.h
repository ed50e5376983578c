#pragma once
// A broken invariant is a finding: say which one, then abort so that libFuzzer keeps the input.
#include "platform/CodePage.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "broken invariant: %s (%s:%d)\n", #condition, __FILE__,           \
                         __LINE__);                                                                \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace fuzz {

// The code pages a page can be written in (ascending, so a seed keeps its page); an input
// byte picks one.
inline int codePageFor(std::uint8_t selector) {
    const std::span<const int> pages = platform::supportedCodePages();
    return pages[selector % pages.size()];
}

// A page's charset for a selector byte: a supported code page or UTF-8.
inline int pageCharsetFor(std::uint8_t selector) {
    const std::span<const int> pages = platform::supportedCodePages();
    const std::size_t pick = selector % (pages.size() + 1);
    return pick < pages.size() ? pages[pick] : platform::kUtf8CodePage;
}

// The input cut at its NUL bytes (which no path or argument can hold).
inline QList<QByteArray> fields(const std::uint8_t* data, std::size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\0');
}

} // namespace fuzz
