// The page saver: exact bytes, atomic replacement and its two exceptions.
#include "index/PageSaver.h"

#include "base/Exception.h"
#include "platform/FsString.h"
#include "support/DocFiles.h"
#include "support/Fakes.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>

namespace {

class PageSaverTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        root_ = QFile::encodeName(dir_.path()) + '/';
    }
    QTemporaryDir dir_;
    QByteArray root_;
    docfiles::MessagesInC english_;
};

} // namespace

TEST_F(PageSaverTest, EveryLineEndsWithCrLf) {
    const QList<QByteArray> lines = {"one", "", "three \xB9"};
    PageSaver::Save(lines, root_ + "index.htm");
    const QByteArray saved = docfiles::readFile(root_ + "index.htm");
    EXPECT_EQ(saved, QByteArray("one\r\n\r\nthree \xB9\r\n"));
    EXPECT_EQ(saved.size(), 3 + 0 + 7 + 6);

    PageSaver::Save({}, root_ + "index.htm");
    EXPECT_EQ(docfiles::readFile(root_ + "index.htm"), QByteArray());
}

TEST_F(PageSaverTest, ReadOnlyPageRaisesCreateErrorAndStays) {
    // Also in a folder whose name is not UTF-8: the message gives its bytes back.
    ASSERT_EQ(::mkdir((root_ + "\xCF\xE0").constData(), 0755), 0);
    for (const QByteArray& folder : {root_, root_ + "\xCF\xE0/"}) {
        ASSERT_TRUE(docfiles::writeFile(folder + "index.htm", "old page", 0444));
        const auto before = docfiles::snapshot(folder);
        try {
            PageSaver::Save({"new"}, folder + "index.htm");
            ADD_FAILURE() << "saved";
        } catch (const EFCreateError& e) {
            EXPECT_EQ(platform::toFsBytes(e.Message()),
                      "Cannot create file \"" + folder + "index.htm\". Permission denied");
            EXPECT_EQ(e.FailedPath(), folder + "index.htm");
            EXPECT_STREQ(e.className(), "EFCreateError");
        }
        EXPECT_EQ(docfiles::snapshot(folder), before);
    }
    docfiles::removeTree(root_ + "\xCF\xE0");
}

TEST_F(PageSaverTest, CreateErrorNamesTheFullPath) {
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(root_.constData()), 0);
    ASSERT_EQ(::mkdir("sub", 0755), 0);
    QString message;
    try {
        PageSaver::Save({"x"}, "sub/../missing/./index.htm");
    } catch (const EFCreateError& e) {
        message = e.Message();
    }
    ASSERT_EQ(::chdir(cwd), 0);
    // The working folder may be reached through a link; the message names it as getcwd does.
    char real[4096];
    ASSERT_NE(::realpath(root_.constData(), real), nullptr);
    EXPECT_EQ(message, "Cannot create file \"" + QFile::decodeName(real) +
                           "/missing/index.htm\". No such file or directory");
}

TEST_F(PageSaverTest, FailedWriteRaisesWriteErrorAndKeepsTheOldPage) {
    ASSERT_TRUE(docfiles::writeFile(root_ + "index.htm", "old page"));
    const auto before = docfiles::snapshot(root_);
    using fakes::PageStep;
    for (const PageStep step :
         {PageStep::Write, PageStep::Flush, PageStep::Link, PageStep::Commit}) {
        SCOPED_TRACE(int(step));
        fakes::PageStepFaults faults;
        faults.fail(step, ENOSPC);
        try {
            PageSaver::Save({"new", "page"}, root_ + "index.htm");
            ADD_FAILURE() << "saved";
        } catch (const EWriteError& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("Stream write error"));
            EXPECT_EQ(e.Reason(), QStringLiteral("No space left on device"));
        }
        EXPECT_EQ(docfiles::snapshot(root_), before);
    }
}
