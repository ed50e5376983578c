// The document reader on any bytes: line ends (also split between two buffer loads), Ctrl+Z,
// lone CRs, and the caption the page makes of the lines. The first byte picks the page's code
// page, the rest is the document.
#include "FuzzCheck.h"

#include "index/IndexPageWriter.h"
#include "index/TextReader.h"
#include "platform/CodePage.h"
#include "platform/FsString.h"

#include <QDir>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char kDocument[] = "d_.txt";
QByteArray folder; // ends with '/'

void removeFolder() {
    ::unlink((folder + kDocument).constData());
    ::rmdir(folder.constData());
}

// The lines as the reader must give them: the text ends at the first Ctrl+Z, a line ends at
// LF, every CR is dropped (before LF it belongs to the line end), and a last line without LF
// counts when it holds any byte at all.
QList<QByteArray> expectedLines(QByteArrayView data) {
    const qsizetype ctrlZ = data.indexOf('\x1A');
    if (ctrlZ >= 0)
        data = data.first(ctrlZ);
    QList<QByteArray> lines = data.toByteArray().split('\n');
    if (data.isEmpty() || data.endsWith('\n'))
        lines.removeLast();
    for (QByteArray& line : lines)
        line.replace('\r', QByteArrayView());
    return lines;
}

// Overwritten in place: a truncation to nothing would make the file system flush the file on
// every close, which would slow the runs down.
int document = -1;

void writeDocument(QByteArrayView bytes) {
    FUZZ_CHECK(::pwrite(document, bytes.data(), size_t(bytes.size()), 0) == bytes.size());
    FUZZ_CHECK(::ftruncate(document, bytes.size()) == 0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    QByteArray pattern = QDir::tempPath().toLocal8Bit() + "/docindex-fuzz-XXXXXX";
    FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
    folder = pattern + '/';
    std::atexit(removeFolder);
    document = ::open((folder + kDocument).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    FUZZ_CHECK(document >= 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const int codePage = fuzz::codePageFor(data[0]);
    const QByteArrayView document(reinterpret_cast<const char*>(data) + 1, qsizetype(size) - 1);
    writeDocument(document);

    TextReader reader;
    reader.Open(folder + kDocument);
    QList<QByteArray> lines;
    while (!reader.AtEnd())
        lines.append(reader.ReadLine());
    FUZZ_CHECK(reader.AtEnd()); // asking again consumes nothing
    reader.Close();
    FUZZ_CHECK(lines == expectedLines(document));
    QByteArray joined;
    for (const QByteArray& line : lines)
        joined.append(' ').append(line);
    QByteArray inMemory; // a document read ahead: the same text in one pass
    TextReader::AppendLines(document, inMemory);
    FUZZ_CHECK(inMemory == joined);

    // The page: the caption is one line whatever the document holds.
    platform::setConversionCodePage(codePage);
    const QByteArray page =
        IndexPageWriter::build({AT_FDCWD, folder, platform::fromFsBytes(folder)},
                               {IndexEntry{kDocument, EntryKind::RegularFile}})
            .text;
    const QByteArray start = QByteArray("<a href=\"") + kDocument + ".rtf\">";
    const QByteArray end =
        QByteArray("</a> </td>\r\n<td align=center> <a href=\"") + kDocument + ".txt\">";
    const qsizetype from = page.indexOf(start);
    const qsizetype to = page.lastIndexOf(end);
    FUZZ_CHECK(from >= 0 && to >= from + start.size());
    FUZZ_CHECK(page.endsWith("</BODY>\r\n</HTML>\r\n"));
    const QByteArray caption = page.sliced(from + start.size(), to - from - start.size());
    FUZZ_CHECK(!caption.contains('\r') && !caption.contains('\n'));
    // Text that is not UTF-8 goes into a single-byte page byte for byte.
    if (platform::isSingleByteCodePage(codePage) && !platform::isUtf8Text(joined))
        FUZZ_CHECK(caption == joined);
    return 0;
}
