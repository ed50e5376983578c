// The text document reader: how bytes become lines, and how failures are raised.
#include "index/TextReader.h"

#include "base/Exception.h"
#include "platform/Fault.h"
#include "support/DocFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>

namespace {

class TextReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        root_ = QFile::encodeName(dir_.path()) + '/';
    }

    QList<QByteArray> linesOf(const QByteArray& content) {
        const QByteArray path = root_ + "doc_.txt";
        EXPECT_TRUE(docfiles::writeFile(path, content));
        TextReader reader;
        reader.Open(path);
        QList<QByteArray> lines;
        while (!reader.AtEnd())
            lines.append(reader.ReadLine());
        EXPECT_TRUE(reader.AtEnd()); // stays at the end
        reader.Close();
        // A document read ahead is split in one pass: the same lines, each after a space.
        QByteArray joined = "kept", inMemory = "kept";
        for (const QByteArray& line : lines)
            joined.append(' ').append(line);
        TextReader::AppendLines(content, inMemory);
        EXPECT_EQ(inMemory, joined) << "in memory";
        return lines;
    }

    QTemporaryDir dir_;
    QByteArray root_;
    platform::fault::Scope faults_;
};

using Lines = QList<QByteArray>;

} // namespace

TEST_F(TextReaderTest, SplitsLines) {
    const QByteArray x127(127, 'x');
    const QByteArray y300(300, 'y');
    const struct {
        const char* name;
        QByteArray content;
        Lines lines;
    } cases[] = {
        {"empty", "", {}},
        {"only CR LF", "\r\n", {""}},
        {"CR LF", "A\r\nB", {"A", "B"}},
        {"LF, no empty last line", "A\nB\n", {"A", "B"}},
        {"lone CRs dropped", "A\rB\r\n", {"AB"}},
        {"empty line between", "A\r\n\r\nB", {"A", "", "B"}},
        {"CR at the very end", "A\r", {"A"}},
        {"CR CR LF", "A\r\r\nB", {"A", "B"}},
        {"Ctrl+Z first",
         "\x1A"
         "A\r\n",
         {}},
        {"Ctrl+Z ends the text",
         "A\x1A"
         "B\r\nD",
         {"A"}},
        {"Ctrl+Z after a line end", "A\r\n\x1A\r\nB", {"A"}},
        {"Ctrl+Z after a CR",
         "A\r\x1A"
         "B",
         {"A"}},
        {"zero and high bytes kept",
         QByteArray("a\0\xFF\x80z\r\n", 7),
         {QByteArray("a\0\xFF\x80z", 5)}},
        {"300-byte line", y300 + "\r\nend", {y300, "end"}},
        {"CR LF split at the buffer end", x127 + "\r\nB", {x127, "B"}},
        {"CR at the buffer end, no LF", x127 + "\rB\r\n", {x127 + "B"}},
        {"line of exactly one buffer", QByteArray(128, 'z') + "\n", {QByteArray(128, 'z')}},
        {"long line over many buffers", QByteArray(1000, 'q'), {QByteArray(1000, 'q')}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(linesOf(c.content), c.lines) << c.name;
    // Line ends and Ctrl+Z at every place in a run of eight bytes.
    for (int k = 1; k < 18; ++k) {
        const QByteArray a(k, 'w'), b(17 - k, 'v');
        EXPECT_EQ(linesOf(a + "\r\n" + b + "\rc\n" + a), (Lines{a, b + "c", a})) << k;
        EXPECT_EQ(linesOf(a + "\x1A" + b + "\r\n"), Lines{a}) << k;
    }
}

TEST_F(TextReaderTest, OpenFailuresRaiseWithTheirMessage) {
    ASSERT_EQ(::mkdir((root_ + "folder_.txt").constData(), 0755), 0);
    ASSERT_TRUE(docfiles::writeFile(root_ + "a_.txt", "A"));
    const struct {
        const char* name;
        const char* faultCall;
        int err;
        int code;
        const char* message;
    } cases[] = {
        {"gone_.txt", nullptr, 0, 2, "File not found"},
        {"nofolder/gone_.txt", nullptr, 0, 3, "Invalid filename"},
        {"folder_.txt", nullptr, 0, 5, "File access denied"},
        {"a_.txt", "open", EACCES, 5, "File access denied"},
        {"a_.txt", "open", EMFILE, 4, "Too many open files"},
        {"a_.txt", "fstat", EIO, 30, "I/O error 30"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::fault::clear();
        if (c.faultCall)
            platform::fault::inject(c.faultCall, c.err, 0, 1);
        TextReader reader;
        try {
            reader.Open(root_ + c.name);
            ADD_FAILURE() << "opened";
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.ErrorCode(), c.code);
            EXPECT_EQ(e.Message(), QString::fromUtf8(c.message));
        }
        EXPECT_FALSE(reader.isOpen());
    }
}

TEST_F(TextReaderTest, ReadAndCloseFailuresRaise) {
    ASSERT_TRUE(docfiles::writeFile(root_ + "a_.txt", QByteArray(200, 'a') + "\r\nB"));
    {
        // The second buffer load fails in the middle of the first line.
        TextReader reader;
        reader.Open(root_ + "a_.txt");
        platform::fault::inject("read", EIO, 1, 1);
        EXPECT_FALSE(reader.AtEnd());
        try {
            reader.ReadLine();
            ADD_FAILURE() << "read";
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.ErrorCode(), 30);
            EXPECT_EQ(e.Message(), QStringLiteral("I/O error 30"));
        }
    }
    {
        platform::fault::clear();
        TextReader reader;
        reader.Open(root_ + "a_.txt");
        platform::fault::inject("read", ENOSPC, 0, 1);
        EXPECT_THROW(reader.AtEnd(), EInOutError);
    }
    {
        platform::fault::clear();
        TextReader reader;
        reader.Open(root_ + "a_.txt");
        platform::fault::inject("close", EIO, 0, 1);
        EXPECT_THROW(reader.Close(), EInOutError);
        EXPECT_FALSE(reader.isOpen());
    }
}

TEST_F(TextReaderTest, NoPathLengthLimit) {
    QByteArray folder = root_;
    for (int i = 0; i < 5; ++i) {
        folder += QByteArray(70, char('a' + i)) + '/';
        ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    }
    const QByteArray document = folder + "long_.txt";
    ASSERT_GT(document.size(), 259);
    ASSERT_TRUE(docfiles::writeFile(document, "deep\r\n"));
    TextReader reader;
    reader.Open(document);
    EXPECT_EQ(reader.ReadLine(), QByteArray("deep"));
    EXPECT_TRUE(reader.AtEnd());
}
