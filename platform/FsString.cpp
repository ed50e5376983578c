#include "platform/FsString.h"

#include "platform/CodePage.h"

#include <utility>

namespace platform {
namespace {

// Length of the valid UTF-8 sequence at `p` (1..4), or 0 when the bytes there are not one.
// Strict: no overlong forms, no encoded surrogates, nothing above U+10FFFF.
int validSequenceLength(const unsigned char* p, qsizetype left, char32_t* cp) {
    const unsigned char b0 = p[0];
    if (b0 < 0x80) {
        *cp = b0;
        return 1;
    }
    int len;
    char32_t value;
    char32_t minimum;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        value = b0 & 0x1F;
        minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        value = b0 & 0x0F;
        minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        value = b0 & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (left < len)
        return 0;
    for (int i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (p[i] & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *cp = value;
    return len;
}

} // namespace

QString fromFsBytes(QByteArrayView bytes) {
    QString result;
    result.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        char32_t cp = 0;
        const int len = validSequenceLength(p + i, n - i, &cp);
        if (len == 0) {
            // One byte of an invalid sequence: escape it, then resynchronise on the next byte.
            result.append(QChar(char16_t(0xDC00 + p[i])));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            result.append(QChar::highSurrogate(cp));
            result.append(QChar::lowSurrogate(cp));
        } else {
            result.append(QChar(char16_t(cp)));
        }
        i += len;
    }
    return result;
}

QByteArray toFsBytes(QStringView text) {
    const qsizetype n = text.size();
    QByteArray result(n * 3, Qt::Uninitialized); // no character needs more than 3 bytes per unit
    char* out = result.data();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80) {
            *out++ = char(c);
            continue;
        }
        if (c >= 0xDC80 && c <= 0xDCFF) {
            // An escaped byte of a name that is not valid UTF-8.
            *out++ = char(c - 0xDC00);
            continue;
        }
        char32_t cp = c;
        if (QChar::isHighSurrogate(c) && i + 1 < n &&
            QChar::isLowSurrogate(text[i + 1].unicode())) {
            cp = QChar::surrogateToUcs4(c, text[i + 1].unicode());
            ++i;
        } else if (QChar::isSurrogate(c)) {
            // A lone surrogate names no byte sequence; it cannot come from fromFsBytes.
            cp = 0xFFFD;
        }
        if (cp < 0x800) {
            *out++ = char(0xC0 | (cp >> 6));
            *out++ = char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *out++ = char(0xE0 | (cp >> 12));
            *out++ = char(0x80 | ((cp >> 6) & 0x3F));
            *out++ = char(0x80 | (cp & 0x3F));
        } else {
            *out++ = char(0xF0 | (cp >> 18));
            *out++ = char(0x80 | ((cp >> 12) & 0x3F));
            *out++ = char(0x80 | ((cp >> 6) & 0x3F));
            *out++ = char(0x80 | (cp & 0x3F));
        }
    }
    result.truncate(out - result.constData());
    return result;
}

bool hasForeignBytes(QStringView decoded) {
    for (QChar c : decoded) {
        if (c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF)
            return true;
    }
    return false;
}

QString displayName(QStringView decoded) {
    if (!hasForeignBytes(decoded))
        return decoded.toString();
    QString result;
    result.reserve(decoded.size());
    // A name is decoded as a whole: parts of a cp1251 name may look like valid UTF-8.
    bool first = true;
    for (QStringView component : decoded.tokenize(u'/', Qt::KeepEmptyParts)) {
        if (!std::exchange(first, false))
            result += u'/';
        result += hasForeignBytes(component) ? ToWide(toFsBytes(component)) : component.toString();
    }
    return result;
}

} // namespace platform
