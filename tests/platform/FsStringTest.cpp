// File-system bytes <-> wide strings: valid UTF-8 decodes as such, every byte of an invalid
// sequence survives as an escape, and encoding gives the very same bytes back.
#include "platform/FsString.h"

#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <random>

using platform::fromFsBytes;
using platform::toFsBytes;

namespace {

struct Case {
    const char* name;
    QByteArray bytes;
    QString wide;
};

QString escapes(std::initializer_list<int> bytes) {
    QString s;
    for (int b : bytes)
        s.append(QChar(char16_t(0xDC00 + b)));
    return s;
}

} // namespace

TEST(FsString, DecodesAndRoundTrips) {
    const Case cases[] = {
        {"ascii", "law_.txt", QStringLiteral("law_.txt")},
        {"first of three bytes", "\xE0\xA0\x80", QString(QChar(char16_t(0x800)))},
        {"cyrillic utf-8", "\xD0\xB7\xD0\xB0\xD0\xBA\xD0\xBE\xD0\xBD_.txt",
         QStringLiteral("закон_.txt")},
        {"cp1251 name", "\xE7\xE0\xEA\xEE\xED_.txt",
         escapes({0xE7, 0xE0, 0xEA, 0xEE, 0xED}) + "_.txt"},
        {"overlong slash",
         "a\xC0\xAF"
         "b",
         "a" + escapes({0xC0, 0xAF}) + "b"},
        {"encoded surrogate", "\xED\xA0\x80", escapes({0xED, 0xA0, 0x80})},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", escapes({0xF4, 0x90, 0x80, 0x80})},
        {"cut at the end", "x\xD0", "x" + escapes({0xD0})},
        {"bad byte then valid", "\xFF\xD0\xB0", escapes({0xFF}) + QStringLiteral("а")},
        {"outside the basic plane", "\xF0\x9F\x98\x80", QString::fromUcs4(U"\U0001F600")},
        {"largest code point", "\xF4\x8F\xBF\xBF", QString::fromUcs4(U"\U0010FFFF")},
        {"noncharacter kept", "\xEF\xBF\xBF", QString(QChar(char16_t(0xFFFF)))},
        {"no lead byte above F4", "\xF5\x80\x80\x80", escapes({0xF5, 0x80, 0x80, 0x80})},
        {"zero byte kept", QByteArray("a\0b", 3), QStringView(u"a\0b", 3).toString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(fromFsBytes(c.bytes), c.wide);
        EXPECT_EQ(toFsBytes(c.wide), c.bytes);
    }
}

TEST(FsString, EveryShortByteSequenceRoundTrips) {
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            const char raw[2] = {char(a), char(b)};
            const QByteArray bytes(raw, 2);
            ASSERT_EQ(toFsBytes(fromFsBytes(bytes)), bytes) << a << ' ' << b;
        }
    }
    std::mt19937 random(42);
    for (int i = 0; i < 20000; ++i) {
        QByteArray bytes;
        const int n = 1 + int(random() % 6);
        for (int k = 0; k < n; ++k)
            bytes.append(char(0x80 + random() % 0x80));
        if (random() % 2)
            bytes.prepend(char(0xC0 + random() % 0x40));
        ASSERT_EQ(toFsBytes(fromFsBytes(bytes)), bytes) << bytes.toHex().constData();
    }
}

TEST(FsString, LoneSurrogateThatNamesNoByteBecomesReplacementCharacter) {
    EXPECT_EQ(toFsBytes(QString(QChar(char16_t(0xD800)))), QByteArray("\xEF\xBF\xBD"));
    EXPECT_EQ(toFsBytes(QString(QChar(char16_t(0xDC41)))), QByteArray("\xEF\xBF\xBD"));
}

TEST(FsString, ForeignBytesAreShownThroughTheCodePage) {
    const int saved = platform::conversionCodePage();
    platform::setConversionCodePage(1251);
    const struct {
        const char* name;
        QByteArray bytes;
        bool foreign;
        QString shown;
    } cases[] = {
        {"utf-8", "\xD0\xB7\xD0\xB0\xD0\xBA", false, QStringLiteral("зак")},
        {"cp1251", "\xE7\xE0\xEA", true, QStringLiteral("зак")},
        // Its UTF-16 ends in U+DCC4, which is half of the character, not an escaped byte.
        {"beyond the basic plane", "\xF0\x9F\x93\x84 x", false, QString::fromUcs4(U"\U0001F4C4 x")},
        {"per component", "\xF0\x9F\x93\x84/\xE7\xE0\xEA/\xD0\xB7", true,
         QString::fromUcs4(U"\U0001F4C4/зак/з")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::hasForeignBytes(fromFsBytes(c.bytes)), c.foreign);
        EXPECT_EQ(platform::displayName(fromFsBytes(c.bytes)), c.shown);
    }
    platform::setConversionCodePage(saved);
}
