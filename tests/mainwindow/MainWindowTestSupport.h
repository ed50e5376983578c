#pragma once
// Shared set-up of the main window tests: captured boxes instead of modal ones, drives from a
// test mount source, and helpers for folders of documents.
#include "main/ErrorBox.h"
#include "platform/Fault.h"
#include "platform/FsString.h"
#include "platform/Mounts.h"
#include "support/DocFiles.h"

#include <QByteArray>
#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

namespace mwtest {

// One drive, "/", answering at once: nothing depends on this machine's mounts.
class RootOnlyMounts : public platform::MountSource {
public:
    std::vector<platform::Volume> volumes() override { return {{"/", {}}}; }
    bool space(const QByteArray&, quint64& total, quint64& available) override {
        total = 100'000'000'000ull;
        available = 50'000'000'000ull;
        return true;
    }
};

struct Box {
    QString title;
    QString text;
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temp.isValid());
        root = temp.path() + QLatin1Char('/');
        previousMounts = platform::setMountSource(std::make_shared<RootOnlyMounts>());
        previousBox = errorbox::setErrorBoxFunction([this](QWidget*, const QString& text) {
            boxes.push_back({QString(), text});
        });
        previousAppBox = errorbox::setApplicationErrorBoxFunction(
            [this](const QString& title, const QString& text) {
                appBoxes.push_back({title, text});
            });
        errorbox::setApplicationEnding(false);
        errorbox::installExceptionHandler();
    }

    void TearDown() override {
        platform::fault::clear();
        errorbox::setErrorBoxFunction(previousBox);
        errorbox::setApplicationErrorBoxFunction(previousAppBox);
        errorbox::setApplicationEnding(false);
        platform::setMountSource(previousMounts);
    }

    // Makes root + relative (folders on the way too) and answers it with a trailing '/'.
    QString makeFolder(const QString& relative) {
        const QString path = root + relative;
        EXPECT_TRUE(QDir().mkpath(path)) << qPrintable(path);
        return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
    }

    static void writeDocument(const QString& path, QByteArrayView text) {
        ASSERT_TRUE(docfiles::writeFile(platform::toFsBytes(path), text)) << qPrintable(path);
    }

    static QByteArray readBytes(const QString& path) {
        return docfiles::readFile(platform::toFsBytes(path));
    }

    TempDir temp;
    QString root;
    std::vector<Box> boxes;
    std::vector<Box> appBoxes;

private:
    std::shared_ptr<platform::MountSource> previousMounts;
    errorbox::ErrorBoxFunction previousBox;
    errorbox::ApplicationErrorBoxFunction previousAppBox;
};

} // namespace mwtest
