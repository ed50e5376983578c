// The real program in a child process: which mode the arguments choose whatever the display,
// and the watch mode keeping pages current.
#include "listing/ListingTestSupport.h"
#include "support/DocFiles.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <csignal>
#include <cstddef>
#include <cstring>
#include <functional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

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

// Hostile runs: exit code|stderr holds|script ($0 the program, $1 a folder with a/x_.txt and b/
// with a dangling document, $R: as nobody under root, $T: 300 folders). Pages never get a report.
TEST(Program, HostileRunsFailWithTheirReason) {
    const QString table =
        QStringLiteral(R"(1|No space left on device|$R "$0" --write -r $1 >/dev/full
1|Stream write error: Bad file descriptor|$R "$0" --write -r $1 >&-
1|Stream write error: Bad file descriptor|$R "$0" --stdout $1/a >&-
1|write error: No space left on device|$R "$0" --version >/dev/full
1||eval "$T"; for f in $(seq 5 5 300); do ln -s none $1/f$f/gone_.txt; done; "$0" --write -r $1 <&- >&- 2>&-
1|". Read-only file system|echo >$1/a/index.htm; unshare -m sh -c 'mount --bind -o ro $1 $1 && "$0" --write $1/a' "$0" $1
1|x_.txt: File access denied: Permission denied|chmod 0 $1/a/x_.txt; $R "$0" --write $1/a
1|big_.txt: I/O error 31: File too large|truncate -s 17M $1/a/big_.txt; $R "$0" --write $1/a
0||mkdir $1/o; echo s >$1/o/s; chmod 666 $1/o/s; ln -s ../o/s $1/a/index.htm; $R "$0" --write $1/a && [ $(cat $1/o/s) = s ]
0||mkdir -m 777 $1/o; ln -s ../o/new $1/a/index.htm; $R "$0" --write $1/a && [ ! -e $1/o/new ] && [ ! -L $1/a/index.htm ]
0||mkdir -m 777 $1/o; mknod $1/o/d c 1 3 2>&- || mkfifo $1/o/d; ln -s ../o/d $1/a/index.htm; $R "$0" --write $1/a && [ ! -f $1/o/d ]
0||echo >$1/a/index.htm; chown -R 1234:4321 $1/a; chmod 2775 $1/a; chmod 664 $1/a/*; setpriv --reuid=nobody --regid=nogroup --groups=4321 "$0" --write $1/a && [ $(stat -c %a:%g $1/a/index.htm) = 664:4321 ]
1||eval "$T"; for i in $(seq 20); do "$0" --write -r -q $1 & sleep 0.0$i; kill -9 $! 2>&-; done; "$0" --write -r -q $1
0||eval "$T"; $R "$0" --watch -r $1 >$1/out & until [ -s $1/out ] || ! kill -0 $!; do sleep 0.01; done; kill $!; wait $! && [ $(wc -l <$1/out) -lt 300 ])");
    // Set-up before the case; after it, a report in a page or a temporary name left fails it.
    const QString before =
        QStringLiteral(R"(mkdir $1/a $1/b; echo x >$1/a/x_.txt; ln -s none $1/b/gone_.txt
chmod -R a+rwX $1; T='for f in $(seq 300); do mkdir $1/f$f; echo x >$1/f$f/d_.txt; done; chmod -R a+rwX $1'
)") + (::geteuid() ? "R=\n" : "R='setpriv --reuid=nobody --regid=nogroup --clear-groups'\n");
    const QString after = "\nr=$?; ! grep -rqs --include=index.htm 'docindex: ' $1 && ! find $1 -name "
                          "'.index.htm*' | grep -q . && exit $r; exit 9";
    for (const QString& line : table.split('\n')) {
        const QString script = line.section('|', 2);
        if (::geteuid() != 0 && (script.contains("unshare") || script.contains("--groups")))
            continue;
        Folder dir;
        QProcess p;
        p.start("/bin/sh", {"-c", before + script + after, program(), dir.location()});
        ASSERT_TRUE(p.waitForFinished(60000));
        const QByteArray err = p.readAllStandardError();
        EXPECT_EQ(p.exitCode(), line.section('|', 0, 0).toInt())
            << qPrintable(line) << err.constData();
        EXPECT_TRUE(err.contains(line.section('|', 1, 1).toUtf8()))
            << qPrintable(line) << err.constData();
    }
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

TEST_F(Watch, RecursiveWatchesNewSubfoldersAndBurstsCoalesce) {
    const QByteArray d = dir_.path();
    ASSERT_TRUE(dir_.folder("old"));
    ASSERT_TRUE(docfiles::writeFile(dir_ / "old/o_.txt", "o\n"));
    ASSERT_TRUE(dir_.folder("empty"));
    run({QStringLiteral("-r")});
    // The last folder of the walk: everything is watched.
    ASSERT_TRUE(waitFor([&] { return linesFor(d + "/old") == 1; }));
    EXPECT_EQ(out_,
              d + "/old/index.htm: 1 document, 2 links lead to missing files\n"); // no page without
                                                                                  // documents

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
    EXPECT_TRUE(waitFor([&] {
        return out_.contains(d + "/index.htm: 1000 documents, 2000 links lead to missing files\n");
    }));
    EXPECT_LE(linesFor(d), 5);

    // Once a later change elsewhere is written, every earlier one is. From then on neither
    // the page's own save nor a file that is no document rewrites it: the next line printed
    // is the other folder's.
    ASSERT_TRUE(docfiles::writeFile(dir_ / "old/y_.txt", "y\n"));
    ASSERT_TRUE(waitFor([&] {
        return out_.contains(d + "/old/index.htm: 2 documents, 4 links lead to missing files\n");
    }));
    const QByteArray quiet = out_;
    ASSERT_TRUE(docfiles::writeFile(dir_ / "notes.txt", "not a document\n"));
    ASSERT_TRUE(docfiles::writeFile(dir_ / "old/z_.txt", "z\n"));
    EXPECT_TRUE(waitFor([&] { return out_.size() > quiet.size() && out_.endsWith('\n'); }));
    EXPECT_EQ(out_.mid(quiet.size()),
              d + "/old/index.htm: 3 documents, 6 links lead to missing files\n");

    ::kill(pid_t(process_.processId()), SIGINT);
    ASSERT_TRUE(process_.waitForFinished(10000));
    EXPECT_EQ(process_.exitCode(), 0);
}

// The service manager's end of NOTIFY_SOCKET, at an abstract name ("@name").
struct Notices {
    explicit Notices(const QByteArray& name) {
        sockaddr_un address{AF_UNIX, {}};
        std::memcpy(address.sun_path + 1, name.constData() + 1, size_t(name.size() - 1));
        bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address),
                       socklen_t(offsetof(sockaddr_un, sun_path) + name.size())) == 0;
    }
    ~Notices() { ::close(fd); }
    // The next notice that begins with `start` (others skipped), or empty after ten seconds.
    QByteArray next(const QByteArray& start) {
        char buffer[4096];
        for (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, 10000) == 1;) {
            const QByteArray notice(buffer, std::max<ssize_t>(0, ::recv(fd, buffer, 4096, 0)));
            if (notice.startsWith(start))
                return notice;
        }
        return {};
    }
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    bool bound = false;
};

// Under a service manager: ready once the first page is written, SIGHUP writes it again, a
// folder removed, or replaced by a rename, is waited for and watched again, and the log
// (stderr made the journal's stream) carries syslog priorities.
TEST_F(Watch, AsAServiceReadyReloadedAndWaitingForItsFolder) {
    const QByteArray pub = dir_ / "pub";
    ASSERT_TRUE(dir_.folder("pub") && docfiles::writeFile(pub + "/a_.txt", "a\n"));
    const QByteArray socketName = "@docindex-test-" + QByteArray::number(::getpid());
    Notices notices(socketName);
    ASSERT_TRUE(notices.bound);
    const QByteArray log = dir_ / "log";
    struct stat st {};
    ASSERT_TRUE(docfiles::writeFile(log, "") && ::stat(log.constData(), &st) == 0);
    qputenv("NOTIFY_SOCKET", socketName);
    qputenv("JOURNAL_STREAM", QByteArray::number(st.st_dev) + ':' + QByteArray::number(st.st_ino));
    process_.setStandardErrorFile(QString::fromLocal8Bit(log), QIODevice::Append);
    start(process_, {QStringLiteral("--watch"), QString::fromLocal8Bit(pub)});
    qunsetenv("NOTIFY_SOCKET");
    qunsetenv("JOURNAL_STREAM");
    const QByteArray ready = "READY=1\nSTATUS=Watching 1 folder, 1 document";
    EXPECT_EQ(notices.next("READY=1"), ready);
    EXPECT_TRUE(waitFor([&] { return linesFor(pub) == 1; })); // stdout is not the journal

    ::kill(pid_t(process_.processId()), SIGHUP);
    EXPECT_TRUE(notices.next("RELOADING=1").startsWith("RELOADING=1\nMONOTONIC_USEC="));
    EXPECT_EQ(notices.next("READY=1"), ready);
    EXPECT_TRUE(waitFor([&] { return linesFor(pub) == 2; }));

    docfiles::removeTree(pub);
    EXPECT_EQ(notices.next("STATUS="), "STATUS=Watching 0 folders, 1 document; waiting for " + pub);
    ASSERT_TRUE(dir_.folder("pub") && docfiles::writeFile(pub + "/b_.txt", "b\n"));
    EXPECT_TRUE(pageHas(pub, "b_.txt"));
    ASSERT_TRUE(dir_.folder("next") && docfiles::writeFile(dir_ / "next/c_.txt", "c\n"));
    ASSERT_EQ(::rename(pub.constData(), (dir_ / "old").constData()), 0);
    ASSERT_EQ(::rename((dir_ / "next").constData(), pub.constData()), 0);
    EXPECT_TRUE(pageHas(pub, "c_.txt"));

    process_.terminate();
    ASSERT_TRUE(process_.waitForFinished(10000));
    EXPECT_EQ(process_.exitCode(), 0);
    EXPECT_EQ(notices.next("STOPPING=1"), "STOPPING=1");
    const QByteArray lines = docfiles::readFile(log), at = "docindex: " + pub + ": the folder ";
    EXPECT_EQ(lines.count("<4>" + at + "went away; waiting for it to come back\n<6>" + at +
                          "is back; watching it again\n"),
              2)
        << lines.constData();
}

// As under ProtectSystem=strict: everything read-only but the folder, a bind mount made at the
// start. The folder made again is outside it: the watch says so and ends with 1, for the
// service manager to start it afresh.
TEST_F(Watch, FolderBackOnAReadOnlyMountEndsTheWatch) {
    if (::geteuid() != 0 || QProcess::execute(QStringLiteral("unshare"),
                                              {QStringLiteral("-m"), QStringLiteral("true")}) != 0)
        GTEST_SKIP() << "mount namespaces need root (and CAP_SYS_ADMIN)";
    const QByteArray d = dir_.path(), pub = dir_ / "pub";
    ASSERT_TRUE(dir_.folder("pub"));
    const QString script =
        QStringLiteral("mount --bind %1 %1 && mount -o remount,bind,ro %1 %1 && "
                       "mount --bind %2 %2 && mount -o remount,bind,rw %2 %2 && "
                       "exec %3 --watch %2")
            .arg(QString::fromLocal8Bit(d), QString::fromLocal8Bit(pub), program());
    process_.start(QStringLiteral("unshare"),
                   QStringLiteral("-m --propagation private sh -c").split(u' ') << script);
    ASSERT_TRUE(waitFor([&] { return linesFor(pub) == 1; }))
        << process_.readAllStandardError().data();
    docfiles::removeTree(pub);
    ASSERT_TRUE(dir_.folder("pub"));
    ASSERT_TRUE(process_.waitForFinished(10000));
    EXPECT_EQ(process_.exitCode(), 1);
    EXPECT_TRUE(process_.readAllStandardError().contains(
        pub + ": the folder is back on a read-only file system"));
}

} // namespace
