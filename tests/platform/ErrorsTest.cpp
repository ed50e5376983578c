// errno -> message-table codes and the system's text for an error.
#include "platform/Errors.h"

#include "support/DocFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

using namespace platform;

TEST(Errors, CodeForErrno) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray existing = QFile::encodeName(dir.path()) + "/gone_.txt";
    const QByteArray missing = QFile::encodeName(dir.path()) + "/nofolder/gone_.txt";
    const struct {
        int err;
        QByteArray path;
        int code;
    } cases[] = {
        {ENOENT, existing, 2}, {ENOENT, missing, 3},   {ENOENT, "relative_.txt", 2},
        {ENOENT, "", 3},       {ENOTDIR, existing, 3}, {EACCES, existing, 5},
        {EPERM, {}, 5},        {EROFS, {}, 5},         {EISDIR, {}, 5},
        {EMFILE, {}, 4},       {ENFILE, {}, 4},        {ENAMETOOLONG, {}, 206},
        {ELOOP, {}, 1921},     {EIO, {}, 30},          {ENOSPC, {}, 112},
        {EXDEV, {}, 31},       {EBUSY, {}, 31},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ioErrorCode(c.err, c.path), c.code) << c.err << ' ' << c.path.constData();
}

TEST(Errors, SystemTextIsTrimmed) {
    docfiles::MessagesInC english;
    EXPECT_EQ(systemErrorText(EACCES), QStringLiteral("Permission denied"));
    EXPECT_EQ(systemErrorText(ENOENT), QStringLiteral("No such file or directory"));
    for (int err = 1; err < 134; ++err) {
        const QString text = systemErrorText(err);
        ASSERT_FALSE(text.isEmpty()) << err;
        const QChar last = text.back();
        EXPECT_TRUE(last != ' ' && last != '.' && last.unicode() >= 0x20) << err;
        EXPECT_TRUE(QString::fromLocal8Bit(std::strerror(err)).startsWith(text)) << err;
    }
}
