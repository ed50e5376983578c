// href encoding of any file name in every charset of a page: what a browser makes of the page's
// bytes (read in the charset the page declares, then percent escapes as bytes, every other
// character as UTF-8) is the name's bytes again, and the link is a relative link within the
// folder. The first byte picks the charset, the rest is the name.
#include "FuzzCheck.h"

#include "index/IndexPageWriter.h"
#include "platform/CodePage.h"
#include "platform/FsString.h"

namespace {

int hexValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1; // the writer spells escapes in upper case only
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const int charset = fuzz::pageCharsetFor(data[0]);
    const QByteArray name(reinterpret_cast<const char*>(data) + 1, qsizetype(size) - 1);
    // What a file name can be.
    if (name.contains('/') || name.contains('\0') || name == "." || name == "..")
        return 0;
    const QString href = IndexPageWriter::hrefFor(name, charset);
    const QString seen = platform::toWide(platform::toBytes(href, charset), charset);
    QByteArray resolved;
    for (qsizetype i = 0; i < seen.size(); ++i) {
        const char16_t c = seen[i].unicode();
        // Nothing that ends the attribute, starts a query or fragment, or that a URL parser
        // strips or reads as a scheme or another folder.
        FUZZ_CHECK(c >= 0x20 && c != 0x7F && (c < 0x80 || c > 0x9F) && c != '"' && c != '#' &&
                   c != '?' && c != ':' && c != '/' && c != '\\');
        if (c == '%') {
            FUZZ_CHECK(i + 2 < seen.size());
            const int high = hexValue(seen[i + 1]);
            const int low = hexValue(seen[i + 2]);
            FUZZ_CHECK(high >= 0 && low >= 0);
            resolved.append(char(high * 16 + low));
            i += 2;
        } else {
            const qsizetype units = seen[i].isHighSurrogate() && i + 1 < seen.size() ? 2 : 1;
            resolved.append(QStringView(seen).sliced(i, units).toUtf8());
            i += units - 1;
        }
    }
    FUZZ_CHECK(!seen.startsWith(u' ') && !seen.endsWith(u' '));
    FUZZ_CHECK(resolved == name);

    // A name of plain ASCII is its own href exactly when it needs nothing escaped.
    bool ascii = true;
    bool plain = name.front() != ' ' && name.back() != ' ';
    for (char c : name) {
        ascii = ascii && c >= 0x20 && c < 0x7F;
        plain = plain && !QByteArrayView("\"#%?&\\:").contains(c);
    }
    if (ascii)
        FUZZ_CHECK(plain == (href == QLatin1String(name)));
    return 0;
}
