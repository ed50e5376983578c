#include "platform/CodePage.h"

#include "platform/FsString.h"
#include "platform/Words.h"

#include <QSysInfo>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <iconv.h>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {
namespace {

// The code pages we convert with, in one fixed order: the index is the slot of its tables.
constexpr std::array<int, 14> kCodePages = {1250, 1251, 1252, 1253, 1254, 1255, 1256,
                                            1257, 1258, 874,  932,  936,  949,  950};

int slotOf(int codePage) {
    for (std::size_t i = 0; i < kCodePages.size(); ++i) {
        if (kCodePages[i] == codePage)
            return int(i);
    }
    return -1;
}

bool isDoubleByte(int codePage) {
    return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

QByteArray iconvName(int codePage) {
    return "CP" + QByteArray::number(codePage);
}

const char* utf16Name() {
    return QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "UTF-16LE" : "UTF-16BE";
}

// What one byte is on its own in a code page.
enum class ByteKind : unsigned char { Character, LeadByte, Undefined };

// A byte that decodes to no character stands for itself: C1 code points for the undefined
// bytes 0x80..0x9F (as the Windows tables have it), the surrogate escape U+DC00 + byte for
// any other, so that ToBytes gives the byte back.
char16_t escapeFor(unsigned char byte, ByteKind kind) {
    if (kind == ByteKind::Undefined && byte >= 0x80 && byte <= 0x9F)
        return byte;
    return char16_t(0xDC00 + byte);
}

struct Tables {
    int codePage = 0;
    bool doubleByte = false;
    std::array<ByteKind, 256> kind{};
    // Single-byte code pages: byte -> character, and character -> byte (-1: none).
    std::array<char16_t, 256> toWide{};
    std::vector<qint16> toByte;
};

Tables* buildTables(int codePage) {
    auto* t = new Tables;
    t->codePage = codePage;
    t->doubleByte = isDoubleByte(codePage);
    iconv_t cd = iconv_open(utf16Name(), iconvName(codePage).constData());
    for (int b = 0; b < 256; ++b) {
        if (cd == iconv_t(-1)) {
            t->kind[b] = b < 0x80 ? ByteKind::Character : ByteKind::Undefined;
            t->toWide[b] = b < 0x80 ? char16_t(b) : escapeFor(b, ByteKind::Undefined);
            continue;
        }
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char in = char(b);
        char16_t out[4] = {};
        char* inPtr = &in;
        size_t inLeft = 1;
        char* outPtr = reinterpret_cast<char*>(out);
        size_t outLeft = sizeof(out);
        const size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        const int err = r == size_t(-1) ? errno : 0;
        // Some converters hold a base letter back for a combining mark: flush it out.
        if (r != size_t(-1))
            iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
        const size_t units = (sizeof(out) - outLeft) / sizeof(char16_t);
        if (r != size_t(-1) && units == 1) {
            t->kind[b] = ByteKind::Character;
            t->toWide[b] = out[0];
        } else if (err == EINVAL) {
            t->kind[b] = ByteKind::LeadByte;
            t->toWide[b] = escapeFor(b, ByteKind::LeadByte);
        } else {
            t->kind[b] = ByteKind::Undefined;
            t->toWide[b] = escapeFor(b, ByteKind::Undefined);
        }
    }
    if (cd != iconv_t(-1))
        iconv_close(cd);
    if (!t->doubleByte) {
        t->toByte.assign(0x10000, -1);
        for (int b = 0x80; b < 0x100; ++b)
            t->toByte[0xDC00 + b] = qint16(b);
        for (int b = 0; b < 256; ++b) {
            if (t->toByte[t->toWide[b]] < 0 || t->toWide[b] >= 0xDC00)
                t->toByte[t->toWide[b]] = qint16(b);
        }
    }
    return t;
}

const Tables& tablesFor(int codePage) {
    static std::array<std::unique_ptr<Tables>, kCodePages.size()> all;
    static std::array<std::once_flag, kCodePages.size()> once;
    int slot = slotOf(codePage);
    if (slot < 0)
        slot = slotOf(1252);
    std::call_once(once[slot], [&] { all[slot].reset(buildTables(kCodePages[slot])); });
    return *all[slot];
}

// The byte a character stands for when the code page has no character for it (an escape
// made by toWide or by fromFsBytes), or -1.
int escapedByte(const Tables& t, char16_t c) {
    if (c >= 0xDC80 && c <= 0xDCFF)
        return c - 0xDC00;
    if (c >= 0x80 && c <= 0x9F && t.kind[c] == ByteKind::Undefined)
        return c;
    return -1;
}

// Writes a character the code page lacks, as `lacking` asks.
void appendLacking(QByteArray& out, char32_t codePoint, Lacking lacking) {
    if (lacking == Lacking::DefaultCharacter)
        out.append('?');
    else
        out.append("&#").append(QByteArray::number(uint(codePoint))).append(';');
}

// The code point at text[i], a surrogate pair taken whole (i then at its second half).
char32_t codePointAt(QStringView text, qsizetype& i) {
    const char16_t c = text[i].unicode();
    if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
        return QChar::surrogateToUcs4(c, text[++i].unicode());
    return c;
}

// Converts the one character at `in` (of `left` bytes), appending it to `result`: answers the
// bytes it took, 0 for a character cut off by the end of the text, -1 for bytes that are no
// character.
int convertOne(iconv_t cd, const char* in, std::size_t left, QString& result) {
    constexpr std::size_t kLongest = 4;
    for (std::size_t n = 1; n <= std::min(left, kLongest); ++n) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char* inPtr = const_cast<char*>(in);
        std::size_t inLeft = n;
        char16_t out[4];
        char* outPtr = reinterpret_cast<char*>(out);
        std::size_t outLeft = sizeof(out);
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != std::size_t(-1)) {
            result.append(
                QStringView(out, qsizetype(sizeof(out) - outLeft) / qsizetype(sizeof(char16_t))));
            return int(n);
        }
        if (errno != EINVAL)
            return -1;
    }
    return left < kLongest ? 0 : -1;
}

QString toWideDoubleByte(QByteArrayView bytes, const Tables& t) {
    QString result;
    iconv_t cd = iconv_open(utf16Name(), iconvName(t.codePage).constData());
    if (cd == iconv_t(-1)) {
        for (char c : bytes)
            result.append(QChar(t.toWide[uchar(c)]));
        return result;
    }
    std::vector<char16_t> out(std::size_t(bytes.size()) + 16);
    const char* at = bytes.data();
    const char* const end = at + bytes.size();
    while (at < end) {
        char* inPtr = const_cast<char*>(at);
        size_t inLeft = size_t(end - at);
        char* outPtr = reinterpret_cast<char*>(out.data());
        size_t outLeft = out.size() * sizeof(char16_t);
        const size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        const int err = r == size_t(-1) ? errno : 0;
        if (r != size_t(-1) || err == E2BIG) {
            result.append(
                QStringView(out.data(), qsizetype(outPtr - reinterpret_cast<char*>(out.data())) /
                                            qsizetype(sizeof(char16_t))));
            at = inPtr;
            continue;
        }
        // Converters disagree on where a failure leaves the input (the UHC one of 949 passes
        // over a bad pair, even past the end): the part up to there goes again one character
        // at a time, which finds the bad bytes themselves.
        const char* const failedAt = inPtr;
        bool cutOff = false;
        while (at <= failedAt && at < end) {
            const int taken = convertOne(cd, at, size_t(end - at), result);
            if (taken > 0) {
                at += taken;
                continue;
            }
            if (taken == 0) {
                // A double-byte character cut off by the end of the text.
                result.append(QLatin1Char('?'));
                cutOff = true;
            } else {
                const auto byte = uchar(*at);
                result.append(QChar(escapeFor(byte, t.kind[byte])));
                ++at;
            }
            break;
        }
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (cutOff)
            break;
    }
    iconv_close(cd);
    return result;
}

QByteArray toBytesDoubleByte(QStringView text, const Tables& t, Lacking lacking) {
    QByteArray result;
    iconv_t cd = iconv_open(iconvName(t.codePage).constData(), utf16Name());
    result.reserve(text.size() * 2);
    std::vector<char> out(std::size_t(text.size()) * 2 + 16);
    char* inPtr = reinterpret_cast<char*>(const_cast<QChar*>(text.data()));
    size_t inLeft = size_t(text.size()) * sizeof(char16_t);
    while (inLeft > 0) {
        const auto* current = reinterpret_cast<const char16_t*>(inPtr);
        if (cd == iconv_t(-1)) {
            qsizetype i = 0;
            const QStringView rest(current, qsizetype(inLeft / sizeof(char16_t)));
            const char32_t c = codePointAt(rest, i);
            if (c < 0x80)
                result.append(char(c));
            else
                appendLacking(result, c, lacking);
            inPtr += (i + 1) * sizeof(char16_t);
            inLeft -= (i + 1) * sizeof(char16_t);
            continue;
        }
        char* outPtr = out.data();
        size_t outLeft = out.size();
        const size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        const int err = r == size_t(-1) ? errno : 0;
        result.append(out.data(), outPtr - out.data());
        if (r != size_t(-1) || err == E2BIG)
            continue;
        // A character the code page lacks (or a surrogate pair cut by the end).
        current = reinterpret_cast<const char16_t*>(inPtr);
        qsizetype last = 0;
        const char32_t c =
            codePointAt(QStringView(current, qsizetype(inLeft / sizeof(char16_t))), last);
        const int byte = last == 0 ? escapedByte(t, *current) : -1;
        if (byte >= 0)
            result.append(char(byte));
        else
            appendLacking(result, c, lacking);
        inPtr += (last + 1) * sizeof(char16_t);
        inLeft -= (last + 1) * sizeof(char16_t);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    if (cd != iconv_t(-1))
        iconv_close(cd);
    return result;
}

std::atomic<int> chosenCodePage{0};

// The parts of a locale name that choose its code page, in lower case:
// language[_territory][.codeset][@modifier].
struct LocaleParts {
    QByteArray language;
    QByteArray territory;
    QByteArray modifier;
};

LocaleParts localeParts(QByteArrayView localeName) {
    LocaleParts parts;
    QByteArrayView head = localeName;
    if (const qsizetype at = head.indexOf('@'); at >= 0) {
        parts.modifier = head.sliced(at + 1).toByteArray().toLower();
        head = head.first(at);
    }
    if (const qsizetype dot = head.indexOf('.'); dot >= 0)
        head = head.first(dot);
    if (const qsizetype underscore = head.indexOf('_'); underscore >= 0) {
        parts.territory = head.sliced(underscore + 1).toByteArray().toLower();
        head = head.first(underscore);
    }
    parts.language = head.toByteArray().toLower();
    return parts;
}

// The languages whose code page depends on nothing else (Windows' default ANSI code pages).
struct LanguageGroup {
    int codePage;
    const char* languages[12]; // unused slots are null
};
constexpr LanguageGroup kLanguageGroups[] = {
    {1251, {"ru", "uk", "be", "bg", "mk", "kk", "ky", "tt", "ba", "tg", "mn"}},
    {1250, {"cs", "sk", "pl", "hu", "sl", "hr", "bs", "ro", "sq"}},
    {1253, {"el"}},
    {1254, {"tr"}},
    {1255, {"he"}},
    {1256, {"ar", "fa", "ur"}},
    {1257, {"et", "lv", "lt"}},
    {1258, {"vi"}},
    {874, {"th"}},
    {932, {"ja"}},
    {949, {"ko"}},
};

} // namespace

std::span<const int> supportedCodePages() {
    static const std::array<int, kCodePages.size()> sorted = [] {
        std::array<int, kCodePages.size()> pages = kCodePages;
        std::sort(pages.begin(), pages.end());
        return pages;
    }();
    return sorted;
}

bool isSupportedCodePage(int codePage) {
    return slotOf(codePage) >= 0;
}

int codePageForLocale(QByteArrayView localeName) {
    const LocaleParts locale = localeParts(localeName);
    // Serbian, Uzbek and Azeri are written in either script (the modifier says which); Chinese
    // differs by territory.
    if (locale.language == "sr")
        return locale.modifier == "latin" ? 1250 : 1251;
    if (locale.language == "uz" || locale.language == "az")
        return locale.modifier == "cyrillic" ? 1251 : 1254;
    if (locale.language == "zh") {
        if (locale.territory == "cn" || locale.territory == "sg")
            return 936;
        if (locale.territory == "tw" || locale.territory == "hk")
            return 950;
        return 1252;
    }
    for (const LanguageGroup& group : kLanguageGroups) {
        for (const char* language : group.languages) {
            if (language && locale.language == language)
                return group.codePage;
        }
    }
    return 1252;
}

int codePageFromEnvironment() {
    const char* name = nullptr;
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) {
            name = value;
            break;
        }
    }
    return codePageForLocale(name ? QByteArrayView(name) : QByteArrayView());
}

int conversionCodePage() {
    int codePage = chosenCodePage.load(std::memory_order_acquire);
    if (codePage != 0)
        return codePage;
    codePage = codePageFromEnvironment();
    int expected = 0;
    chosenCodePage.compare_exchange_strong(expected, codePage, std::memory_order_acq_rel);
    return chosenCodePage.load(std::memory_order_acquire);
}

void setConversionCodePage(int codePage) {
    chosenCodePage.store(slotOf(codePage) >= 0 ? codePage : 1252, std::memory_order_release);
}

QString ToWide(QByteArrayView bytes) {
    return toWide(bytes, conversionCodePage());
}

QByteArray ToBytes(QStringView text) {
    return toBytes(text, conversionCodePage());
}

QString toWide(QByteArrayView bytes, int codePage) {
    if (codePage == kUtf8CodePage)
        return fromFsBytes(bytes);
    const Tables& t = tablesFor(codePage);
    if (t.doubleByte)
        return toWideDoubleByte(bytes, t);
    QString result(bytes.size(), Qt::Uninitialized);
    QChar* out = result.data();
    for (char c : bytes)
        *out++ = QChar(t.toWide[uchar(c)]);
    return result;
}

QByteArray toBytes(QStringView text, int codePage, Lacking lacking) {
    if (codePage == kUtf8CodePage)
        return toFsBytes(text);
    const Tables& t = tablesFor(codePage);
    if (t.doubleByte)
        return toBytesDoubleByte(text, t, lacking);
    QByteArray result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        // A character beyond the basic plane is one character, lacking as a whole.
        const char32_t c = codePointAt(text, i);
        const qint16 byte = c < 0x10000 ? t.toByte[c] : -1;
        if (byte >= 0)
            result.append(char(byte));
        else
            appendLacking(result, c, lacking);
    }
    return result;
}

bool isSingleByteCodePage(int codePage) {
    return codePage != kUtf8CodePage && !tablesFor(codePage).doubleByte;
}

QByteArray charsetName(int codePage) {
    switch (codePage) {
    case kUtf8CodePage:
        return "utf-8";
    case 932:
        return "shift_jis";
    case 936:
        return "gbk";
    case 949:
        return "euc-kr";
    case 950:
        return "big5";
    default:
        return "windows-" + QByteArray::number(isSupportedCodePage(codePage) ? codePage : 1252);
    }
}

QList<QByteArray> charsetNames() {
    QList<QByteArray> names;
    for (int codePage : supportedCodePages())
        names.append(charsetName(codePage));
    names.append(charsetName(kUtf8CodePage));
    return names;
}

int codePageForCharset(QByteArrayView name) {
    if (name.compare(charsetName(kUtf8CodePage), Qt::CaseInsensitive) == 0)
        return kUtf8CodePage;
    for (int codePage : supportedCodePages()) {
        if (name.compare(charsetName(codePage), Qt::CaseInsensitive) == 0)
            return codePage;
    }
    return 0;
}

bool isUtf8Text(QByteArrayView bytes) {
    // Well-formed UTF-8 as Qt's strict decoder (and the names' decoder) sees it: no overlong
    // form, no encoded surrogate, nothing above U+10FFFF, no sequence cut short. Checked here
    // byte by byte: a decoder set up per document cost more than the check itself.
    const auto* s = reinterpret_cast<const uchar*>(bytes.data());
    const qsizetype n = bytes.size();
    bool nonAscii = false;
    for (qsizetype i = 0; i < n;) {
        const uchar lead = s[i];
        if (lead < 0x80) {
            ++i;
            while (n - i >= 8 && words::isAscii(words::load(s + i)))
                i += 8; // ASCII runs a word at a time
            continue;
        }
        nonAscii = true;
        qsizetype length = 4;
        uchar low = 0x80, high = 0xBF; // the second byte's range
        if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead == 0xE0)
            length = 3, low = 0xA0; // below: overlong
        else if (lead == 0xED)
            length = 3, high = 0x9F; // above: surrogates
        else if (lead >= 0xE1 && lead <= 0xEF)
            length = 3;
        else if (lead == 0xF0)
            low = 0x90; // below: overlong
        else if (lead == 0xF4)
            high = 0x8F; // above: past U+10FFFF
        else if (lead < 0xF1 || lead > 0xF3)
            return false; // a continuation byte, C0, C1 or F5 and above
        if (n - i < length || s[i + 1] < low || s[i + 1] > high)
            return false;
        for (qsizetype k = 2; k < length; ++k)
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return nonAscii; // ASCII reads the same in every code page
}

} // namespace platform
