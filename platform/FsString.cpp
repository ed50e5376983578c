#include "platform/FsString.h"

#include "platform/CodePage.h"

#include <utility>

namespace platform {

QString fromFsBytes(QByteArrayView bytes) {
    // No byte gives more than one UTF-16 unit (four bytes give a surrogate pair).
    QString result(bytes.size(), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(result.data());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const char32_t c = nextNameCharacter(p, n, i);
        if (c >= 0x10000) {
            *out++ = QChar::highSurrogate(c);
            *out++ = QChar::lowSurrogate(c);
        } else {
            *out++ = char16_t(c);
        }
    }
    result.truncate(out - reinterpret_cast<const char16_t*>(result.constData()));
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
    for (qsizetype i = 0; i < decoded.size(); ++i) {
        const char16_t c = decoded[i].unicode();
        // The low half of a surrogate pair (U+1F4C4 ends in U+DCC4) is no escaped byte.
        if (c >= 0xDC80 && c <= 0xDCFF && (i == 0 || !decoded[i - 1].isHighSurrogate()))
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
