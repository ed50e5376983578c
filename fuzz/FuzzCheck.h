#pragma once
// A broken invariant is a finding: say which one, then abort so that libFuzzer keeps the input.
#include <QByteArray>
#include <QList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "broken invariant: %s (%s:%d)\n", #condition, __FILE__,           \
                         __LINE__);                                                                \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace fuzz {

// The code pages a page can be written in; an input byte picks one.
inline constexpr int kCodePages[] = {874,  932,  936,  949,  950,  1250, 1251,
                                     1252, 1253, 1254, 1255, 1256, 1257, 1258};

inline int codePageFor(std::uint8_t selector) {
    return kCodePages[selector % std::size(kCodePages)];
}

// The input cut at its NUL bytes (which no path or argument can hold).
inline QList<QByteArray> fields(const std::uint8_t* data, std::size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\0');
}

} // namespace fuzz
