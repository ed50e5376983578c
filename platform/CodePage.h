#pragma once
// The conversion code page: the Windows ANSI code page the user's locale would have. It is
// used only for what goes into the index page and for document text, never for file names
// (those are file-system bytes, see FsString.h).
#include <QByteArray>
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

// Conversions with the conversion code page. A character the code page lacks becomes '?';
// bytes the code page leaves undefined map to U+0080..U+009F and back, so they survive.
QString ToWide(QByteArrayView bytes);
QByteArray ToBytes(QStringView text);

// The same with an explicit code page.
QString toWide(QByteArrayView bytes, int codePage);
QByteArray toBytes(QStringView text, int codePage);

// True for the code pages of one byte per character (toBytes(toWide(b)) == b for them).
bool isSingleByteCodePage(int codePage);

// True when the bytes are valid UTF-8 and hold at least one non-ASCII character: such a
// document is decoded as UTF-8 (a leading byte-order mark dropped) instead of the code page.
bool isUtf8Text(QByteArrayView bytes);

} // namespace platform
