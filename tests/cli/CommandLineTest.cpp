// The command-line mode end to end: pages written from real folders, what is printed, what
// failures leave behind, the walk of --recursive, and the exit codes.
#include "main/CommandLine.h"
#include "listing/ListingTestSupport.h"
#include "main/LogLines.h"
#include "main/Progress.h"
#include "platform/CodePage.h"
#include "platform/Fault.h"
#include "support/DocFiles.h"
#include "support/ExpectedPage.h"
#include "support/Fakes.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QTimer>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <utility>

using listingtest::Folder;

namespace {

struct Result {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the mode; its output goes to `to` when given (then closed), else into r.out.
Result runCli(const QList<QByteArray>& arguments, std::FILE* to = nullptr) {
    char* outBuffer = nullptr;
    char* errBuffer = nullptr;
    size_t outSize = 0, errSize = 0;
    std::FILE* out = to ? to : open_memstream(&outBuffer, &outSize);
    std::FILE* err = open_memstream(&errBuffer, &errSize);
    Result r;
    r.code = cli::run(arguments, out, err);
    std::fclose(out);
    std::fclose(err);
    r.out = QByteArray(outBuffer, qsizetype(outSize));
    r.err = QByteArray(errBuffer, qsizetype(errSize));
    std::free(outBuffer);
    std::free(errBuffer);
    return r;
}

// The two-document example page for a folder title (the title's bytes as given).
QByteArray examplePage(const QByteArray& title) {
    using namespace expectedpage;
    return joined(head(title) + row(1, "a_.txt", " First line") + row(2, "b_.txt", " Second") +
                  kFoot);
}

void makeExample(const Folder& dir) {
    ASSERT_TRUE(docfiles::writeFile(dir / "a_.txt", "First\r\nline\r\n"));
    ASSERT_TRUE(docfiles::writeFile(dir / "b_.txt", "Second\r\n"));
}

class Cli : public ::testing::Test {
protected:
    docfiles::CodePageScope codePage_{1252}; // --codepage changes it; put back afterwards
};

TEST_F(Cli, WritesTheExamplePageByteForByte) {
    Folder dir;
    makeExample(dir);
    const Result r = runCli({"--write", "--codepage", "1251", dir.path()});
    EXPECT_EQ(r.code, cli::kAllWritten) << r.err.constData();
    EXPECT_EQ(r.out, dir.path() + "/index.htm: 2 documents, 4 links lead to missing files\n");
    EXPECT_TRUE(r.err.isEmpty());
    EXPECT_EQ(docfiles::readFile(dir / "index.htm"), examplePage(dir.path() + "/"));

    // Again, over the old page, with the folder given with its trailing '/'.
    const Result again = runCli({"--codepage=1251", "--write", dir.path() + "/"});
    EXPECT_EQ(again.code, cli::kAllWritten);
    EXPECT_EQ(again.out, dir.path() + "/index.htm: 2 documents, 4 links lead to missing files\n");
    EXPECT_EQ(docfiles::readFile(dir / "index.htm"), examplePage(dir.path() + "/"));
}

TEST_F(Cli, StdoutPrintsThePageAndWritesNothing) {
    Folder dir;
    makeExample(dir);
    const Result r = runCli({"--write", "--stdout", "--codepage", "1251", dir.path()});
    EXPECT_EQ(r.code, cli::kAllWritten);
    EXPECT_EQ(r.out, examplePage(dir.path() + "/"));
    EXPECT_FALSE(dir.exists("index.htm"));
}

TEST_F(Cli, RelativeFolderIsTitledAbsolute) {
    Folder dir;
    ASSERT_TRUE(dir.folder("docs"));
    ASSERT_TRUE(docfiles::writeFile(dir / "docs/a_.txt", "First\r\nline\r\n"));
    ASSERT_TRUE(docfiles::writeFile(dir / "docs/b_.txt", "Second\r\n"));
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.location()));
    const Result r = runCli({"--write", "--codepage", "1251", "docs"});
    QDir::setCurrent(saved);
    EXPECT_EQ(r.code, cli::kAllWritten);
    EXPECT_EQ(r.out, QByteArray("docs/index.htm: 2 documents, 4 links lead to missing files\n"));
    EXPECT_EQ(docfiles::readFile(dir / "docs/index.htm"), examplePage(dir.path() + "/docs/"));
}

// Folders, the parent entry, other files and devices get no rows; subfolders no pages.
TEST_F(Cli, FolderWithSubfolders) {
    Folder dir;
    makeExample(dir);
    ASSERT_TRUE(dir.folder("aaa_.txt")); // a folder named like a document
    ASSERT_TRUE(dir.folder("sub"));
    ASSERT_TRUE(docfiles::writeFile(dir / "sub/c_.txt", "Third\r\n"));
    ASSERT_TRUE(docfiles::writeFile(dir / "notes.txt", "not a document\r\n"));
    ASSERT_TRUE(dir.fifo("pipe_.txt"));
    const Result r = runCli({"--write", "--codepage", "1251", dir.path()});
    EXPECT_EQ(r.code, cli::kAllWritten) << r.err.constData();
    EXPECT_EQ(r.out, dir.path() + "/index.htm: 2 documents, 4 links lead to missing files\n");
    EXPECT_EQ(docfiles::readFile(dir / "index.htm"), examplePage(dir.path() + "/"));
    EXPECT_FALSE(dir.exists("sub/index.htm"));
}

TEST_F(Cli, FailureLeavesTheFolderUntouchedAndOthersGoOn) {
    Folder bad, good;
    makeExample(good);
    ASSERT_TRUE(docfiles::writeFile(bad / "a_.txt", "fine\r\n"));
    ASSERT_TRUE(bad.symlink("missing-target", "b_.txt")); // listed, but cannot be read
    ASSERT_TRUE(docfiles::writeFile(bad / "index.htm", "the old page"));
    const auto before = docfiles::snapshot(bad.path());

    const Result r = runCli({"--write", "--codepage", "1251", bad.path(), good.path()});
    EXPECT_EQ(r.code, cli::kSomeFailed);
    EXPECT_EQ(r.err, "docindex: " + bad.path() + ": b_.txt: File not found\n") << r.err.constData();
    EXPECT_EQ(r.out, good.path() + "/index.htm: 2 documents, 4 links lead to missing files\n");
    EXPECT_EQ(docfiles::snapshot(bad.path()), before);
    EXPECT_EQ(docfiles::readFile(good / "index.htm"), examplePage(good.path() + "/"));
}

TEST_F(Cli, FolderThatCannotBeWrittenOrDoesNotExist) {
    Folder dir;
    makeExample(dir);
    ASSERT_TRUE(docfiles::writeFile(dir / "index.htm", "read-only page"));
    ASSERT_EQ(::chmod((dir / "index.htm").constData(), 0444), 0);
    const auto before = docfiles::snapshot(dir.path());
    Result r = runCli({"--write", dir.path()});
    EXPECT_EQ(r.code, cli::kSomeFailed);
    EXPECT_TRUE(r.err.startsWith("docindex: " + dir.path() + ": Cannot create file \"" +
                                 dir.path() + "/index.htm\"."))
        << r.err.constData();
    EXPECT_EQ(docfiles::snapshot(dir.path()), before);

    r = runCli({"--write", dir / "missing"});
    EXPECT_EQ(r.code, cli::kSomeFailed);
    EXPECT_EQ(r.err,
              "docindex: " + (dir / "missing") + ": File not found: No such file or directory\n")
        << r.err.constData();
    EXPECT_FALSE(dir.exists("missing"));
}

TEST_F(Cli, RecursiveWalksRealFoldersOnly) {
    Folder dir;
    makeExample(dir);
    ASSERT_TRUE(dir.folder("b"));
    ASSERT_TRUE(docfiles::writeFile(dir / "b/x_.txt", "x\r\n"));
    ASSERT_TRUE(dir.folder("b/deep"));
    ASSERT_TRUE(docfiles::writeFile(dir / "b/deep/y_.txt", "y\r\n"));
    ASSERT_TRUE(dir.symlink("..", "b/up")); // a loop, if links were followed
    ASSERT_TRUE(dir.folder("a-empty"));     // no documents: no page
    ASSERT_TRUE(dir.folder(".hidden"));     // skipped
    ASSERT_TRUE(docfiles::writeFile(dir / ".hidden/h_.txt", "h\r\n"));
    ASSERT_TRUE(dir.symlink("b", "c-link")); // a link to a folder: not followed

    const Result r = runCli({"--write", "-r", dir.path()});
    EXPECT_EQ(r.code, cli::kAllWritten) << r.err.constData();
    EXPECT_EQ(r.out, dir.path() + "/index.htm: 2 documents, 4 links lead to missing files\n" +
                         dir.path() + "/b/index.htm: 1 document, 2 links lead to missing files\n" +
                         dir.path() +
                         "/b/deep/index.htm: 1 document, 2 links lead to missing files\n");
    EXPECT_FALSE(dir.exists("a-empty/index.htm"));
    EXPECT_FALSE(dir.exists(".hidden/index.htm"));
    EXPECT_TRUE(dir.exists("b/deep/index.htm"));

    // --empty: folders without documents get their page too; a DIR below another is
    // written once.
    const Result all = runCli({"--write", "--recursive", "--empty", dir.path(), dir / "b"});
    EXPECT_EQ(all.code, cli::kAllWritten);
    EXPECT_EQ(all.out, dir.path() + "/index.htm: 2 documents, 4 links lead to missing files\n" +
                           dir.path() + "/a-empty/index.htm: 0 documents\n" + dir.path() +
                           "/b/index.htm: 1 document, 2 links lead to missing files\n" +
                           dir.path() +
                           "/b/deep/index.htm: 1 document, 2 links lead to missing files\n");
    EXPECT_TRUE(dir.exists("a-empty/index.htm"));
}

// Pages are written beside the walk; every line still comes in walk order, as from one thread.
TEST_F(Cli, RecursiveLinesInWalkOrderOnEitherThread) {
    Folder dir;
    QByteArray out, err;
    for (int i = 0; i < 30; ++i) {
        const QByteArray name = "f" + QByteArray::number(i + 10);
        ASSERT_TRUE(dir.folder(name));
        if (i % 5 == 4)
            continue; // no documents: no page, no line
        ASSERT_TRUE(docfiles::writeFile(dir / name + "/a_.txt", "a\r\n"));
        if (i % 7 == 3) {
            ASSERT_TRUE(dir.symlink("missing", name + "/b_.txt"));
            err += "docindex: " + (dir / name) + ": b_.txt: File not found\n";
        } else {
            out += (dir / name) + "/index.htm: 1 document, 2 links lead to missing files\n";
        }
    }
    for (const bool oneThread : {false, true}) {
        if (oneThread)
            ::setenv("DOCINDEX_ONE_THREAD", "1", 1);
        const Result r = runCli({"--write", "-r", dir.path()});
        ::unsetenv("DOCINDEX_ONE_THREAD");
        EXPECT_EQ(r.code, cli::kSomeFailed) << oneThread;
        EXPECT_EQ(r.out, out) << oneThread;
        EXPECT_EQ(r.err, err) << oneThread;
    }
}

// Names that are not UTF-8 go through the parser and into every text byte for byte.
// Each document links to its ".rtf" and ".txt" companions: the page's line counts those that
// are no file (a folder, a dangling link), -q hides the line, and the page stays as it is.
TEST_F(Cli, PageLineCountsLinksThatLeadNowhere) {
    Folder dir;
    makeExample(dir);
    ASSERT_TRUE(docfiles::writeFile(dir / "a_.txt.rtf", "{\\rtf1}") && dir.folder("a_.txt.txt"));
    ASSERT_EQ(::symlink("nowhere", (dir / "b_.txt.rtf").constData()), 0);
    ASSERT_EQ(::symlink("a_.txt.rtf", (dir / "b_.txt.txt").constData()), 0);
    const QByteArray line = dir.path() + "/index.htm: 2 documents";
    const std::pair<QByteArray, QByteArray> runs[] = {
        {"--write", line + ", 2 links lead to missing files\n"}, {"-q", ""}};
    for (const auto& [option, expected] : runs) {
        const Result r = runCli({option, "--codepage", "1251", dir.path()});
        EXPECT_EQ(r.out, expected) << r.err.constData();
        EXPECT_EQ(docfiles::readFile(dir / "index.htm"), examplePage(dir.path() + "/"));
    }
    ASSERT_TRUE(::unlink((dir / "b_.txt.rtf").constData()) == 0 &&
                docfiles::writeFile(dir / "b_.txt.rtf", ""));
    EXPECT_EQ(runCli({"--write", dir.path()}).out, line + ", 1 link leads to a missing file\n");
    ASSERT_TRUE(::rmdir((dir / "a_.txt.txt").constData()) == 0 &&
                docfiles::writeFile(dir / "a_.txt.txt", ""));
    EXPECT_EQ(runCli({"--write", dir.path()}).out, line + "\n");
}

TEST_F(Cli, NamesThatAreNotUtf8AndEscapedPages) {
    Folder dir;
    const QByteArray name = "\xCF\xE0\xEF\xEA\xE0 &<b>"; // cp1251
    ASSERT_TRUE(dir.folder(name));
    ASSERT_TRUE(docfiles::writeFile(dir / name + "/a_.txt", "<b> & <script>\n"));
    Result r = runCli({"-q", "--codepage", "1251", dir / name});
    EXPECT_EQ(r.code, cli::kAllWritten) << r.err.constData();
    EXPECT_TRUE(r.out.isEmpty()); // quiet
    using namespace expectedpage;
    EXPECT_EQ(docfiles::readFile(dir / name + "/index.htm"),
              joined(head(dir / name + "/") + row(1, "a_.txt", " <b> & <script>") + kFoot));

    r = runCli({"--escape-html", "--codepage", "1251", "--stdout", dir / name});
    EXPECT_EQ(r.out, joined(head(dir.path() + "/\xCF\xE0\xEF\xEA\xE0 &amp;&lt;b&gt;/") +
                            row(1, "a_.txt", " &lt;b&gt; &amp; &lt;script&gt;") + kFoot));

    r = runCli({"--write", dir / name + "/missing"});
    EXPECT_EQ(r.code, cli::kSomeFailed);
    EXPECT_TRUE(r.err.startsWith("docindex: " + dir / name + "/missing: ")) << r.err.constData();
}

// Past the per-user limit of watches: said once, and the folders watched are kept current.
TEST_F(Cli, WatchPastTheLimitOfWatchesGoesOn) {
    Folder dir;
    for (const char* name : {"a", "b", "c"})
        ASSERT_TRUE(dir.folder(name));
    const fakes::Installed<platform::InotifyCalls> limit( // DIR itself is watched
        platform::setInotifyCalls, std::make_shared<fakes::FakeInotify>(1));
    QTimer stop; // a SIGTERM once the watch waits for changes
    stop.setSingleShot(true);
    QObject::connect(&stop, &QTimer::timeout, [] { std::raise(SIGTERM); });
    stop.start(0);
    const Result r = runCli({"--watch", "-r", "--empty", dir.path()});
    EXPECT_EQ(r.code, cli::kAllWritten);
    EXPECT_EQ(r.err.count("fs.inotify.max_user_watches"), 1) << r.err.constData();
    EXPECT_EQ(r.out.count("index.htm: 0 documents\n"), 4); // every page is still written
}

// A lost queue of events: every page is written again, since any change may be among them.
TEST_F(Cli, WatchWritesEveryPageAgainAfterALostQueue) {
    Folder dir;
    ASSERT_TRUE(dir.folder("a") && dir.folder("b"));
    const auto inotify = std::make_shared<fakes::FakeInotify>();
    const fakes::Installed<platform::InotifyCalls> installed(platform::setInotifyCalls, inotify);
    const QDeadlineTimer deadline(20000);
    QTimer step; // runs once the watch waits for changes
    QObject::connect(&step, &QTimer::timeout, [&] {
        if (inotify->queueLost() || deadline.hasExpired())
            std::raise(SIGTERM); // after the pages of the lost queue: they are written at once
        else if (docfiles::writeFile(dir / "b/woken", "")) // not a document: no page of its own
            inotify->loseQueue();
    });
    step.start(20);
    const Result r = runCli({"--watch", "-r", "--empty", dir.path()});
    EXPECT_EQ(r.code, cli::kAllWritten) << r.err.constData();
    EXPECT_EQ(r.out.count("index.htm: 0 documents\n"), 6) << r.out.constData();
}

// When the output is the journal's stream (JOURNAL_STREAM names its file), lines carry syslog
// priorities: pages written <6>, failures <3>.
TEST_F(Cli, JournalStreamLinesCarryPriorities) {
    Folder dir;
    ASSERT_TRUE(dir.folder("good") && docfiles::writeFile(dir / "good/a_.txt", "a\n"));
    std::FILE* journal = std::fopen((dir / "journal").constData(), "w");
    struct stat st {};
    ASSERT_EQ(::fstat(::fileno(journal), &st), 0);
    const QByteArray stream = QByteArray::number(st.st_dev) + ':' + QByteArray::number(st.st_ino);
    ::setenv("JOURNAL_STREAM", stream.constData(), 1);
    EXPECT_EQ(cli::run({"--write", dir / "good", dir / "missing"}, journal, journal),
              cli::kSomeFailed);
    ::unsetenv("JOURNAL_STREAM");
    std::fclose(journal);
    const QByteArray lines = docfiles::readFile(dir / "journal");
    EXPECT_TRUE(lines.startsWith("<6>" +
                                 dir / "good/index.htm: 1 document, 2 links lead to missing "
                                       "files\n<3>docindex: " +
                                 dir / "missing: File not found"))
        << lines.constData();
}

// The same error line at most once a minute, then the number of its repeats.
TEST(CliRepeatedLines, OnceAMinuteThenTheCount) {
    cli::RepeatedLines lines;
    const auto at = [](int s) {
        return cli::RepeatedLines::Clock::time_point{std::chrono::seconds(s)};
    };
    const QByteArray a = "docindex: d: File not found", b = "docindex: e: Disk full";
    const QByteArray count = a + " (2 more times since it was last said)";
    using List = QList<QByteArray>;
    EXPECT_EQ(lines.admit(a, at(0)) + lines.admit(b, at(0)), (List{a, b}));
    EXPECT_EQ(lines.admit(a, at(1)) + lines.admit(a, at(59)) + lines.due(at(59)), List{});
    EXPECT_EQ(lines.nextDue(), at(60));
    EXPECT_EQ(lines.due(at(60)), List{count}); // b did not come again: forgotten
    EXPECT_EQ(lines.admit(a, at(61)) + lines.admit(a, at(62)), List{}); // the count was its line
    EXPECT_EQ(lines.admit(a, at(120)) + lines.admit(b, at(120)), (List{count, a, b}));
    EXPECT_EQ(lines.nextDue(), std::nullopt);
}

TEST(CliProgress, OneLineAtMostTenTimesASecondErasedAtTheEnd) {
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* err = open_memstream(&buffer, &size);
    std::chrono::steady_clock::time_point now{};
    {
        cli::Progress progress(err, true, [&] { return now; });
        progress.addFolder(2); // drawn
        now += std::chrono::milliseconds(50);
        progress.addFolder(0); // too soon
        now += std::chrono::milliseconds(60);
        progress.addFolder(1); // drawn
        cli::Progress hidden(err, false);
        hidden.addFolder(5); // not a terminal: nothing
    }
    std::fclose(err);
    EXPECT_EQ(QByteArray(buffer, qsizetype(size)),
              "\r\033[K1 folder, 2 documents\r\033[K3 folders, 3 documents\r\033[K");
    std::free(buffer);
}

TEST_F(Cli, EveryNamedFolderIsWrittenWithoutRecursive) {
    Folder dir;
    ASSERT_TRUE(dir.folder("empty"));
    const Result r = runCli({"--write", dir / "empty"});
    EXPECT_EQ(r.code, cli::kAllWritten);
    EXPECT_EQ(r.out, (dir / "empty") + "/index.htm: 0 documents\n");
    EXPECT_TRUE(dir.exists("empty/index.htm"));
}

TEST_F(Cli, UsageAndExitCodes) {
    struct Case {
        QList<QByteArray> arguments;
        int code;
        const char* outStarts;
        const char* errStarts;
    } const cases[] = {
        {{}, cli::kBadUsage, "", "docindex: nothing to do"},
        {{"--write"}, cli::kBadUsage, "", "docindex: no folder given"},
        {{"-r"}, cli::kBadUsage, "", "docindex: no folder given"},
        {{"--writ", "x"}, cli::kBadUsage, "", "docindex: unknown option '--writ'\n"},
        {{"--a\nb\x1b", "x"}, cli::kBadUsage, "", "docindex: unknown option '--a\\nb\\x1b'\n"},
        {{"-xr", "x"}, cli::kBadUsage, "", "docindex: unknown option '-x'\n"},
        {{"--write=1", "x"}, cli::kBadUsage, "", "docindex: unexpected value after '--write'\n"},
        {{"--write", ""}, cli::kBadUsage, "", "docindex: a folder name cannot be empty"},
        {{"--write", "a", ""}, cli::kBadUsage, "", "docindex: a folder name cannot be empty"},
        {{"a", "b"}, cli::kBadUsage, "", "docindex: the window opens one folder"},
        {{"--watch", "--stdout", "a"}, cli::kBadUsage, "", "docindex: --stdout"},
        {{"--bogus", "--write", "x"}, cli::kBadUsage, "", "docindex: unknown option '--bogus'"},
        {{"--write", "--stdout", "a", "b"}, cli::kBadUsage, "", "docindex: --stdout"},
        {{"--write", "--stdout", "-r", "a"}, cli::kBadUsage, "", "docindex: --stdout"},
        {{"--write", "--codepage", "999", "a"}, cli::kBadUsage, "", "docindex: unknown code page"},
        {{"--charset", "cp1251", "a"},
         cli::kBadUsage,
         "",
         "docindex: unknown charset 'cp1251' (one of: windows-874, shift_jis, gbk,"},
        {{"--write", "--codepage"},
         cli::kBadUsage,
         "",
         "docindex: missing value after '--codepage'"},
        {{"--help"}, cli::kAllWritten, "Usage: docindex [OPTION]... DIR...", ""},
        {{"-h", "--write", "x"}, cli::kAllWritten, "Usage: docindex [OPTION]... DIR...", ""},
        {{"--version"}, cli::kAllWritten, "docindex ", ""},
    };
    for (const Case& c : cases) {
        const Result r = runCli(c.arguments);
        EXPECT_EQ(r.code, c.code) << c.arguments.join(' ').constData();
        EXPECT_TRUE(r.out.startsWith(c.outStarts)) << r.out.constData();
        EXPECT_TRUE(r.err.startsWith(c.errStarts)) << r.err.constData();
        if (c.code == cli::kBadUsage) {
            EXPECT_TRUE(r.err.contains("docindex --help")) << r.err.constData();
        }
    }
}

TEST(CliDispatch, WhichArgumentsMeanTheCommandLine) {
    const std::pair<QList<QByteArray>, bool> cases[] = {
        {{}, false},
        {{"/some/folder"}, false}, // the window's start folder
        {{"--write", "x"}, true},
        {{"x", "--help"}, true},
        {{"-h"}, true},
        {{"--version"}, true},
        {{"--", "--write"}, false},               // a folder named --write
        {{"-platform", "offscreen", "x"}, false}, // the toolkit's own options
        {{"--style=fusion", "-reverse"}, false},
        {{"--stdout", "x"}, true},
        {{"-r", "x"}, true},
        {{"--writ", "x"}, true}, // refused as bad usage, without a display
        {{"-q", "x"}, true},
        {{"--watch", "x"}, true},
        {{"--escape-html", "x"}, true},
        {{"a", "b"}, true},
        {{""}, true},
    };
    for (const auto& [arguments, expected] : cases)
        EXPECT_EQ(cli::isCommandLine(arguments), expected) << arguments.join(' ').constData();
}

} // namespace

namespace {

// Hostile and broken folders: each case fails with its message, and neither the folder (the
// old page byte for byte) nor anything outside it changes.
TEST_F(Cli, HostileAndBrokenFoldersChangeNothing) {
    struct Case {
        const char* link;   // a link planted in the folder (by nobody when linkOwner)...
        const char* target; // ...to this name in the outside folder ("target": root's, 600)
        bool linkOwner;
        fakes::CaseFault fault; // or a failing call or save step
        int err;
        const char* errContains;
    } const cases[] = {
        {"c_.txt", "target", true, {}, 0, ": c_.txt: File access denied: Permission denied\n"},
        {"l_.txt", nullptr, false, {}, 0, ": l_.txt: I/O error 1921: Too many levels"},
        {nullptr, nullptr, false, "opendir", EACCES, ": File access denied: Permission denied\n"},
        {nullptr, nullptr, false, "read", EAGAIN, ": a_.txt: I/O error 31: Resource temporarily"},
        {nullptr, nullptr, false, fakes::PageStep::Write, ENOSPC,
         ": index.htm: Stream write error: No space"},
    };
    for (const Case& c : cases) {
        if (c.linkOwner && ::geteuid() != 0) {
            std::printf("skipped %s: planting another user's link needs root\n", c.link);
            continue;
        }
        platform::fault::Scope faults;
        Folder dir, outside;
        makeExample(dir);
        if (c.link) {
            ASSERT_TRUE(docfiles::writeFile(outside / "target", "root's file", 0600));
            ASSERT_TRUE(dir.symlink(c.target ? outside / c.target : "l_.txt", c.link));
            ASSERT_TRUE(!c.linkOwner || ::lchown((dir / c.link).constData(), 65534, 65534) == 0);
        }
        ASSERT_TRUE(dir.exists("index.htm") || docfiles::writeFile(dir / "index.htm", "old page"));
        fakes::PageStepFaults pageFaults;
        fakes::arm(c.fault, c.err, -1, pageFaults);
        const auto before = docfiles::snapshot(dir.path());
        const auto outsideBefore = docfiles::snapshot(outside.path());
        const Result r = runCli({"--write", "-r", dir.path()});
        platform::fault::clear();
        EXPECT_EQ(r.code, cli::kSomeFailed);
        EXPECT_TRUE(r.err.startsWith("docindex: " + dir.path() + ": ")) << r.err.constData();
        EXPECT_TRUE(r.err.contains(c.errContains)) << r.err.constData();
        EXPECT_EQ(docfiles::snapshot(dir.path()), before) << r.err.constData();
        EXPECT_EQ(docfiles::snapshot(outside.path()), outsideBefore) << r.err.constData();
    }
}

TEST_F(Cli, RemovedWorkingFolderIsAnErrorNotTheRoot) {
    Folder dir;
    ASSERT_TRUE(dir.folder("gone"));
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QFile::decodeName(dir / "gone")));
    ASSERT_EQ(::rmdir((dir / "gone").constData()), 0);
    const Result r = runCli({"--write", "."});
    QDir::setCurrent(saved);
    EXPECT_EQ(r.code, cli::kSomeFailed);
    EXPECT_EQ(r.err, "docindex: .: File not found: No such file or directory\n");
    EXPECT_FALSE(QFile::exists(QStringLiteral("/index.htm")));
}

// A folder swapped for a link to another tree between its listing and its use is not
// entered; folders deeper than PATH_MAX are written like any other.
TEST_F(Cli, RecursiveHoldsEachFolder) {
    Folder dir, outside;
    ASSERT_TRUE(dir.folder("sub"));
    ASSERT_TRUE(docfiles::writeFile(dir / "sub/x_.txt", "x"));
    ASSERT_TRUE(docfiles::writeFile(outside / "y_.txt", "y"));
    platform::fault::Scope faults;
    int opened = 0;
    platform::fault::onReach("folder-open", [&] {
        if (++opened == 2) { // "sub", after its parent was listed
            ASSERT_EQ(::rename((dir / "sub").constData(), (dir / "moved").constData()), 0);
            ASSERT_TRUE(dir.symlink(outside.path(), "sub"));
        }
    });
    Result r = runCli({"--write", "-r", dir.path()});
    platform::fault::clear();
    EXPECT_EQ(r.code, cli::kAllWritten) << r.err.constData();
    EXPECT_EQ(opened, 2); // the swap was made, and the link was not entered
    EXPECT_FALSE(outside.exists("index.htm"));
    EXPECT_FALSE(dir.exists("moved/index.htm"));

    QByteArray deep = dir.path();
    int at = ::open(dir.path().constData(), O_RDONLY | O_DIRECTORY);
    const QByteArray component(200, 'd');
    for (int level = 0; level < 24; ++level, deep += '/' + component) { // 4,800 bytes deep
        ASSERT_EQ(::mkdirat(at, component.constData(), 0755), 0);
        ::close(std::exchange(at, ::openat(at, component.constData(), O_RDONLY | O_DIRECTORY)));
    }
    ASSERT_EQ(::close(::openat(at, "z_.txt", O_WRONLY | O_CREAT, 0644)), 0);
    r = runCli({"--write", "-r", dir.path()});
    EXPECT_EQ(r.code, cli::kAllWritten) << r.err.constData();
    EXPECT_TRUE(r.out.contains(deep + "/index.htm: 1 document, 2 links lead to missing files\n"));
    EXPECT_EQ(::faccessat(at, "index.htm", F_OK, 0), 0);
    ::close(at);
    ASSERT_EQ(::system(("rm -rf " + dir / component).constData()), 0); // rm copes with depth
}

TEST_F(Cli, StdoutChecksItsWrites) {
    Folder dir;
    makeExample(dir);
    const Result full = runCli({"--write", "--stdout", dir.path()}, std::fopen("/dev/full", "w"));
    EXPECT_EQ(full.code, cli::kSomeFailed);
    EXPECT_EQ(full.err,
              "docindex: " + dir.path() + ": Stream write error: No space left on device\n");

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]); // the reader went away (| head): quiet, but not a success
    const auto oldHandler = std::signal(SIGPIPE, SIG_IGN);
    const Result closed = runCli({"--write", "--stdout", dir.path()}, ::fdopen(fds[1], "w"));
    std::signal(SIGPIPE, oldHandler);
    EXPECT_EQ(closed.code, cli::kSomeFailed);
    EXPECT_TRUE(closed.err.isEmpty()) << closed.err.constData();
}

} // namespace

namespace {

// The real program as an unprivileged user over folders root prepared.
TEST_F(Cli, AsNobody) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "running as another user needs root";
    const QString program = qEnvironmentVariable("DOCINDEX_BINARY_DIR") + "/main/docindex";
    const struct {
        mode_t mode; // of the folder, which nobody owns; "sub" is root's and cannot be listed
        const char* page;
        const char* errContains;
    } cases[] = {
        {0311, "index.htm", ": File access denied: Permission denied\n"},
        {0755, "sub/index.htm", "/sub: File access denied: Permission denied\n"},
    };
    for (const auto& c : cases) {
        Folder dir;
        makeExample(dir);
        ASSERT_TRUE(dir.folder("sub", 0311));
        ASSERT_TRUE(docfiles::writeFile(dir / "index.htm", "the old page"));
        ASSERT_TRUE(docfiles::writeFile(dir / "sub/index.htm", "the old page"));
        ASSERT_EQ(::chown(dir.path().constData(), 65534, 65534), 0);
        ASSERT_EQ(::chmod(dir.path().constData(), c.mode), 0);
        QProcess p;
        p.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", program, "--write",
                            "-r", QFile::decodeName(dir.path())});
        ASSERT_TRUE(p.waitForFinished(30000));
        const QByteArray err = p.readAllStandardError();
        EXPECT_EQ(p.exitCode(), cli::kSomeFailed) << err.constData();
        EXPECT_TRUE(err.contains(c.errContains)) << err.constData();
        EXPECT_EQ(docfiles::readFile(dir / c.page), "the old page");
        ::chmod(dir.path().constData(), 0755);
    }
}

} // namespace
