// Code page conversion both ways, for every supported code page. The first byte picks the
// code page; the rest is converted as bytes and, read as UTF-16, as text.
#include "FuzzCheck.h"

#include "platform/CodePage.h"
#include "platform/FsString.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const int codePage = fuzz::codePageFor(data[0]);
    const QByteArrayView bytes(reinterpret_cast<const char*>(data) + 1, qsizetype(size) - 1);

    // Bytes to text and back: a single-byte page gives every byte back, one character each.
    const QString wide = platform::toWide(bytes, codePage);
    const QByteArray back = platform::toBytes(wide, codePage);
    if (platform::isSingleByteCodePage(codePage)) {
        FUZZ_CHECK(wide.size() == bytes.size());
        FUZZ_CHECK(back == bytes);
    }
    // Text made from bytes survives the way back: a double-byte page may spell a character one
    // way only and a lead byte cut off at the end has become '?', but the characters stay.
    // (Not with an escaped byte: next to the other spelling of a character it may pair up.)
    const bool escapes = std::any_of(wide.begin(), wide.end(), [](QChar c) {
        return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF;
    });
    if (!escapes)
        FUZZ_CHECK(platform::toWide(back, codePage) == wide);

    // Any text: one byte per character in a single-byte page ('?' for what it lacks), and
    // ASCII is ASCII in every supported page.
    QString text(bytes.size() / 2, Qt::Uninitialized);
    std::memcpy(text.data(), bytes.data(), std::size_t(text.size()) * 2);
    const QByteArray encoded = platform::toBytes(text, codePage);
    if (platform::isSingleByteCodePage(codePage))
        FUZZ_CHECK(encoded.size() == text.toUcs4().size());
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii)
        FUZZ_CHECK(encoded == text.toLatin1());

    // Document detection (Qt's strict decoder) and the names' own decoder agree on what is
    // UTF-8, and on the characters it holds.
    const QString name = platform::fromFsBytes(bytes);
    bool nonAscii = false;
    for (char c : bytes)
        nonAscii = nonAscii || uchar(c) >= 0x80;
    FUZZ_CHECK(platform::isUtf8Text(bytes) == (!platform::hasForeignBytes(name) && nonAscii));
    if (!platform::hasForeignBytes(name)) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                      QStringDecoder::Flag::ConvertInitialBom);
        FUZZ_CHECK(QString(utf8.decode(bytes)) == name);
    }
    return 0;
}
