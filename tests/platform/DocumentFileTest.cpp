// Opening, reading and closing documents: only regular files, each failure with its code.
#include "platform/DocumentFile.h"

#include "platform/Fault.h"
#include "support/DocFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <sys/socket.h>
#include <sys/un.h>

using platform::DocumentFile;
using platform::IoStatus;

namespace {

class DocumentFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        root_ = QFile::encodeName(dir_.path()) + '/';
    }
    QByteArray path(const char* name) const { return root_ + name; }

    QTemporaryDir dir_;
    QByteArray root_;
    platform::fault::Scope faults_;
};

// Everything the file gives in reads of 4 bytes, up to the first read of none.
QByteArray readToEnd(DocumentFile& file) {
    char buffer[4];
    QByteArray all;
    qsizetype count = 0;
    do {
        if (!file.read(buffer, sizeof buffer, &count)) {
            ADD_FAILURE() << "read failed";
            break;
        }
        all.append(buffer, count);
    } while (count > 0);
    return all;
}

} // namespace

TEST_F(DocumentFileTest, ReadsRegularFileToTheEnd) {
    ASSERT_TRUE(docfiles::writeFile(path("a_.txt"), "First\r\nline"));
    DocumentFile file;
    ASSERT_TRUE(file.open(path("a_.txt")));
    EXPECT_EQ(readToEnd(file), QByteArray("First\r\nline"));
    EXPECT_TRUE(file.close());
    EXPECT_FALSE(file.isOpen());
}

// The size seen at open spares the last read, but a file that grows or shrinks meanwhile is
// still read to its real end.
TEST_F(DocumentFileTest, SizeAtOpenEndsTheDataWithoutTrustingItBlindly) {
    struct Case {
        const char* name;
        QByteArray before, after; // contents at open, and written once the file is open
    };
    const Case cases[] = {
        {"unchanged", "12345678", "12345678"},
        {"grown", "12345678", "1234567890ABCDEF"},
        {"shrunk", "12345678", "1234"},
        {"grows without end", "1234", QByteArray(DocumentFile::kGrowthAllowed + 100, 'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(docfiles::writeFile(path("g_.txt"), c.before));
        DocumentFile file;
        ASSERT_TRUE(file.open(path("g_.txt")));
        ASSERT_TRUE(docfiles::writeFile(path("g_.txt"), c.after)); // same inode, rewritten
        // Read up to the size seen at open and what it may grow by, never beyond.
        EXPECT_EQ(readToEnd(file), c.after.left(c.before.size() + DocumentFile::kGrowthAllowed));
    }

    // Read to its size, the end comes without another system call: an injected read failure
    // is never reached.
    ASSERT_TRUE(docfiles::writeFile(path("s_.txt"), "abc"));
    DocumentFile file;
    ASSERT_TRUE(file.open(path("s_.txt")));
    char buffer[8];
    qsizetype count = 0;
    ASSERT_TRUE(file.read(buffer, sizeof buffer, &count));
    EXPECT_EQ(count, 3);
    platform::fault::inject("read", EIO);
    EXPECT_TRUE(file.read(buffer, sizeof buffer, &count));
    EXPECT_EQ(count, 0);
}

TEST_F(DocumentFileTest, LongPathsOpen) {
    QByteArray folder = root_;
    for (int i = 0; i < 6; ++i) {
        folder += QByteArray(60, char('a' + i)) + '/';
        ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    }
    const QByteArray document = folder + "long_.txt";
    ASSERT_GT(document.size(), 300);
    ASSERT_TRUE(docfiles::writeFile(document, "x"));
    DocumentFile file;
    EXPECT_TRUE(file.open(document));
}

TEST_F(DocumentFileTest, RefusesWhatIsNotARegularFile) {
    ASSERT_EQ(::mkdir(path("folder_.txt").constData(), 0755), 0);
    // A FIFO without a writer would block an ordinary open for ever.
    ASSERT_EQ(::mkfifo(path("fifo_.txt").constData(), 0644), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = path("sock_.txt");
    ASSERT_LT(socketPath.size(), qsizetype(sizeof address.sun_path));
    std::memcpy(address.sun_path, socketPath.constData(), std::size_t(socketPath.size()));
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::symlink("/dev/zero", path("device_.txt").constData()), 0);

    for (const char* name : {"folder_.txt", "fifo_.txt", "device_.txt"}) {
        DocumentFile file;
        const IoStatus status = file.open(path(name));
        EXPECT_EQ(status.code, 5) << name;
        EXPECT_FALSE(file.isOpen()) << name;
    }
    DocumentFile file;
    const IoStatus status = file.open(socketPath); // a socket cannot even be opened
    EXPECT_NE(status.code, 0);
    ::close(sock);
}

TEST_F(DocumentFileTest, MissingFileAndMissingFolder) {
    ASSERT_EQ(::symlink("nowhere_.txt", path("dangling_.txt").constData()), 0);
    const struct {
        const char* name;
        int code;
        int err;
    } cases[] = {
        {"gone_.txt", 2, ENOENT},
        {"dangling_.txt", 2, ENOENT},
        {"nofolder/gone_.txt", 3, ENOENT},
    };
    for (const auto& c : cases) {
        DocumentFile file;
        const IoStatus status = file.open(path(c.name));
        EXPECT_EQ(status.code, c.code) << c.name;
        EXPECT_EQ(status.err, c.err) << c.name;
    }
    ASSERT_TRUE(docfiles::writeFile(path("file"), "x"));
    DocumentFile file;
    EXPECT_EQ(file.open(path("file/below_.txt")).code, 3);
    // A zero byte must not open the shorter path before it.
    EXPECT_EQ(file.open(path("file") + QByteArray("\0x", 2)).code, 3);
    EXPECT_FALSE(file.isOpen());
}

TEST_F(DocumentFileTest, EachCallFailsThroughTheFaultHook) {
    ASSERT_TRUE(docfiles::writeFile(path("a_.txt"), "text"));
    const struct {
        const char* call;
        int err;
        int code;
    } cases[] = {
        {"open", EACCES, 5},   {"open", EMFILE, 4},    {"open", ENAMETOOLONG, 206},
        {"open", ELOOP, 1921}, {"fstat", EIO, 30},     {"read", EIO, 30},
        {"read", EXDEV, 31},   {"close", ENOSPC, 112}, {"close", EIO, 30},
        {"read", EAGAIN, 31}, // a file that would block is an error, never a hang
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.call) + " " + std::to_string(c.err));
        platform::fault::clear();
        platform::fault::inject(c.call, c.err, 0, 1);
        DocumentFile file;
        IoStatus status = file.open(path("a_.txt"));
        if (std::string_view(c.call) != "open" && std::string_view(c.call) != "fstat") {
            ASSERT_TRUE(status);
            char buffer[16];
            qsizetype count = 0;
            status = file.read(buffer, sizeof buffer, &count);
            if (status)
                status = file.close();
        }
        EXPECT_EQ(status.code, c.code);
        EXPECT_EQ(status.err, c.err);
        EXPECT_FALSE(std::string_view(c.call) == "close" && file.isOpen());
    }
}

TEST_F(DocumentFileTest, BrokenPipeIsTheEndOfTheData) {
    ASSERT_TRUE(docfiles::writeFile(path("a_.txt"), "text"));
    DocumentFile file;
    ASSERT_TRUE(file.open(path("a_.txt")));
    platform::fault::inject("read", EPIPE, 0, 1);
    char buffer[16];
    qsizetype count = 99;
    EXPECT_TRUE(file.read(buffer, sizeof buffer, &count));
    EXPECT_EQ(count, 0);
}

