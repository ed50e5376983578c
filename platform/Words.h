#pragma once
// Eight bytes at a time: the scans that run once per name or per short document (a folder of
// 100,000 documents runs them 100,000 times), where a byte loop with a branch a byte costs
// more than the system calls around it.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace platform::words {

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighs = 0x8080808080808080ull;

inline std::uint64_t load(const void* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// Marks the zero bytes of `word` by their high bit. The first zero byte in memory order is
// marked exactly; a mark above it may be false (a borrow), which firstMarked never reaches.
constexpr std::uint64_t zeroBytes(std::uint64_t word) {
    return (word - kOnes) & ~word & kHighs;
}

// Marks the bytes equal to `byte`, as zeroBytes does.
constexpr std::uint64_t bytesEqual(std::uint64_t word, unsigned char byte) {
    return zeroBytes(word ^ (kOnes * byte));
}

constexpr bool isAscii(std::uint64_t word) {
    return (word & kHighs) == 0;
}

// Copies `n` bytes between buffers that do not overlap; up to 64 bytes without a call: the C
// library's vector copies cost more than the copy itself for the few dozen bytes of a page
// row's pieces (measured: a page of 100,000 rows built in half the time).
inline void copyShort(void* to, const void* from, std::size_t n) {
    auto* d = static_cast<char*>(to);
    const auto* s = static_cast<const char*>(from);
    const auto two = [&](auto word) { // the first and the last `word`-sized pieces, overlapping
        decltype(word) head, tail;
        std::memcpy(&head, s, sizeof head);
        std::memcpy(&tail, s + n - sizeof tail, sizeof tail);
        std::memcpy(d, &head, sizeof head);
        std::memcpy(d + n - sizeof tail, &tail, sizeof tail);
    };
    struct Bytes16 {
        std::uint64_t a, b;
    };
    struct Bytes32 {
        Bytes16 a, b;
    };
    if (n > 64) {
        std::memcpy(d, s, n);
    } else if (n > 32) {
        two(Bytes32{});
    } else if (n > 16) {
        two(Bytes16{});
    } else if (n >= 8) {
        two(std::uint64_t{});
    } else if (n >= 4) {
        two(std::uint32_t{});
    } else {
        for (std::size_t i = 0; i < n; ++i)
            d[i] = s[i];
    }
}

// The index in memory order of the first marked byte of a nonzero mark.
constexpr int firstMarked(std::uint64_t marks) {
    if constexpr (std::endian::native == std::endian::little)
        return std::countr_zero(marks) / 8;
    else
        return std::countl_zero(marks) / 8;
}

// The length of the string at `s`, whose '\0' comes before `limit` (readable up to there).
inline std::size_t lengthBefore(const char* s, const char* limit) {
    const char* p = s;
    for (; limit - p >= 8; p += 8)
        if (const std::uint64_t zeros = zeroBytes(load(p)))
            return std::size_t(p - s) + std::size_t(firstMarked(zeros));
    while (*p != 0)
        ++p;
    return std::size_t(p - s);
}

// Whether the `n` bytes at `s` hold a '\0'.
inline bool holdsZero(const char* s, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8)
        if (zeroBytes(load(s + i)) != 0)
            return true;
    for (; i < n; ++i)
        if (s[i] == 0)
            return true;
    return false;
}

} // namespace platform::words
