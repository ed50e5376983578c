#pragma once
// File-system bytes <-> wide strings. Names are decoded as UTF-8; every byte of an invalid
// sequence becomes U+DC80 + (byte - 0x80) and encodes back to that byte, so a name that is
// not valid UTF-8 (old cp1251 archives) still reaches its file after the round trip.
// The one UTF-8 decoder of names lives here: the wildcard matcher walks names with it too.
#include <QByteArray>
#include <QString>

namespace platform {

// One UTF-8 sequence: its code point and its length in bytes, the length 0 when the bytes are
// no valid sequence.
struct Utf8Sequence {
    char32_t codePoint = 0;
    int length = 0;
};

// The sequence that starts at `p`, with `left` bytes (at least one) from there to the end.
// Strict: no overlong forms, no encoded surrogates, nothing above U+10FFFF. Inline: it runs
// for every character of every name listed.
inline Utf8Sequence decodeUtf8Sequence(const unsigned char* p, qsizetype left) {
    const unsigned char b0 = p[0];
    if (b0 < 0x80)
        return {b0, 1};
    int length;
    char32_t value;
    char32_t minimum;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        value = b0 & 0x1F;
        minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        value = b0 & 0x0F;
        minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        value = b0 & 0x07;
        minimum = 0x10000;
    } else {
        return {};
    }
    if (left < length)
        return {};
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return {};
        value = (value << 6) | (p[i] & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return {};
    return {value, length};
}

// The character of a name at s[i] (of n bytes), advancing i past it: the code point of a
// valid sequence, else the escape U+DC00 + byte of its first byte alone, so that decoding
// goes on with the next byte.
inline char32_t nextNameCharacter(const unsigned char* s, qsizetype n, qsizetype& i) {
    const Utf8Sequence sequence = decodeUtf8Sequence(s + i, n - i);
    if (sequence.length == 0)
        return 0xDC00 + s[i++];
    i += sequence.length;
    return sequence.codePoint;
}

QString fromFsBytes(QByteArrayView bytes);
QByteArray toFsBytes(QStringView text);

// True when a decoded name holds bytes that are not UTF-8 (escapes of fromFsBytes).
bool hasForeignBytes(QStringView decoded);
// A decoded name or path as the user reads it: each '/'-separated component with bytes that
// are not UTF-8 is decoded with the conversion code page instead, so an old archive's cp1251
// name shows its Russian letters. For display only: operations keep the name's own bytes.
QString displayName(QStringView decoded);

} // namespace platform
