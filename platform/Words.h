#pragma once
// Eight bytes at a time: the scans that run once per name or per short document (a folder of
// 100,000 documents runs them 100,000 times), where a byte loop with a branch a byte costs
// more than the system calls around it.
#include <bit>
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

// The index in memory order of the first marked byte of a nonzero mark.
constexpr int firstMarked(std::uint64_t marks) {
    if constexpr (std::endian::native == std::endian::little)
        return std::countr_zero(marks) / 8;
    else
        return std::countl_zero(marks) / 8;
}

} // namespace platform::words
