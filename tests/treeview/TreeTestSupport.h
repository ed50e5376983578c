#pragma once
// Shared set-up of the folder tree tests: a private folder, volumes presented through a test
// mount source, errors of event handlers collected instead of shown.
#include "base/ApplicationException.h"
#include "base/Exception.h"
#include "filectrls/DirectoryTreeView.h"
#include "platform/FsString.h"
#include "platform/Mounts.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

class TestMounts : public platform::MountSource {
public:
    std::vector<platform::Volume> list;

    std::vector<platform::Volume> volumes() override { return list; }
    bool space(const QByteArray&, quint64& total, quint64& available) override {
        total = 8'000'000'000;
        available = 3'000'000'000;
        return true;
    }
};

class TreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        base = QDir(tmp_.path()).canonicalPath();
        mounts = std::make_shared<TestMounts>();
        previousSource_ = platform::setMountSource(mounts);
        previousHandler_ = setApplicationExceptionHandler([this](std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const Exception& e) {
                errors.push_back(e.Message());
            } catch (const std::exception& e) {
                errors.push_back(QString::fromUtf8(e.what()));
            }
        });
    }

    void TearDown() override {
        tree.reset();
        platform::setMountSource(previousSource_);
        setApplicationExceptionHandler(previousHandler_);
    }

    // Creates base/relative (with its parents); answers the absolute path.
    QString mkdirs(const QString& relative) {
        const QString p = path(relative);
        EXPECT_TRUE(QDir().mkpath(p)) << qPrintable(p);
        return p;
    }
    QString path(const QString& relative) const { return base + u'/' + relative; }
    void touch(const QString& relative) {
        QFile f(path(relative));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    void addVolume(const QString& relative, const QByteArray& label = {}) {
        mounts->list.push_back({platform::toFsBytes(mkdirs(relative)), label});
    }

    // A shown tree (drive roots built at construction from the test volumes).
    TDirectoryTreeView& makeTree(QSize size = {320, 400}) {
        tree = std::make_unique<TDirectoryTreeView>();
        tree->resize(size);
        tree->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(tree.get()));
        return *tree;
    }

    static TDirectoryNode* child(TDirectoryNode* node, const QString& text) {
        for (int i = 0; node && i < node->Count(); ++i)
            if (node->Item(i)->Text() == text)
                return node->Item(i);
        return nullptr;
    }
    TDirectoryNode* rootFor(const QString& mountPath) const {
        for (int i = 0; i < tree->RootCount(); ++i)
            if (tree->NodePath(tree->Root(i)) == platform::toFsBytes(mountPath + u'/'))
                return tree->Root(i);
        return nullptr;
    }
    static QStringList captions(TDirectoryNode* node) {
        QStringList result;
        for (int i = 0; node && i < node->Count(); ++i)
            result << node->Item(i)->Text();
        return result;
    }

    void clickNode(TDirectoryNode* node) {
        const QRect r = tree->visualRect(tree->IndexOf(node));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, r.center());
    }
    // A click on the node's expand button.
    void clickButton(TDirectoryNode* node) {
        const QRect r = tree->visualRect(tree->IndexOf(node));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                          QPoint(r.left() - tree->indentation() / 2, r.center().y()));
    }

    // How often a click on the node fires OnChange (once, unless a guard was left set).
    int changesFromClick(TDirectoryNode* node) {
        int changes = 0;
        tree->OnChange = [&](QObject*, TDirectoryNode*) { ++changes; };
        clickNode(node);
        tree->OnChange = nullptr;
        return changes;
    }

    QString base;
    std::shared_ptr<TestMounts> mounts;
    std::unique_ptr<TDirectoryTreeView> tree;
    std::vector<QString> errors;

private:
    TempDir tmp_;
    std::shared_ptr<platform::MountSource> previousSource_;
    ApplicationExceptionHandler previousHandler_;
};

// The message of the ESetDirectoryError that `body` raises (empty when none).
template <typename Body> QString setDirectoryError(Body&& body) {
    try {
        body();
    } catch (const ESetDirectoryError& e) {
        EXPECT_STREQ(e.className(), "ESetDirectoryError");
        return e.Message();
    }
    return {};
}
