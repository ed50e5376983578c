#include "index/IndexPageWriter.h"

#include "base/Exception.h"
#include "index/PageSaver.h"
#include "index/TextReader.h"
#include "platform/CodePage.h"
#include "platform/DocumentBatch.h"
#include "platform/Errors.h"
#include "platform/FsString.h"
#include "platform/HeldFolder.h"
#include "platform/PageFile.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/Words.h"

#include <cerrno>
#include <fcntl.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace {

// The fixed head lines around the title.
constexpr const char* kHeadBeforeTitle[] = {"<HTML>", nullptr /* the charset */, "<HEAD>"};
constexpr const char* kHeadAfterTitle[] = {
    "</HEAD>",
    "<BODY BGCOLOR=#FFFFFF>",
    "<table align=center width=\"100%\" border=\"1\" cellspacing=\"0\" cellpadding=\"1\">",
    "<tr>",
};
// The column headings: on a windows-1251 page always these bytes ("№№", "СПИСОК ДОКУМЕНТОВ",
// "СПРАВКА ПО ДОКУМЕНТУ"), on any other page the same texts in its charset.
struct Heading {
    const char* bytes1251;
    const char16_t* text;
};
constexpr Heading kHeadings[] = {
    {"<th align=center>\xB9\xB9</th>", u"<th align=center>№№</th>"},
    {"<th align=left>\xD1\xCF\xC8\xD1\xCE\xCA \xC4\xCE\xCA\xD3\xCC\xC5\xCD\xD2\xCE\xC2</th>",
     u"<th align=left>СПИСОК ДОКУМЕНТОВ</th>"},
    {"<th align=center>\xD1\xCF\xD0\xC0\xC2\xCA\xC0 \xCF\xCE \xC4\xCE\xCA\xD3\xCC\xC5\xCD\xD2\xD3"
     "</th>",
     u"<th align=center>СПРАВКА ПО ДОКУМЕНТУ</th>"},
};
constexpr const char* kFoot[] = {"</tr>", "</TABLE>", "</BODY>", "</HTML>"};

// The charsets of one page: the one it is written in and declares, and the code page that
// documents which are not UTF-8 are read in.
struct Charsets {
    int page;
    int documents;
};

Charsets charsetsOf(PageOptions options) {
    const int codePage = platform::conversionCodePage();
    return {options.charset != 0 ? options.charset : codePage, codePage};
}

// Text into the page: nothing lost, a character the page's charset lacks as a reference. A
// UTF-8 page stays valid UTF-8: a byte that was no character where it came from (a document's
// byte its code page leaves undefined) is shown as the replacement character, as a browser
// would show the byte itself.
QByteArray pageBytes(QStringView text, int charset) {
    if (charset != platform::kUtf8CodePage || !platform::hasForeignBytes(text))
        return platform::toBytes(text, charset, platform::Lacking::CharacterReference);
    QString valid = text.toString();
    for (qsizetype i = 0; i < valid.size(); ++i) {
        if (valid[i].isHighSurrogate())
            ++i; // a pair's second half is no byte
        else if (valid[i].unicode() >= 0xDC80 && valid[i].unicode() <= 0xDCFF)
            valid[i] = QChar::ReplacementCharacter;
    }
    return valid.toUtf8();
}

// '<', '>' and '&' as entities, before the text becomes bytes: the references written for
// characters the page lacks must stay references.
void escapeHtml(QString& text) {
    if (!text.contains(u'<') && !text.contains(u'>') && !text.contains(u'&'))
        return;
    text.replace(u'&', QLatin1String("&amp;"))
        .replace(u'<', QLatin1String("&lt;"))
        .replace(u'>', QLatin1String("&gt;"));
}

// ASCII that never stays literal in an href: what ends or escapes the attribute or the path,
// and ':' which before any '/' would make the link a URL scheme ("javascript:", "C:").
constexpr bool isHrefSpecial(char16_t u) {
    return u == '"' || u == '#' || u == '%' || u == '?' || u == '&' || u == '\\' || u == ':';
}

// The bytes that stay literal in an href, a bit each: printable ASCII but the specials.
constexpr std::array<quint64, 2> kPlainHrefBytes = [] {
    std::array<quint64, 2> set{};
    for (unsigned c = 0x20; c < 0x7F; ++c)
        if (!isHrefSpecial(char16_t(c)))
            set[c / 64] |= quint64(1) << (c % 64);
    return set;
}();

// True when no byte of the name needs escaping in an href.
bool isPlainHref(QByteArrayView name) {
    if (!name.isEmpty() && (name.front() == ' ' || name.back() == ' '))
        return false;
    return std::all_of(name.begin(), name.end(), [](char ch) {
        const auto c = uchar(ch);
        return c < 0x80 && ((kPlainHrefBytes[c / 64] >> (c % 64)) & 1) != 0;
    });
}

void appendPercentEncoded(QString& out, QByteArrayView bytes) {
    static constexpr char hex[] = "0123456789ABCDEF";
    for (char c : bytes) {
        const auto b = uchar(c);
        out.append(QLatin1Char('%'));
        out.append(QLatin1Char(hex[b >> 4]));
        out.append(QLatin1Char(hex[b & 0x0F]));
    }
}

// Appends the document's text in the page's charset to `out`: a space before each line. A
// UTF-8 document is decoded as UTF-8 (a leading byte-order mark dropped), every other one with
// the documents' code page; when `bytesFit` (a page in that same single-byte code page) its
// bytes go in unchanged. The text is put in place first and replaced only when it must be
// converted. `readAhead`: the document's whole content when the batch read it, else null.
void appendDocumentText(int folderFd, const QByteArray& path, const QByteArrayView* readAhead,
                        Charsets charsets, bool bytesFit, bool escape, QByteArray& out) {
    const qsizetype start = out.size();
    if (readAhead) {
        TextReader::AppendLines(*readAhead, out);
    } else {
        TextReader reader;
        reader.OpenAt(folderFd, path);
        while (!reader.AtEnd()) {
            out.append(' ');
            reader.ReadLineInto(out);
        }
        reader.Close();
    }
    const QByteArrayView text = QByteArrayView(out).sliced(start);
    const bool utf8 = platform::isUtf8Text(text);
    if (!utf8 && !escape && bytesFit)
        return;
    QString wide;
    if (utf8) {
        wide = QString::fromUtf8(text);
        if (wide.size() >= 2 && wide.at(1) == QChar(0xFEFF))
            wide.remove(1, 1);
    } else {
        wide = platform::toWide(text, charsets.documents);
    }
    if (escape)
        escapeHtml(wide);
    out.truncate(start);
    out.append(pageBytes(wide, charsets.page));
}

// Makes room for `more` bytes at the end of the page: by doubling, each new buffer asking for
// huge pages before anything is copied in (a page of 100,000 rows is 20 MiB, which would
// otherwise fault in page by page).
void growPage(QByteArray& page, qsizetype more) {
    if (page.capacity() - page.size() >= more)
        return;
    QByteArray grown;
    grown.reserve(std::max(2 * page.capacity(), page.size() + more));
    platform::adviseHugePages(grown.data(), size_t(grown.capacity()));
    grown.append(page);
    page.swap(grown);
}

// A document's row without its caption: some 190 bytes and the name twice (as its links).
qsizetype rowBytes(const IndexEntry& entry) {
    return 190 + 2 * entry.name.size();
}

// Lines go straight into the page's buffer, each followed by CR LF.
void addLine(QByteArray& page, QByteArrayView line) {
    page.append(line).append("\r\n", 2);
}

void addHead(QByteArray& page, const QString& folder, PageOptions options) {
    const int charset = charsetsOf(options).page;
    for (const char* line : kHeadBeforeTitle) {
        addLine(page, line ? QByteArray(line)
                           : "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=" +
                                 platform::charsetName(charset) + "\">");
    }
    // A UTF-8 page cannot hold a name's bytes that are not UTF-8: it shows them as read in
    // the documents' code page, as the window does.
    QString title = charset == platform::kUtf8CodePage ? platform::displayName(folder) : folder;
    if (options.escapeHtml)
        escapeHtml(title);
    addLine(page, "<TITLE>" + pageBytes(title, charset) + "</TITLE>");
    for (const char* line : kHeadAfterTitle)
        addLine(page, line);
    for (const Heading& heading : kHeadings)
        addLine(page, charset == 1251 ? QByteArray(heading.bytes1251)
                                      : pageBytes(QStringView(heading.text), charset));
    addLine(page, "</tr>");
}

// The rows of a page's documents. Documents are read ahead a batch at a time, then turned into
// rows in list order, so the first document that fails is still the first one reported.
class PageRows {
public:
    PageRows(const PageFolder& folder, PageOptions options, IndexPageWriter::Page& page)
        : folder_(folder), options_(options), page_(page) {}

    // Queues the document of `entry`; a full batch is read and written at once.
    void add(const IndexEntry& entry) {
        paths_.push_back(pathOf(entry));
        documents_.push_back(&entry);
        if (documents_.size() == size_t(platform::DocumentBatch::kMaxDocuments))
            flush();
    }

    // Reads and writes the documents queued.
    void flush() {
        batch_.readAhead(folder_.fd, paths_);
        for (size_t i = 0; i < documents_.size(); ++i) {
            const QByteArrayView* content = batch_.content(i);
            growPage(page_.text, rowBytes(*documents_[i]) + (content ? content->size() : 0));
            addRow(*documents_[i], paths_[i], content);
        }
        paths_.clear();
        documents_.clear();
    }

private:
    // A held folder's documents by their bare names, else by the folder's path.
    QByteArray pathOf(const IndexEntry& entry) const {
        return held() ? entry.name : folder_.path + entry.name;
    }

    bool held() const { return folder_.fd != AT_FDCWD; }

    void addRow(const IndexEntry& entry, const QByteArray& path, const QByteArrayView* readAhead) {
        // A plain ASCII name is its own href in every charset.
        QByteArray converted;
        QByteArrayView href = entry.name;
        if (!isPlainHref(entry.name)) {
            converted = platform::toBytes(IndexPageWriter::hrefFor(entry.name, charsets_.page),
                                          charsets_.page);
            href = converted;
        }
        char number[24];
        const auto [numberEnd, ec] =
            std::to_chars(number, number + sizeof number, page_.documents + 1);
        Q_ASSERT(ec == std::errc());
        // The caption goes straight into the page, between the row's parts.
        QByteArray& text = page_.text;
        const qsizetype rowStart = text.size();
        appendAll(text, {"<tr>\r\n<td align=center>", QByteArrayView(number, numberEnd),
                         " </td>\r\n<td align=left> <a href=\"", href, ".rtf\">"});
        try {
            appendDocumentText(folder_.fd, path, readAhead, charsets_, bytesFit_,
                               options_.escapeHtml, text);
        } catch (Exception& e) {
            text.truncate(rowStart);
            e.SetFailedPath(held() ? folder_.path + path : path);
            throw;
        }
        appendAll(text,
                  {"</a> </td>\r\n<td align=center> <a href=\"", href, helpEnd_, "\r\n</tr>\r\n"});
        ++page_.documents;
    }

    // A row is a dozen pieces: the buffer grows once for them all, then each is copied in.
    static void appendAll(QByteArray& out, std::initializer_list<QByteArrayView> parts) {
        qsizetype length = 0;
        for (QByteArrayView part : parts)
            length += part.size();
        const qsizetype at = out.size();
        out.resize(at + length);
        char* to = out.data() + at;
        for (QByteArrayView part : parts) {
            if (part.isEmpty())
                continue; // an empty view may have no data at all
            platform::words::copyShort(to, part.data(), size_t(part.size()));
            to += part.size();
        }
    }

    const PageFolder& folder_;
    const PageOptions options_;
    IndexPageWriter::Page& page_;
    // The link and help lines are composed of converted parts; every conversion we make is
    // character by character, so converting the parts equals converting the whole line.
    const Charsets charsets_ = charsetsOf(options_);
    const QByteArray helpEnd_ = pageBytes(u".txt\">справка</a> </td>", charsets_.page);
    // Documents' bytes are the page's own: a page in the documents' single-byte code page.
    const bool bytesFit_ =
        charsets_.page == charsets_.documents && platform::isSingleByteCodePage(charsets_.page);
    platform::DocumentBatch& batch_ = platform::DocumentBatch::ofThisThread();
    std::vector<QByteArray> paths_;
    std::vector<const IndexEntry*> documents_;
};

} // namespace

IndexEntry IndexEntry::fromSearchRec(const TSearchRec& rec) {
    IndexEntry entry = fromListed(rec);
    entry.name = OwnedName(rec.Name); // outlives the listing (pages are made after it)
    return entry;
}

IndexEntry IndexEntry::fromListed(const TSearchRec& rec) {
    IndexEntry entry;
    entry.name = rec.Name;
    if (rec.Attr & faDirectory)
        entry.kind = rec.Name == ".." ? EntryKind::Parent : EntryKind::Folder;
    else if (rec.Attr & (faSysFile | faVolumeID))
        entry.kind = EntryKind::Other;
    else
        entry.kind = EntryKind::RegularFile;
    return entry;
}

QString IndexPageWriter::hrefFor(QByteArrayView name, int charset) {
    if (isPlainHref(name))
        return QString::fromLatin1(name);
    QString out;
    out.reserve(name.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(name.data());
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n;) {
        const qsizetype start = i;
        const char32_t c = platform::nextNameCharacter(bytes, n, i);
        const QString ch = QString::fromUcs4(&c, 1);
        bool literal;
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || (c >= 0xDC80 && c <= 0xDCFF))
            literal = false; // controls, and bytes that are not UTF-8 (as themselves)
        else if (c < 0x80)   // a URL parser strips spaces at either end: another name
            literal = !isHrefSpecial(char16_t(c)) && !(c == ' ' && (start == 0 || i == n));
        else
            literal = platform::toWide(platform::toBytes(ch, charset), charset) == ch;
        if (literal)
            out.append(ch);
        else
            appendPercentEncoded(out, name.sliced(start, i - start)); // the name's own bytes
    }
    return out;
}

IndexPageWriter::Page IndexPageWriter::build(const PageFolder& folder,
                                             const QList<IndexEntry>& entries,
                                             PageOptions options) {
    Page page;
    qsizetype expected = 1024;
    for (const IndexEntry& entry : entries)
        expected += entry.kind == EntryKind::RegularFile ? rowBytes(entry) : 0;
    growPage(page.text, expected);
    addHead(page.text, folder.title, options);
    PageRows rows(folder, options, page);
    for (const IndexEntry& entry : entries) {
        // Only documents get a row: not "..", wherever it stands, nor folders and devices.
        if (entry.kind == EntryKind::RegularFile)
            rows.add(entry);
    }
    rows.flush();
    for (const char* line : kFoot)
        addLine(page.text, line);
    return page;
}

int IndexPageWriter::write(const QByteArray& path, const QString& title,
                           const QList<IndexEntry>& entries, PageOptions options) {
    // A trailing '/' would follow a final link whoever owns it.
    const QByteArray open = platform::withoutTrailingSlash(path);
    platform::FileHandle held;
    const int err = open.isEmpty() ? 0 : platform::openFolder(AT_FDCWD, open, true, held);
    if (open.isEmpty() || err == ENOENT || err == ENOTDIR) {
        // No folder there: its documents and page then fail each with its own error.
        const Page built = build({AT_FDCWD, path, title}, entries, options);
        PageSaver::saveText(built.text, path + PageName);
        return built.documents;
    }
    if (err != 0) {
        EFCreateError error(platform::fromFsBytes(platform::fullPathOf(path + PageName)),
                            platform::systemErrorText(err));
        error.SetFailedPath(open);
        throw error;
    }
    return writeAt({held.get(), path, title}, entries, options);
}

int IndexPageWriter::writeAt(const PageFolder& folder, const QList<IndexEntry>& entries,
                             PageOptions options) {
    const Page page = build(folder, entries, options);
    PageSaver::saveTextAt(page.text, folder.fd, PageName, folder.path + PageName);
    return page.documents;
}
