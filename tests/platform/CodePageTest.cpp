// The conversion code page: chosen from the locale, converting with '?' for what the page
// lacks and keeping bytes the page leaves undefined.
#include "platform/CodePage.h"
#include "platform/Words.h"

#include "support/DocFiles.h"

#include <QStringDecoder>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace platform;

TEST(CodePage, ForLocale) {
    const struct {
        const char* locale;
        int codePage;
    } cases[] = {
        {"ru_RU.UTF-8", 1251},
        {"uk_UA.UTF-8", 1251},
        {"be_BY", 1251},
        {"bg_BG.UTF-8", 1251},
        {"kk_KZ", 1251},
        {"mn_MN", 1251},
        {"sr_RS", 1251},
        {"sr_ME.UTF-8", 1251},
        {"sr_RS@latin", 1250},
        {"uz_UZ@cyrillic", 1251},
        {"uz_UZ.UTF-8", 1254},
        {"az_AZ", 1254},
        {"az_AZ.UTF-8@cyrillic", 1251},
        {"cs_CZ.UTF-8", 1250},
        {"pl_PL", 1250},
        {"sq_AL", 1250},
        {"el_GR.UTF-8", 1253},
        {"tr_TR", 1254},
        {"he_IL", 1255},
        {"fa_IR", 1256},
        {"ar_EG.UTF-8", 1256},
        {"lt_LT", 1257},
        {"vi_VN", 1258},
        {"th_TH.UTF-8", 874},
        {"ja_JP.UTF-8", 932},
        {"zh_CN.UTF-8", 936},
        {"zh_SG", 936},
        {"ko_KR.EUC-KR", 949},
        {"zh_TW.UTF-8", 950},
        {"zh_HK", 950},
        {"de_DE.UTF-8", 1252},
        {"en_US", 1252},
        {"C", 1252},
        {"C.UTF-8", 1252},
        {"POSIX", 1252},
        {"", 1252},
        {"RU_ru.utf8", 1251},
        {"zh", 1252},
        {"zh_MO.UTF-8", 1252},
        {"SR_RS.UTF-8@Latin", 1250},
    };
    for (const auto& c : cases)
        EXPECT_EQ(codePageForLocale(c.locale), c.codePage) << c.locale;
}

TEST(CodePage, EnvironmentOrderIsLcAllThenLcCtypeThenLang) {
    struct Env {
        const char* name;
        QByteArray saved;
        bool had;
    } env[] = {{"LC_ALL", {}, false}, {"LC_CTYPE", {}, false}, {"LANG", {}, false}};
    for (Env& e : env) {
        e.had = std::getenv(e.name) != nullptr;
        e.saved = e.had ? QByteArray(std::getenv(e.name)) : QByteArray();
    }
    const struct {
        const char* lcAll;
        const char* lcCtype;
        const char* lang;
        int codePage;
    } cases[] = {
        {nullptr, nullptr, nullptr, 1252},       {nullptr, nullptr, "ru_RU.UTF-8", 1251},
        {nullptr, "el_GR.UTF-8", "ru_RU", 1253}, {"pl_PL", "el_GR", "ru_RU", 1250},
        {"", "ja_JP.UTF-8", "ru_RU", 932},       {"", "", "he_IL", 1255},
    };
    for (const auto& c : cases) {
        const char* values[] = {c.lcAll, c.lcCtype, c.lang};
        for (int i = 0; i < 3; ++i) {
            if (values[i])
                setenv(env[i].name, values[i], 1);
            else
                unsetenv(env[i].name);
        }
        EXPECT_EQ(codePageFromEnvironment(), c.codePage)
            << (c.lcAll ? c.lcAll : "-") << ' ' << (c.lcCtype ? c.lcCtype : "-") << ' '
            << (c.lang ? c.lang : "-");
    }
    for (Env& e : env) {
        if (e.had)
            setenv(e.name, e.saved.constData(), 1);
        else
            unsetenv(e.name);
    }
}

TEST(CodePage, SpravkaIn1251And1252) {
    const QString spravka = QStringLiteral("справка");
    EXPECT_EQ(toBytes(spravka, 1251), QByteArray("\xF1\xEF\xF0\xE0\xE2\xEA\xE0"));
    EXPECT_EQ(toBytes(spravka, 1252), QByteArray("???????"));
    docfiles::CodePageScope scope(1251);
    EXPECT_EQ(ToBytes(spravka), QByteArray("\xF1\xEF\xF0\xE0\xE2\xEA\xE0"));
    EXPECT_EQ(ToWide("\xF1\xEF\xF0\xE0\xE2\xEA\xE0"), spravka);
    setConversionCodePage(1252);
    EXPECT_EQ(ToBytes(spravka), QByteArray("???????"));
}

TEST(CodePage, KnownCharacters) {
    const struct {
        int codePage;
        QByteArray bytes;
        QString wide;
    } cases[] = {
        {1251, "\x88\xB9\xA8\xB8", QStringLiteral("€№Ёё")},
        {1252, "\x80\xE9\x9F", QStringLiteral("€éŸ")},
        {1250, "\x8A\xE8", QStringLiteral("Šč")},
        {1253, "\xE1\xE2", QStringLiteral("αβ")},
        {1255, "\xF9", QStringLiteral("ש")},
        {874, "\xA1", QStringLiteral("ก")},
        {932, "\x93\xFA\x96\x7B", QStringLiteral("日本")},
        {936, "\xD6\xD0\xCE\xC4", QStringLiteral("中文")},
        {949, "\xC7\xD1", QStringLiteral("한")},
        {950, "\xA4\xA4", QStringLiteral("中")},
        {932, "a\xB1z", QStringLiteral("aｱz")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codePage);
        EXPECT_EQ(toWide(c.bytes, c.codePage), c.wide);
        EXPECT_EQ(toBytes(c.wide, c.codePage), c.bytes);
    }
}

TEST(CodePage, MissingCharactersBecomeQuestionMarks) {
    EXPECT_EQ(toBytes(u"a中b", 1251), QByteArray("a?b"));
    EXPECT_EQ(toBytes(u"a中b", 932), QByteArray("a\x92\x86"
                                                "b"));
    EXPECT_EQ(toBytes(u"aжb", 932), QByteArray("a\x84\x77"
                                               "b"));
    EXPECT_EQ(toBytes(u"aשb", 932), QByteArray("a?b"));
    // A character beyond the basic plane is one character: one '?'.
    EXPECT_EQ(toBytes(QString::fromUcs4(U"x\U0001F600y"), 1251), QByteArray("x?y"));
    EXPECT_EQ(toBytes(QString::fromUcs4(U"x\U0001F600y"), 936), QByteArray("x?y"));
    // Or as references, one per code point, for HTML.
    const QString lacking = QString::fromUcs4(U"x\U0001F4C4\u00E9\u05E9");
    EXPECT_EQ(toBytes(lacking, 1251, Lacking::CharacterReference), "x&#128196;&#233;&#1513;");
    EXPECT_EQ(toBytes(lacking, 932, Lacking::CharacterReference), "x&#128196;&#233;&#1513;");
    EXPECT_EQ(toBytes(lacking, kUtf8CodePage), lacking.toUtf8());
    // Embedded zero characters convert like any other.
    EXPECT_EQ(toBytes(QStringView(u"a\0b", 3), 1251), QByteArray("a\0b", 3));
    EXPECT_EQ(toWide(QByteArray("a\0b", 3), 932), QStringView(u"a\0b", 3).toString());
}

TEST(CodePage, UndefinedBytesSurvive) {
    // Undefined bytes 0x80..0x9F are the C1 code points of the same value.
    EXPECT_EQ(toWide("\x98", 1251), QString(QChar(char16_t(0x98))));
    EXPECT_EQ(toWide("\x81", 1252), QString(QChar(char16_t(0x81))));
    EXPECT_EQ(toWide("\x9F", 1253), QString(QChar(char16_t(0x9F))));
    EXPECT_EQ(toBytes(QString(QChar(char16_t(0x98))), 1251), QByteArray("\x98"));
    // A C1 code point whose byte is a real character elsewhere is not representable.
    EXPECT_EQ(toBytes(QString(QChar(char16_t(0x88))), 1251), QByteArray("?"));
    // Every single byte of every single-byte code page comes back.
    for (int codePage : {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        const QString wide = toWide(all, codePage);
        EXPECT_EQ(wide.size(), 256) << codePage;
        EXPECT_EQ(toBytes(wide, codePage), all) << codePage;
    }
    // Double-byte pages: undefined single bytes survive, a cut character becomes '?'.
    EXPECT_EQ(toBytes(toWide("a\x80\xA0\xFD"
                             "b",
                             932),
                      932),
              QByteArray("a\x80\xA0\xFD"
                         "b"));
    EXPECT_EQ(toWide("ab\x93", 932), QStringLiteral("ab?"));
    // A pair that is no character: 949's converter reports it only past the pair (and past
    // the end when it is last); its bytes still come back, and what follows stays.
    EXPECT_EQ(toBytes(toWide("ab\xA2\xE8z", 949), 949), QByteArray("ab\xA2\xE8z"));
    EXPECT_EQ(toWide("ab\xA2\xE8", 949), QStringView(u"ab\xDCA2?").toString());
}

TEST(CodePage, FileSystemEscapesGiveTheirBytes) {
    // A name byte that is not UTF-8 (an old cp1251 name) prints as that byte.
    const QString escaped = QString(QChar(char16_t(0xDCE0))) + "_.txt";
    EXPECT_EQ(toBytes(escaped, 1251), QByteArray("\xE0_.txt"));
    EXPECT_EQ(toBytes(escaped, 1252), QByteArray("\xE0_.txt"));
    EXPECT_EQ(toBytes(escaped, 932), QByteArray("\xE0_.txt"));
    EXPECT_EQ(toBytes(QString(QChar(char16_t(0xDC80))), 932), QByteArray("\x80"));
}

// The word-at-a-time scans give what a byte loop gives, at every length and place.
TEST(Words, ScansAgreeWithByteLoops) {
    for (size_t n = 0; n < 26; ++n) {
        for (size_t zero = 0; zero <= n; ++zero) {
            // n bytes, a '\0' at `zero` or after them, then padding that holds zeros too.
            std::string bytes = std::string(n, 'x') + '\0' + std::string("\1\0\1\1\0\1\1", 7);
            bytes[zero] = '\0';
            EXPECT_EQ(words::holdsZero(bytes.data(), n), zero < n) << n << " " << zero;
            for (size_t padding = 0; padding < 8; ++padding)
                EXPECT_EQ(words::lengthBefore(bytes.data(), bytes.data() + n + 1 + padding), zero)
                    << n << " " << zero << " " << padding;
        }
    }
    std::string source(80, '\0');
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = char('!' + i);
    for (size_t n = 0; n <= source.size(); ++n) {
        std::string copy(source.size(), '-');
        words::copyShort(copy.data(), source.data(), n);
        EXPECT_EQ(copy, source.substr(0, n) + std::string(source.size() - n, '-')) << n;
    }
}

TEST(CodePage, Utf8Detection) {
    const struct {
        const char* name;
        QByteArray bytes;
        bool utf8;
    } cases[] = {
        {"empty", "", false},
        {"ascii only", "plain text\r\n", false},
        {"cyrillic utf-8", "\xD0\x9F\xD1\x80\xD0\xB8", true},
        {"byte-order mark only", "\xEF\xBB\xBF", true},
        {"cyrillic cp1251", "\xCF\xF0\xE8\xE2\xE5\xF2", false},
        {"overlong", "\xC0\x80", false},
        {"overlong three bytes", "\xE0\x80\xAF", false},
        {"encoded surrogate", "\xED\xA0\x80", false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false},
        {"cut at the end", "ok \xD0", false},
        {"four bytes", "\xF0\x9F\x98\x80", true},
        {"largest code point", "\xF4\x8F\xBF\xBF", true},
        {"noncharacter", "a\xEF\xBF\xBE", true},
        {"lead byte above F4", "\xF5\x80\x80\x80", false},
        {"valid, then cp1251", "\xD0\x9F \xCF\xF0", false},
        {"long utf-8", QByteArray("\xD0\xB6").repeated(1500), true},
        {"long utf-8, then cp1251", QByteArray("\xD0\xB6").repeated(1500) + "\xCF", false},
        // Sequences after a run of others, whole and one byte too long.
        {"sequence across a piece", QByteArray("\xD0\xB6").repeated(7) + "a\xF0\x9F\x98\x80", true},
        {"too long across a piece", QByteArray("\xD0\xB6").repeated(7) + "a\xF0\x9F\x98\x80\x80",
         false},
        {"stray continuation", "a\x80", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isUtf8Text(c.bytes), c.utf8) << c.name;
    // After ASCII runs of every length, at every place in a run of eight bytes.
    for (int k = 0; k < 18; ++k) {
        EXPECT_FALSE(isUtf8Text(QByteArray(k, 'a') + "\xCF" + QByteArray(k, 'b'))) << k;
        EXPECT_TRUE(isUtf8Text(QByteArray(k, 'a') + "\xD0\xB6" + QByteArray(k, 'b'))) << k;
    }
    // Every lead and second byte, before each kind of third and fourth byte: the same verdict
    // as Qt's strict decoder.
    for (int lead = 0x80; lead <= 0xFF; ++lead)
        for (int second = 0; second <= 0xFF; ++second)
            for (const char* rest : {"", "\x80", "\xBF\xBF", "\x80\x7F", "\xC0\x80"}) {
                const QByteArray bytes = QByteArray(1, char(lead)) + char(second) + rest;
                QStringDecoder qt(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
                (void)QString(qt.decode(bytes));
                ASSERT_EQ(isUtf8Text(bytes), !qt.hasError()) << bytes.toHex().constData();
            }
}

TEST(CodePage, SetAndRestore) {
    const int saved = conversionCodePage();
    setConversionCodePage(932);
    EXPECT_EQ(conversionCodePage(), 932);
    setConversionCodePage(12345); // not a code page we convert with
    EXPECT_EQ(conversionCodePage(), 1252);
    setConversionCodePage(saved);
    EXPECT_EQ(conversionCodePage(), saved);
}
