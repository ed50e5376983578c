// The real program in a child process: which mode the arguments choose whatever the display,
// and the watch mode keeping pages current.
#include "listing/ListingTestSupport.h"
#include "support/DocFiles.h"

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <functional>

using listingtest::Folder;

namespace {

QString program() {
    return qEnvironmentVariable("DOCINDEX_BINARY_DIR") + QStringLiteral("/main/docindex");
}

// An X server of its own for one start of the program (the harness the scripts use).
const QString kOwnServer = QStringLiteral("Xvfb");

// Starts the program with `arguments`; `display` empty means no display at all.
void start(QProcess& process, const QStringList& arguments, const QString& display = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    if (!display.isEmpty() && display != kOwnServer)
        env.insert(QStringLiteral("DISPLAY"), display);
    process.setProcessEnvironment(env);
    if (display == kOwnServer)
        process.start(qEnvironmentVariable("DOCINDEX_SOURCE_DIR") + "/tools/with-xvfb",
                      QStringList{program()} + arguments);
    else
        process.start(program(), arguments);
    ASSERT_TRUE(process.waitForStarted(10000)) << qPrintable(program());
}

TEST(Program, ModeAndUsageWhateverTheDisplay) {
    Folder dir;
    ASSERT_TRUE(docfiles::writeFile(dir / "a_.txt", "A\n"));
    const QString d = dir.location();
    const struct {
        QStringList arguments;
        int code;
        const char* errLine; // the first line of stderr
    } cases[] = {
        {{"--writ", d}, 2, "docindex: unknown option '--writ'"},
        {{d, d}, 2, "docindex: the window opens one folder; extra argument '"},
        {{""}, 2, "docindex: a folder name cannot be empty ('')"},
        {{"--stdout", d}, 0, ""},
        {{"-r", "-q", d}, 0, ""},
        {{"--help"}, 0, ""},
        // The window, without a display (after the toolkit's own complaints, if any).
        {{d}, 1, "docindex: cannot open the window"},
    };
    // A display number nobody serves.
    int dead = 93;
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(dead)))
        ++dead;
    // No display, one that does not answer, one that does.
    const QStringList displays{QString(), QStringLiteral(":%1").arg(dead), kOwnServer};
    for (const QString& display : displays) {
        for (const auto& c : cases) {
            if (c.code == 1 && display == kOwnServer)
                continue; // a window that would open
            QProcess p;
            start(p, c.arguments, display);
            ASSERT_TRUE(p.waitForFinished(30000));
            const QByteArray err = p.readAllStandardError();
            const QString what = c.arguments.join(' ') + " DISPLAY=" + display;
            EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << qPrintable(what);
            EXPECT_EQ(p.exitCode(), c.code) << qPrintable(what);
            EXPECT_TRUE(c.code == 1 ? err.contains(c.errLine) : err.startsWith(c.errLine))
                << qPrintable(what) << err.constData();
            if (c.code == 2) {
                EXPECT_TRUE(err.contains("\nTry 'docindex --help'")) << qPrintable(what);
            }
        }
    }
}

// Closed or full standard streams: no report lands in a page, and output that cannot be
// written is a failure with its reason. As the user running the tests and, as root, as nobody.
TEST(Program, ClosedAndFullStandardStreams) {
    const struct {
        const char* redirect;
        const char* options;
        int code;
        const char* errContains; // in what stderr got (to a file), empty when it was closed
    } cases[] = {
        {">/dev/full", "--write -r", 1, "Stream write error: No space left on device"},
        {">&-", "--write -r", 1, "Stream write error: Bad file descriptor"},
        {">&-", "--stdout", 1, "Stream write error: Bad file descriptor"},
        {">/dev/full", "--version", 1, "write error: No space left on device"},
        {"<&- >&- 2>&-", "--write -r", 1, ""},
    };
    for (const bool asNobody : {false, true}) {
        if (asNobody && ::geteuid() != 0)
            continue;
        for (const auto& c : cases) {
            const QString what = QString::fromLatin1(c.options) + " " + c.redirect;
            Folder dir;
            ASSERT_TRUE(dir.folder("a") && dir.folder("b"));
            ASSERT_TRUE(docfiles::writeFile(dir / "a/x_.txt", "x\n"));
            ASSERT_TRUE(dir.symlink("nowhere", "b/dangling_.txt"));
            ASSERT_TRUE(docfiles::writeFile(dir / "b/y_.txt", "y\n"));
            if (asNobody) {
                ASSERT_EQ(std::system(("chown -R nobody " + dir.path()).constData()), 0);
            }
            const QString errFile = dir.location() + "/err.log";
            // stderr to a file first, so that a case may close it again.
            const QString command =
                QStringLiteral("exec %1 \"$0\" %2 \"$1\" 2>\"$2\" %3")
                    .arg(asNobody ? "setpriv --reuid=nobody --regid=nogroup --clear-groups" : "",
                         QLatin1String(c.options), QLatin1String(c.redirect));
            QProcess p;
            p.start(QStringLiteral("/bin/sh"), {"-c", command, program(), dir.location(), errFile});
            ASSERT_TRUE(p.waitForFinished(30000)) << qPrintable(what);
            EXPECT_EQ(p.exitCode(), c.code) << qPrintable(what);
            const QByteArray err = docfiles::readFile(QFile::encodeName(errFile));
            EXPECT_TRUE(err.contains(c.errContains)) << qPrintable(what) << err.constData();
            for (const char* page : {"/a/index.htm", "/index.htm"})
                EXPECT_FALSE(docfiles::readFile(dir.path() + page).contains("docindex"))
                    << qPrintable(what) << page;
        }
    }
}

// A failure says the system's reason: a read-only file system is not "Permission denied",
// and a document its user may not read says why.
TEST(Program, FailuresCarryTheSystemsReason) {
    const QString asOther =
        ::geteuid() == 0 ? QStringLiteral("setpriv --reuid=nobody --regid=nogroup --clear-groups ")
                         : QString();
    const struct {
        QString command; // $0 the program, $1 the folder
        const char* errContains;
    } cases[] = {
        {"exec unshare -m sh -c 'mount --bind -o ro \"$1\" \"$1\" 2>/dev/null || exit 99; "
         "exec \"$0\" --write \"$1\"' \"$0\" \"$1\"",
         "index.htm\". Read-only file system\n"},
        {"exec " + asOther + "\"$0\" --write \"$1\"",
         ": a_.txt: File access denied: Permission denied\n"},
    };
    for (const auto& c : cases) {
        Folder dir;
        ASSERT_EQ(::chmod(dir.path().constData(), 0755), 0);
        ASSERT_TRUE(docfiles::writeFile(dir / "a_.txt", "a\n", 0));
        QProcess p;
        p.start(QStringLiteral("/bin/sh"), {"-c", c.command, program(), dir.location()});
        ASSERT_TRUE(p.waitForFinished(30000));
        if (p.exitCode() == 99) {
            std::printf("skipped: no read-only mount here\n");
            continue;
        }
        EXPECT_EQ(p.exitCode(), 1);
        EXPECT_TRUE(p.readAllStandardError().contains(c.errContains)) << c.errContains;
    }
}

// A run killed at any moment leaves no name behind but the pages it finished.
TEST(Program, KilledRunLeavesNothingBehind) {
    Folder dir;
    for (int f = 0; f < 200; ++f) {
        const QByteArray sub = "f" + QByteArray::number(f);
        ASSERT_TRUE(dir.folder(sub));
        for (int d = 0; d < 20; ++d)
            ASSERT_TRUE(docfiles::writeFile(dir / sub + "/d" + QByteArray::number(d) + "_.txt",
                                            QByteArray(2000, 'x')));
    }
    for (int run = 0; run < 20; ++run) {
        QProcess p;
        start(p, {"--write", "-r", "-q", dir.location()});
        QThread::usleep(unsigned(5000 + run * 3000));
        p.kill(); // SIGKILL
        ASSERT_TRUE(p.waitForFinished(10000));
    }
    QDirIterator it(dir.location(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        EXPECT_FALSE(it.next().contains(QLatin1String("/.index.htm"))) << qPrintable(it.filePath());
}

// A watch in a child process: its printed lines are the pages written.
class Watch : public ::testing::Test {
protected:
    void run(const QStringList& options) {
        start(process_, options + QStringList{QStringLiteral("--watch"), dir_.location()});
    }
    void TearDown() override {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(10000);
        }
    }
    // Collects output until `done` holds, for at most ten seconds.
    bool waitFor(const std::function<bool()>& done) {
        QDeadlineTimer deadline(10000);
        for (;;) {
            out_ += process_.readAllStandardOutput();
            if (done())
                return true;
            if (deadline.hasExpired() || process_.state() == QProcess::NotRunning)
                return false;
            process_.waitForReadyRead(20);
        }
    }
    qsizetype linesFor(const QByteArray& folder) const {
        return out_.count(folder + "/index.htm: ");
    }
    // Waits until the folder's page holds `text` and not `absent`.
    bool pageHas(const QByteArray& folder, const QByteArray& text, const char* absent = nullptr) {
        return waitFor([&] {
            const QByteArray page = docfiles::readFile(folder + "/index.htm");
            return page.contains(text) && !(absent && page.contains(absent));
        });
    }

    Folder dir_;
    QProcess process_;
    QByteArray out_;
};

TEST_F(Watch, DocumentsCreatedRewrittenRenamedRemoved) {
    const QByteArray d = dir_.path();
    ASSERT_TRUE(docfiles::writeFile(dir_ / "a_.txt", "first\n"));
    run({});
    ASSERT_TRUE(waitFor([&] { return linesFor(d) == 1; }));
    const struct {
        const char* what;
        std::function<bool()> change;
        const char* present;
        const char* absent;
    } steps[] = {
        {"created", [&] { return docfiles::writeFile(dir_ / "b_.txt", "second\n"); },
         "b_.txt.rtf\"> second<", nullptr},
        {"rewritten, same size", [&] { return docfiles::writeFile(dir_ / "b_.txt", "SECOND\n"); },
         "> SECOND<", "> second<"},
        {"renamed",
         [&] {
             return ::rename((dir_ / "b_.txt").constData(), (dir_ / "c_.txt").constData()) == 0;
         },
         "c_.txt.rtf", "b_.txt"},
        {"removed", [&] { return ::unlink((dir_ / "a_.txt").constData()) == 0; }, "c_.txt",
         "a_.txt"},
    };
    for (const auto& s : steps) {
        ASSERT_TRUE(s.change()) << s.what;
        EXPECT_TRUE(pageHas(d, s.present, s.absent)) << s.what;
    }

    process_.terminate(); // SIGTERM
    ASSERT_TRUE(process_.waitForFinished(10000));
    EXPECT_EQ(process_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process_.exitCode(), 0);
}

// SIGTERM during the first walk ends it after the folder being written, not after the tree.
TEST_F(Watch, StopEndsTheWalk) {
    constexpr int kFolders = 300;
    for (int f = 0; f < kFolders; ++f) {
        const QByteArray sub = "f" + QByteArray::number(f);
        ASSERT_TRUE(dir_.folder(sub));
        ASSERT_TRUE(docfiles::writeFile(dir_ / sub + "/d_.txt", "d\n"));
    }
    run({QStringLiteral("-r")});
    ASSERT_TRUE(waitFor([&] { return out_.contains('\n'); }));
    process_.terminate();
    ASSERT_TRUE(process_.waitForFinished(10000));
    EXPECT_EQ(process_.exitCode(), 0);
    out_ += process_.readAllStandardOutput();
    EXPECT_LT(out_.count('\n'), kFolders) << out_.count('\n');
}

TEST_F(Watch, RecursiveWatchesNewSubfoldersAndBurstsCoalesce) {
    const QByteArray d = dir_.path();
    ASSERT_TRUE(dir_.folder("old"));
    ASSERT_TRUE(docfiles::writeFile(dir_ / "old/o_.txt", "o\n"));
    ASSERT_TRUE(dir_.folder("empty"));
    run({QStringLiteral("-r")});
    // The last folder of the walk: everything is watched.
    ASSERT_TRUE(waitFor([&] { return linesFor(d + "/old") == 1; }));
    EXPECT_EQ(out_, d + "/old/index.htm: 1 document\n"); // no page without documents

    ASSERT_TRUE(dir_.folder("new"));
    ASSERT_TRUE(dir_.folder("new/deeper"));
    ASSERT_TRUE(docfiles::writeFile(dir_ / "new/deeper/x_.txt", "x\n"));
    EXPECT_TRUE(pageHas(d + "/new/deeper", "x_.txt"));
    // Gone and made again (perhaps with the same inode): watched afresh.
    docfiles::removeTree(d + "/new");
    ASSERT_TRUE(dir_.folder("new"));
    ASSERT_TRUE(docfiles::writeFile(dir_ / "new/n_.txt", "n\n"));
    EXPECT_TRUE(pageHas(d + "/new", "n_.txt"));

    // A thousand documents in a burst: few pages, the last one complete.
    for (int i = 0; i < 1000; ++i)
        ASSERT_TRUE(docfiles::writeFile(dir_ / "b" + QByteArray::number(i) + "_.txt", "b\n"));
    EXPECT_TRUE(waitFor([&] { return out_.contains(d + "/index.htm: 1000 documents\n"); }));
    EXPECT_LE(linesFor(d), 5);

    // Once a later change elsewhere is written, every earlier one is. From then on neither
    // the page's own save nor a file that is no document rewrites it: the next line printed
    // is the other folder's.
    ASSERT_TRUE(docfiles::writeFile(dir_ / "old/y_.txt", "y\n"));
    ASSERT_TRUE(waitFor([&] { return out_.contains(d + "/old/index.htm: 2 documents\n"); }));
    const QByteArray quiet = out_;
    ASSERT_TRUE(docfiles::writeFile(dir_ / "notes.txt", "not a document\n"));
    ASSERT_TRUE(docfiles::writeFile(dir_ / "old/z_.txt", "z\n"));
    EXPECT_TRUE(waitFor([&] { return out_.size() > quiet.size() && out_.endsWith('\n'); }));
    EXPECT_EQ(out_.mid(quiet.size()), d + "/old/index.htm: 3 documents\n");

    ::kill(pid_t(process_.processId()), SIGINT);
    ASSERT_TRUE(process_.waitForFinished(10000));
    EXPECT_EQ(process_.exitCode(), 0);
}

} // namespace
