// The command-line mode end to end: pages written from real folders, what is printed, what
// failures leave behind, the walk of --recursive, and the exit codes.
#include "main/CommandLine.h"
#include "listing/ListingTestSupport.h"
#include "platform/CodePage.h"
#include "support/DocFiles.h"
#include "support/ExpectedPage.h"

#include <QDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

using listingtest::Folder;

namespace {

struct Result {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

Result runCli(const QList<QByteArray>& arguments) {
    char* outBuffer = nullptr;
    char* errBuffer = nullptr;
    size_t outSize = 0, errSize = 0;
    std::FILE* out = open_memstream(&outBuffer, &outSize);
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
    EXPECT_EQ(r.out, dir.path() + "/index.htm: 2 documents\n");
    EXPECT_TRUE(r.err.isEmpty());
    EXPECT_EQ(docfiles::readFile(dir / "index.htm"), examplePage(dir.path() + "/"));

    // Again, over the old page, with the folder given with its trailing '/'.
    const Result again = runCli({"--codepage=1251", "--write", dir.path() + "/"});
    EXPECT_EQ(again.code, cli::kAllWritten);
    EXPECT_EQ(again.out, dir.path() + "/index.htm: 2 documents\n");
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
    EXPECT_EQ(r.out, QByteArray("docs/index.htm: 2 documents\n"));
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
    EXPECT_EQ(r.out, dir.path() + "/index.htm: 2 documents\n");
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
    EXPECT_EQ(r.out, good.path() + "/index.htm: 2 documents\n");
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
    EXPECT_EQ(r.out, dir.path() + "/index.htm: 2 documents\n" + dir.path() +
                         "/b/index.htm: 1 document\n" + dir.path() +
                         "/b/deep/index.htm: 1 document\n");
    EXPECT_FALSE(dir.exists("a-empty/index.htm"));
    EXPECT_FALSE(dir.exists(".hidden/index.htm"));
    EXPECT_TRUE(dir.exists("b/deep/index.htm"));

    // --empty: folders without documents get their page too; a DIR below another is
    // written once.
    const Result all = runCli({"--write", "--recursive", "--empty", dir.path(), dir / "b"});
    EXPECT_EQ(all.code, cli::kAllWritten);
    EXPECT_EQ(all.out, dir.path() + "/index.htm: 2 documents\n" + dir.path() +
                           "/a-empty/index.htm: 0 documents\n" + dir.path() +
                           "/b/index.htm: 1 document\n" + dir.path() +
                           "/b/deep/index.htm: 1 document\n");
    EXPECT_TRUE(dir.exists("a-empty/index.htm"));
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
        {{"--write"}, cli::kBadUsage, "", "docindex: --write needs at least one folder"},
        {{"--bogus", "--write", "x"}, cli::kBadUsage, "", "docindex: unknown option '--bogus'"},
        {{"--write", "--stdout", "a", "b"}, cli::kBadUsage, "", "docindex: --stdout"},
        {{"--write", "--stdout", "-r", "a"}, cli::kBadUsage, "", "docindex: --stdout"},
        {{"--write", "--codepage", "999", "a"}, cli::kBadUsage, "", "docindex: unknown code page"},
        {{"--write", "--codepage"}, cli::kBadUsage, "", "docindex: option '--codepage'"},
        {{"--help"}, cli::kAllWritten, "Usage: docindex --write", ""},
        {{"-h", "--write", "x"}, cli::kAllWritten, "Usage: docindex --write", ""},
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
        {{"--", "--write"}, false}, // a folder named --write
    };
    for (const auto& [arguments, expected] : cases)
        EXPECT_EQ(cli::isCommandLine(arguments), expected) << arguments.join(' ').constData();
}

} // namespace
