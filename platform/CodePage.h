#pragma once
// The conversion code page: the Windows ANSI code page the user's locale would have. It is
// used only for what goes into the index page and for document text, never for file names
// (those are file-system bytes, see FsString.h).
#include <QByteArray>
#include <QList>
#include <QString>

#include <span>

namespace platform {

// Every code page we convert with, ascending: what --codepage accepts and its help lists.
std::span<const int> supportedCodePages();
bool isSupportedCodePage(int codePage);

// The code page for a locale name such as "ru_RU.UTF-8" or "sr_RS@latin" (1252 for C,
// POSIX, empty and every language without a table entry).
int codePageForLocale(QByteArrayView localeName);

// The code page chosen once from LC_ALL, else LC_CTYPE, else LANG; tests may replace it.
int conversionCodePage();
void setConversionCodePage(int codePage);
// The code page the environment asks for now (what conversionCodePage() chooses first).
int codePageFromEnvironment();

// The number that stands for UTF-8 where a code page is expected (a page in UTF-8); toWide and
// toBytes then convert as file-system names do, keeping bytes that are not UTF-8.
constexpr int kUtf8CodePage = 65001;

// The name an HTML page declares for a code page of supportedCodePages() or kUtf8CodePage:
// the standard one browsers know ("windows-1251", "shift_jis", "gbk", "euc-kr", "big5",
// "utf-8").
QByteArray charsetName(int codePage);
// The code page a charset name stands for, without regard to case; 0 for any other name.
int codePageForCharset(QByteArrayView name);
// Every charset name, in the order of supportedCodePages(), "utf-8" last.
QList<QByteArray> charsetNames();

// What becomes of a character that the code page lacks: the code page's default character
// '?', or (for HTML) a decimal numeric character reference such as "&#233;", one per code
// point, so that nothing is lost.
enum class Lacking { DefaultCharacter, CharacterReference };

// Conversions with the conversion code page. A character the code page lacks becomes '?';
// bytes the code page leaves undefined map to U+0080..U+009F and back, so they survive.
QString ToWide(QByteArrayView bytes);
QByteArray ToBytes(QStringView text);

// The same with an explicit code page (or kUtf8CodePage).
QString toWide(QByteArrayView bytes, int codePage);
QByteArray toBytes(QStringView text, int codePage, Lacking lacking = Lacking::DefaultCharacter);

// True for the code pages of one byte per character (toBytes(toWide(b)) == b for them).
bool isSingleByteCodePage(int codePage);

// True when the bytes are valid UTF-8 and hold at least one non-ASCII character: such a
// document is decoded as UTF-8 (a leading byte-order mark dropped) instead of the code page.
bool isUtf8Text(QByteArrayView bytes);

} // namespace platform
