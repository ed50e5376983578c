// The index page: exact bytes of the page, which entries become rows, code pages, href
// escaping, and that every failure leaves the folder exactly as it was.
#include "index/IndexPageWriter.h"

#include "base/Exception.h"
#include "platform/CodePage.h"
#include "platform/DocumentBatch.h"
#include "platform/Fault.h"
#include "platform/FsString.h"
#include "support/DocFiles.h"
#include "support/ExpectedPage.h"
#include "support/Fakes.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

using namespace expectedpage;

IndexEntry entry(const QString& name, EntryKind kind = EntryKind::RegularFile) {
    return IndexEntry{platform::toFsBytes(name), kind};
}

const IndexEntry kParent{"..", EntryKind::Parent};

// The page of a folder path (ending with '/'), titled as it reads, as the window writes it.
int writePage(const QString& folder, const QList<IndexEntry>& entries, PageOptions options = {}) {
    return IndexPageWriter::write(platform::toFsBytes(folder), folder, entries, options);
}
QByteArray pageBytes(const QString& folder, const QList<IndexEntry>& entries,
                     PageOptions options = {}) {
    return IndexPageWriter::build({AT_FDCWD, platform::toFsBytes(folder), folder}, entries, options)
        .text;
}

class IndexPageWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        root_ = QFile::encodeName(dir_.path()) + '/';
        docs_ = root_ + "Docs/";
        ASSERT_EQ(::mkdir(docs_.constData(), 0755), 0);
        folder_ = platform::fromFsBytes(docs_);
    }
    void TearDown() override { docfiles::removeTree(docs_); }
    void addDocument(const QByteArray& name, const QByteArray& content) {
        ASSERT_TRUE(docfiles::writeFile(docs_ + name, content));
    }
    // The page as the writer saves it into Docs/; documents read in batches and by the plain
    // loop must give the same page.
    QByteArray written(const QList<IndexEntry>& entries) {
        writePage(folder_, entries);
        const QByteArray batched = docfiles::readFile(docs_ + "index.htm");
        docfiles::PlainReads plain;
        writePage(folder_, entries);
        EXPECT_EQ(docfiles::readFile(docs_ + "index.htm"), batched) << "plain reads differ";
        return batched;
    }

    QTemporaryDir dir_;
    QByteArray root_;
    QByteArray docs_;
    QString folder_;
    docfiles::CodePageScope codePage_{1251};
    platform::fault::Scope faults_;
    docfiles::MessagesInC english_;
};

} // namespace

TEST_F(IndexPageWriterTest, ExamplePageByteForByte) {
    addDocument("a_.txt", "First\r\nline\r\n");
    addDocument("b_.txt", "Second\r\n");
    const QByteArray page = written({kParent, entry("a_.txt"), entry("b_.txt")});
    const Lines expected =
        head(docs_) + row(1, "a_.txt", " First line") + row(2, "b_.txt", " Second") + kFoot;
    ASSERT_EQ(expected.size(), 26);
    EXPECT_EQ(page, joined(expected));
    EXPECT_EQ(pageBytes(folder_, {kParent, entry("a_.txt"), entry("b_.txt")}), page);
    // A second click writes the same page again.
    EXPECT_EQ(written({kParent, entry("a_.txt"), entry("b_.txt")}), page);
    EXPECT_EQ(writePage(folder_, {kParent, entry("a_.txt"), entry("b_.txt")}), 2);
}

TEST_F(IndexPageWriterTest, EmptyPageHasSixteenLines) {
    const QByteArray expected = joined(head(docs_) + kFoot);
    EXPECT_EQ(written({kParent}), expected);
    EXPECT_EQ(written({}), expected);
    EXPECT_EQ(writePage(folder_, {}), 0);
    EXPECT_TRUE(expected.contains("</tr>\r\n</tr>\r\n</TABLE>"));
    EXPECT_EQ(expected.count("\r\n"), 16);
}

TEST_F(IndexPageWriterTest, RowsForDocumentsOnlyNumberedInListOrder) {
    addDocument("a_.txt", "A\r\n");
    addDocument("b_.txt", "B\r\n");
    ASSERT_EQ(::mkdir((docs_ + "!x").constData(), 0755), 0);
    ASSERT_EQ(::mkdir((docs_ + "sub").constData(), 0755), 0);
    // A FIFO is never opened: reading it would hang the page for ever.
    ASSERT_EQ(::mkfifo((docs_ + "f_.txt").constData(), 0644), 0);
    const Lines ab = row(1, "a_.txt", " A") + row(2, "b_.txt", " B");
    const struct {
        const char* name;
        QList<IndexEntry> entries;
        Lines rows;
    } cases[] = {
        {"parent first", {kParent, entry("a_.txt"), entry("b_.txt")}, ab},
        {"root folder without parent", {entry("a_.txt"), entry("b_.txt")}, ab},
        {"folder sorted before the parent",
         {entry("!x", EntryKind::Folder), kParent, entry("a_.txt"), entry("b_.txt")},
         ab},
        {"folders, a device and documents",
         {kParent, entry("sub", EntryKind::Folder), entry("a_.txt"),
          entry("f_.txt", EntryKind::Other), entry("b_.txt")},
         ab},
        {"list order, not name order",
         {entry("b_.txt"), entry("a_.txt")},
         row(1, "b_.txt", " B") + row(2, "a_.txt", " A")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(written(c.entries), joined(head(docs_) + c.rows + kFoot)) << c.name;
}

TEST_F(IndexPageWriterTest, DocumentText) {
    // The text as written, and with escapeHtml.
    const struct {
        const char* name;
        QByteArray content;
        QByteArray text;
        QByteArray escaped;
    } cases[] = {
        {"empty document", "", "", ""},
        {"empty line inside", "A\r\n\r\nB", " A  B", " A  B"},
        {"markup stays unescaped", "<b>Tom & \"Jerry\"</b>\r\n", " <b>Tom & \"Jerry\"</b>",
         " &lt;b&gt;Tom &amp; \"Jerry\"&lt;/b&gt;"},
        {"an ampersand alone", "Tom & Jerry", " Tom & Jerry", " Tom &amp; Jerry"},
        {"script", "<script>x()</script>", " <script>x()</script>",
         " &lt;script&gt;x()&lt;/script&gt;"},
        {"Ctrl+Z ends it",
         "A\r\nB\x1A"
         "C\r\n",
         " A B", " A B"},
        {"undefined byte survives", "x\x98y", " x\x98y", " x\x98y"},
        {"reference unescaped", "caf\xC3\xA9 & <", " caf&#233; & <", " caf&#233; &amp; &lt;"},
    };
    for (const auto& c : cases) {
        addDocument("d_.txt", c.content);
        EXPECT_EQ(written({entry("d_.txt")}),
                  joined(head(docs_) + row(1, "d_.txt", c.text) + kFoot))
            << c.name;
        writePage(folder_, {entry("d_.txt")}, PageOptions{true});
        EXPECT_EQ(docfiles::readFile(docs_ + "index.htm"),
                  joined(head(docs_) + row(1, "d_.txt", c.escaped) + kFoot))
            << c.name;
    }
}

TEST_F(IndexPageWriterTest, CyrillicWith1251And1252) {
    const QByteArray folderUtf8 = root_ + "\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0/"; // Папка/
    ASSERT_EQ(::mkdir(folderUtf8.constData(), 0755), 0);
    const QString folder = platform::fromFsBytes(folderUtf8);
    const QString name = QStringLiteral("документ_.txt");
    const QByteArray text1251 = "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0"; // Привет, мир
    ASSERT_TRUE(docfiles::writeFile(folderUtf8 + platform::toFsBytes(name), text1251 + "\r\n"));

    platform::setConversionCodePage(1251);
    const QByteArray name1251 = "\xE4\xEE\xEA\xF3\xEC\xE5\xED\xF2_.txt";
    EXPECT_EQ(
        pageBytes(folder, {kParent, entry(name)}),
        joined(head(root_ + "\xCF\xE0\xEF\xEA\xE0/") + row(1, name1251, " " + text1251) + kFoot));

    // A 1252 page declares so and loses no letter: what 1252 lacks is a reference.
    platform::setConversionCodePage(1252);
    const QByteArray escaped = "%D0%B4%D0%BE%D0%BA%D1%83%D0%BC%D0%B5%D0%BD%D1%82_.txt";
    const QByteArray page = pageBytes(folder, {kParent, entry(name)});
    EXPECT_TRUE(page.contains("charset=windows-1252\">\r\n"));
    EXPECT_TRUE(page.contains("<TITLE>" + root_ + "&#1055;&#1072;&#1087;&#1082;&#1072;/</TITLE>"));
    EXPECT_TRUE(page.contains("<th align=center>&#8470;&#8470;</th>"));
    EXPECT_TRUE(page.endsWith(joined(
        row(1, escaped, " " + text1251, "&#1089;&#1087;&#1088;&#1072;&#1074;&#1082;&#1072;") +
        kFoot)));
}

TEST_F(IndexPageWriterTest, Utf8DocumentUnder1251) {
    const struct {
        const char* name;
        QByteArray content;
        QByteArray text;
    } cases[] = {
        {"utf-8", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\r\n\xD0\xBC\xD0\xB8\xD1\x80",
         " \xCF\xF0\xE8\xE2\xE5\xF2 \xEC\xE8\xF0"},
        {"with byte-order mark", "\xEF\xBB\xBF\xD0\x9F\xD1\x80\xD0\xB8", " \xCF\xF0\xE8"},
        {"only a byte-order mark", "\xEF\xBB\xBF", " "},
        {"character 1251 lacks", "\xE6\x97\xA5 \xD0\xB4", " &#26085; \xE4"},
        {"beyond the basic plane", "\xF0\x9F\x93\x84", " &#128196;"},
    };
    for (const auto& c : cases) {
        addDocument("u_.txt", c.content);
        EXPECT_EQ(written({entry("u_.txt")}),
                  joined(head(docs_) + row(1, "u_.txt", c.text) + kFoot))
            << c.name;
    }
}

TEST_F(IndexPageWriterTest, Utf8PageStaysValidUtf8) {
    platform::setConversionCodePage(1253);                     // 0xAA is no character in it
    ASSERT_EQ(::mkdir((docs_ + "\xE0").constData(), 0755), 0); // a cp1253 name
    addDocument("\xE0/g_.txt", "a\xAA\xE1 \xF0\x9F\x93\x84");  // not UTF-8 as a whole
    const QByteArray page = pageBytes(platform::fromFsBytes(docs_ + "\xE0/"), {entry("g_.txt")},
                                      PageOptions{false, platform::kUtf8CodePage});
    EXPECT_TRUE(page.isValidUtf8());
    EXPECT_TRUE(page.contains("<TITLE>" + docs_ + "\xCE\xB0/</TITLE>"));
    EXPECT_TRUE(
        page.contains("> a\xEF\xBF\xBD\xCE\xB1 \xCF\x80\xC2\x9F\xE2\x80\x9C\xE2\x80\x9E</a>"));
}

TEST_F(IndexPageWriterTest, FailuresLeaveTheFolderAsItWas) {
    ASSERT_TRUE(docfiles::writeFile(docs_ + "index.htm", "old page"));
    addDocument("a_.txt", "A\r\n");
    addDocument("b_.txt", "B\r\n");
    ASSERT_EQ(::mkdir((docs_ + "sub_.txt").constData(), 0755), 0);
    ASSERT_EQ(::symlink("nowhere", (docs_ + "dangling_.txt").constData()), 0);
    const QString pageMessage =
        "Cannot create file \"" + folder_ + "index.htm\". Permission denied";
    const struct {
        const char* name;
        QString folder;
        QList<IndexEntry> entries;
        // A document's system call that fails, or a step of the page's save.
        fakes::CaseFault fault;
        int err;
        const char* className;
        QString message;
        bool readOnlyPage;
    } cases[] = {
        {"missing document",
         folder_,
         {kParent, entry("a_.txt"), entry("gone_.txt")},
         {},
         0,
         "EInOutError",
         "File not found",
         false},
        {"dangling link",
         folder_,
         {kParent, entry("dangling_.txt")},
         {},
         0,
         "EInOutError",
         "File not found",
         false},
        {"missing folder",
         folder_ + "nofolder/",
         {kParent, entry("a_.txt")},
         {},
         0,
         "EInOutError",
         "Invalid filename",
         false},
        {"folder listed as a file",
         folder_,
         {entry("sub_.txt")},
         {},
         0,
         "EInOutError",
         "File access denied",
         false},
        {"unreadable document",
         folder_,
         {kParent, entry("a_.txt"), entry("b_.txt")},
         "open",
         EACCES,
         "EInOutError",
         "File access denied",
         false},
        {"read fails",
         folder_,
         {entry("a_.txt")},
         "read",
         EIO,
         "EInOutError",
         "I/O error 30",
         false},
        {"read-only page",
         folder_,
         {kParent, entry("a_.txt")},
         {},
         0,
         "EFCreateError",
         pageMessage,
         true},
        {"page cannot be created",
         folder_,
         {kParent, entry("a_.txt")},
         fakes::PageStep::Open,
         EACCES,
         "EFCreateError",
         pageMessage,
         false},
        {"write fails",
         folder_,
         {kParent, entry("a_.txt")},
         fakes::PageStep::Write,
         ENOSPC,
         "EWriteError",
         "Stream write error",
         false},
    };
    for (const auto& c : cases)
        for (const bool plainReads : {false, true}) {
            SCOPED_TRACE(c.name);
            SCOPED_TRACE(plainReads ? "plain reads" : "batched reads");
            std::optional<docfiles::PlainReads> plain;
            if (plainReads)
                plain.emplace();
            platform::fault::clear();
            ASSERT_EQ(::chmod((docs_ + "index.htm").constData(), c.readOnlyPage ? 0444 : 0644), 0);
            const auto before = docfiles::snapshot(docs_);
            fakes::PageStepFaults pageFaults;
            // Every call fails: a batched read that fails once is read again the plain way.
            fakes::arm(c.fault, c.err, -1, pageFaults);
            try {
                writePage(c.folder, c.entries);
                ADD_FAILURE() << "written";
            } catch (const Exception& e) {
                EXPECT_STREQ(e.className(), c.className);
                EXPECT_EQ(e.Message(), c.message);
            }
            EXPECT_EQ(docfiles::snapshot(docs_), before);
        }
}

// Documents read in batches through io_uring give the page of the plain loop, whatever kind
// of document a batch holds and wherever the batches split the list; where the ring cannot be
// set up (no io_uring, refused under seccomp) the plain loop reads them all.
TEST_F(IndexPageWriterTest, BatchedReadsGiveThePlainPage) {
    QList<IndexEntry> entries{kParent};
    QByteArray content;
    for (int i = 0; i < 300; ++i) {
        const QByteArray name = "d" + QByteArray::number(i) + "_.txt";
        // Sizes from 0 to past a batch slot, lines split at every point of the reader's buffer.
        content = QByteArray(i * 37 % 9000, char('a' + i % 26)) + "\r\nx\ry\r\n";
        if (i % 50 == 7)
            content.clear();
        addDocument(name, content);
        entries.append(entry(platform::fromFsBytes(name)));
    }
    ASSERT_EQ(::symlink("d1_.txt", (docs_ + "own_link_.txt").constData()), 0);
    entries.append(entry("own_link_.txt"));
    docfiles::PlainReads plainScope;
    const QByteArray plain = pageBytes(folder_, entries);
    plainScope.end();
    // A failed completion (the fourth document's step) sends that document the plain way.
    const struct {
        const char* name;
        int setUpError;
        const char* hook;
        int err;
    } cases[] = {{"io_uring", 0, nullptr, 0},    {"no io_uring", ENOSYS, nullptr, 0},
                 {"seccomp", EPERM, nullptr, 0}, {"", 0, "open", EACCES},
                 {"", 0, "fstat", EIO},          {"", 0, "read", EAGAIN},
                 {"", 0, "close", EIO},          {"", 0, "batch-short-read", 1}};
    quint64 wholeBatch = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hook ? c.hook : c.name);
        platform::fault::Scope faults;
        if (c.hook)
            platform::fault::inject(c.hook, c.err, 3, 1);
        platform::DocumentBatch::failSetUpWith(c.setUpError);
        const quint64 before = platform::DocumentBatch::documentsReadAhead();
        EXPECT_EQ(pageBytes(folder_, entries), plain);
        // Only documents that fit a slot are read ahead; the rest go the plain way.
        const quint64 readAhead = platform::DocumentBatch::documentsReadAhead() - before;
        if (!c.hook && !c.setUpError)
            wholeBatch = readAhead;
        EXPECT_EQ(readAhead, c.setUpError ? 0 : c.hook ? wholeBatch - 1 : wholeBatch);
        platform::DocumentBatch::failSetUpWith(0);
    }
}

// A FIFO in a document's place, its writer holding it open with a line in it: the batch does
// not wait on it, nor takes the line for a document's text.
TEST_F(IndexPageWriterTest, FifoInADocumentsPlaceNeverBlocks) {
    ASSERT_EQ(::mkfifo((docs_ + "f_.txt").constData(), 0644), 0);
    const int writer = ::open((docs_ + "f_.txt").constData(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::write(writer, "text\r\n", 6), 6);
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(10); // a read that blocks ends the child, not the test run
        try {
            pageBytes(folder_, {entry("f_.txt")});
        } catch (const EInOutError&) {
            ::_exit(0); // refused by the plain loop
        }
        ::_exit(1);
    }
    int status = 0;
    EXPECT_TRUE(writer >= 0 && ::waitpid(child, &status, 0) == child && status == 0) << status;
    ::close(writer);
}

TEST_F(IndexPageWriterTest, WriteFailingMidwayKeepsTheOldPage) {
    ASSERT_TRUE(docfiles::writeFile(docs_ + "index.htm", "old page"));
    addDocument("a_.txt", QByteArray(300, 'a') + "\r\n");
    const auto before = docfiles::snapshot(docs_);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The first write comes back short, the next one fails with EFBIG.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{200, 200};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        int result = 1;
        try {
            writePage(folder_, {kParent, entry("a_.txt")});
        } catch (const EWriteError& e) {
            result = e.Message() == QStringLiteral("Stream write error") ? 0 : 2;
        } catch (...) {
            result = 3;
        }
        ::_exit(result);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(docfiles::snapshot(docs_), before);
}

namespace {

QStringList hrefsOf(const QByteArray& page) {
    const QString text = readPage(page);
    QStringList hrefs;
    qsizetype at = 0;
    while ((at = text.indexOf(QLatin1String("href=\""), at)) >= 0) {
        at += 6;
        const qsizetype end = text.indexOf(QLatin1Char('"'), at);
        hrefs.append(text.mid(at, end - at));
    }
    return hrefs;
}

} // namespace

TEST_F(IndexPageWriterTest, EveryHrefReachesItsFile) {
    const struct {
        QByteArray name; // file-system bytes
        QByteArray href; // as the page holds it (windows-1251 bytes)
    } cases[] = {
        {"a#b_.txt", "a%23b_.txt"},
        {"Tom&Jerry_.txt", "Tom%26Jerry_.txt"},
        {"50%_.txt", "50%25_.txt"},
        {"why?_.txt", "why%3F_.txt"},
        {"say \"hi\"_.txt", "say %22hi%22_.txt"},
        {"tab\there_.txt", "tab%09here_.txt"},
        {"del\x7F_.txt", "del%7F_.txt"},
        {"back\\slash_.txt", "back%5Cslash_.txt"},
        {"\xE4\xB8\xAD_.txt", "%E4%B8%AD_.txt"},               // 中: not in 1251
        {"\xE7\xE0\xEA\xEE\xED_.txt", "%E7%E0%EA%EE%ED_.txt"}, // cp1251 bytes
        {"\xD0\xB7\xD0\xB0\xD0\xBA\xD0\xBE\xD0\xBD_.txt", "\xE7\xE0\xEA\xEE\xED_.txt"}, // закон
        {"plain <b> _.txt", "plain <b> _.txt"},
        // Spaces a URL parser strips, and ':' that a browser reads as a scheme.
        {" lead_.txt", "%20lead_.txt"},
        {"trail_.txt ", "trail_.txt%20"},
        {"C:y_.txt", "C%3Ay_.txt"},
        {"javascript:x_.txt", "javascript%3Ax_.txt"},
        {" \xD0\xB7:_.txt", "%20\xE7%3A_.txt"}, // з, not plain ASCII
    };
    QList<IndexEntry> entries{kParent};
    for (const auto& c : cases) {
        ASSERT_TRUE(docfiles::writeFile(docs_ + c.name, "text\r\n")) << c.name.constData();
        entries.append(entry(platform::fromFsBytes(c.name)));
    }
    const QByteArray page = written(entries);
    const QStringList hrefs = hrefsOf(page);
    ASSERT_EQ(hrefs.size(), 2 * qsizetype(std::size(cases)));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.name.toHex().constData());
        EXPECT_TRUE(page.contains("<a href=\"" + c.href + ".rtf\">"));
        EXPECT_EQ(resolveHref(hrefs[2 * i]), c.name + ".rtf");
        EXPECT_EQ(resolveHref(hrefs[2 * i + 1]), c.name + ".txt");
        // The document itself is where the link (less its suffix) points.
        QByteArray target = resolveHref(hrefs[2 * i]);
        target.chop(4);
        struct stat st;
        EXPECT_EQ(::stat((docs_ + target).constData(), &st), 0);
    }
}

TEST_F(IndexPageWriterTest, HrefKeepsWhatThePageCharsetHolds) {
    const QString emoji = QString::fromUcs4(U"\U0001F600.txt");
    EXPECT_EQ(IndexPageWriter::hrefFor("caf\xC3\xA9_.txt", 1252), QStringLiteral("caf\u00E9_.txt"));
    EXPECT_EQ(IndexPageWriter::hrefFor("caf\xC3\xA9_.txt", 1251), QStringLiteral("caf%C3%A9_.txt"));
    EXPECT_EQ(IndexPageWriter::hrefFor("\xE2\x84\x96_.txt", 1251), QStringLiteral("\u2116_.txt"));
    EXPECT_EQ(IndexPageWriter::hrefFor(emoji.toUtf8(), 1251), QStringLiteral("%F0%9F%98%80.txt"));
    EXPECT_EQ(IndexPageWriter::hrefFor(emoji.toUtf8(), platform::kUtf8CodePage), emoji);
    EXPECT_EQ(IndexPageWriter::hrefFor("\xE0 \xC3\xA9.txt", platform::kUtf8CodePage),
              QStringLiteral("%E0 \u00E9.txt"));
}

TEST_F(IndexPageWriterTest, EmptyFolderMeansTheWorkingFolder) {
    addDocument("a_.txt", "A\r\n");
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(docs_.constData()), 0);
    int count = -1;
    try {
        count = writePage(QString(), {entry("a_.txt")});
    } catch (const Exception& e) {
        ADD_FAILURE() << e.what();
    }
    ASSERT_EQ(::chdir(cwd), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(docfiles::readFile(docs_ + "index.htm"),
              joined(head("") + row(1, "a_.txt", " A") + kFoot));
}

TEST(IndexEntry, KindFromTheListedAttributes) {
    const struct {
        QByteArray name;
        quint32 attr;
        EntryKind kind;
    } cases[] = {
        {"..", faDirectory, EntryKind::Parent},
        {"sub", faDirectory | faHidden, EntryKind::Folder},
        {"a_.txt", faArchive, EntryKind::RegularFile},
        {"ro_.txt", faArchive | faReadOnly, EntryKind::RegularFile},
        {"dangling_.txt", 0, EntryKind::RegularFile},
        {"fifo_.txt", faSysFile, EntryKind::Other},
        {"/media/usb", faVolumeID, EntryKind::Other},
    };
    for (const auto& c : cases) {
        TSearchRec rec;
        rec.Name = c.name;
        rec.Attr = c.attr;
        const IndexEntry e = IndexEntry::fromSearchRec(rec);
        EXPECT_EQ(e.kind, c.kind) << c.name.constData();
        EXPECT_EQ(e.name, c.name);
    }
}
