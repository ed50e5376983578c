// What the user does: selecting (OnChange) and opening nodes (OnExpanding, lazy reading).
#include "TreeTestSupport.h"

#include "platform/Fault.h"
#include "support/Fakes.h"

#include <QHelpEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QToolTip>

#include <cerrno>
#include <stdexcept>

namespace {

class UserTree : public TreeTest {
protected:
    void SetUp() override {
        TreeTest::SetUp();
        addVolume("vol");
        for (const char* dir : {"vol/A/A1", "vol/A/A2", "vol/B/B1", "vol/Empty"})
            mkdirs(QString::fromUtf8(dir));
        makeTree();
        vol = rootFor(path("vol"));
        ASSERT_NE(vol, nullptr);
    }
    TDirectoryNode* vol = nullptr;
};

TEST_F(UserTree, OnlyTheUsersSelectionsFireOnChange) {
    std::vector<QString> seen;
    tree->OnChange = [&](QObject* sender, TDirectoryNode* node) {
        EXPECT_EQ(sender, tree.get());
        EXPECT_EQ(node, tree->Selected());
        seen.push_back(tree->Directory());
    };

    clickNode(vol); // a drive: reported, Directory is its mount path
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen.back(), path("vol/"));

    tree->SetDirectory(path("vol/A"));
    tree->SetFileType(tree->FileType());
    tree->SetRootDirectory(QString());
    vol = rootFor(path("vol")); // rebuilt
    tree->SetDirectory(path("vol/B"));
    tree->SetDirectory(QString()); // a deselection
    tree->SetDirectory(path("vol/A/A1"));
    EXPECT_EQ(seen.size(), 1u);

    QTest::keyClick(tree.get(), Qt::Key_Down);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen.back(), path("vol/A/A2/"));
    QTest::keyClick(tree.get(), Qt::Key_Up);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen.back(), path("vol/A/A1/"));

    TDirectoryNode* b = child(vol, "B");
    clickNode(b);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen.back(), path("vol/B/"));
    clickNode(b); // already selected: no change
    EXPECT_EQ(seen.size(), 4u);
}

TEST_F(UserTree, HandlerThatMovesTheTreeCausesNoNestedChange) {
    int changes = 0;
    tree->OnChange = [&](QObject*, TDirectoryNode*) {
        ++changes;
        tree->SetDirectory(path("vol/B/B1"));
    };
    tree->SetDirectory(path("vol/A/A1"));
    clickNode(child(vol, "B"));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(tree->Directory(), path("vol/B/B1/"));
}

TEST_F(UserTree, HandlerErrorReachesTheApplicationAfterTheGuardIsCleared) {
    int changes = 0;
    tree->OnChange = [&](QObject*, TDirectoryNode*) {
        ++changes;
        throw std::runtime_error("handler failed");
    };
    clickNode(vol);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "handler failed");
    clickNode(tree->Root(0));
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(errors.size(), 2u);
}

TEST_F(UserTree, FoldersAreReadOnceAndOnlyWhenOpened) {
    tree->setCurrentIndex(tree->IndexOf(vol));
    QTest::keyClick(tree.get(), Qt::Key_Right); // opens vol
    ASSERT_TRUE(vol->Expanded());
    EXPECT_EQ(captions(vol), (QStringList{"A", "B", "Empty"}));
    for (int i = 0; i < vol->Count(); ++i) {
        // Every folder child shows a button without having been looked into.
        EXPECT_TRUE(vol->Item(i)->HasChildren());
        EXPECT_EQ(vol->Item(i)->Count(), 0);
        EXPECT_TRUE(vol->Item(i)->Directory().Location().isEmpty());
        EXPECT_NE(vol->Item(i)->Data()->Time, 0u) << "a child's entry is complete when asked for";
    }
    TDirectoryNode* a = child(vol, "A");
    clickButton(a);
    EXPECT_TRUE(a->Expanded());
    EXPECT_EQ(captions(a), (QStringList{"A1", "A2"}));
    TDirectoryNode* firstA1 = child(a, "A1");

    // Closed and opened again: not read again, so a folder made meanwhile does not show.
    clickButton(a);
    EXPECT_FALSE(a->Expanded());
    mkdirs("vol/A/A3");
    QTest::qWait(300); // closed: not watched either
    clickButton(a);
    EXPECT_TRUE(a->Expanded());
    EXPECT_EQ(captions(a), (QStringList{"A1", "A2"}));
    EXPECT_EQ(child(a, "A1"), firstA1);
    // Siblings were never read.
    EXPECT_TRUE(child(vol, "B")->Directory().Location().isEmpty());
    EXPECT_EQ(child(vol, "B")->Count(), 0);
    // The walk reads the ancestors only: the final folder stays unread.
    tree->SetDirectory(path("vol/B/B1"));
    EXPECT_EQ(child(child(vol, "B"), "B1")->Directory().Location(), QString());
    EXPECT_TRUE(child(vol, "Empty")->Directory().Location().isEmpty());
}

TEST_F(UserTree, OpenFoldersFollowTheirSubfoldersKeepingExpansionAndSelection) {
    std::vector<QString> seen;
    tree->OnChange = [&](QObject*, TDirectoryNode*) { seen.push_back(tree->Directory()); };
    tree->SetDirectory(path("vol/A/A1"));
    TDirectoryNode* a = child(vol, "A");
    mkdirs("vol/A/A3");
    ASSERT_TRUE(QDir().rename(path("vol/A/A2"), path("vol/A/A4")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return captions(a) == QStringList({"A1", "A3", "A4"}); }));
    EXPECT_TRUE(tree->Directory() == path("vol/A/A1/") && a->Expanded() && seen.empty());
    // The selected folder goes: the selection moves up, and the owner hears of it.
    ASSERT_TRUE(QDir(path("vol/A/A1")).removeRecursively());
    EXPECT_TRUE(QTest::qWaitFor([&] { return seen == std::vector<QString>{path("vol/A/")}; }));
}

TEST_F(UserTree, TheWatchLimitIsReportedOnceAndF5StillReads) {
    fakes::Installed<platform::InotifyCalls> inotify(platform::setInotifyCalls,
                                                     std::make_shared<fakes::FakeInotify>(1));
    QSignalSpy stopped(tree.get(), &TDirectoryTreeView::watchingStopped);
    tree->SetDirectory(path("vol/A/A1")); // vol and A open: A's watch is one too many
    tree->SetDirectory(path("vol/B"));
    EXPECT_TRUE(stopped.count() == 1 && !tree->IsWatching());
    mkdirs("vol/B/B2");
    QTest::keyClick(tree.get(), Qt::Key_F5);
    EXPECT_EQ(captions(child(vol, "B")), QStringList({"B1", "B2"}));
}

TEST_F(UserTree, EmptyOrUnreadableFolderLosesItsButtonOnExpansion) {
    tree->SetDirectory(path("vol/Empty"));
    TDirectoryNode* empty = child(vol, "Empty");
    TDirectoryNode* b = child(vol, "B");
    ASSERT_TRUE(empty && b);
    EXPECT_TRUE(empty->HasChildren());
    QTest::keyClick(tree.get(), Qt::Key_Right);
    EXPECT_FALSE(empty->HasChildren());
    EXPECT_FALSE(empty->Expanded());
    EXPECT_FALSE(tree->model()->hasChildren(tree->IndexOf(empty)));
    EXPECT_EQ(empty->Directory().Location(), path("vol/Empty/"));

    platform::fault::Scope faults;
    platform::fault::inject("opendir", EACCES);
    clickButton(b);
    EXPECT_FALSE(b->HasChildren());
    EXPECT_FALSE(b->Expanded());
    EXPECT_EQ(b->Count(), 0);
    EXPECT_TRUE(errors.empty());

    // A walk through the folder reads it again.
    platform::fault::clear();
    tree->SetDirectory(path("vol/B/B1"));
    EXPECT_EQ(tree->Directory(), path("vol/B/B1/"));
    EXPECT_TRUE(b->HasChildren());
}

TEST_F(UserTree, OnExpandingVetoKeepsTheNodeClosedAndUnread) {
    std::vector<TDirectoryNode*> asked;
    bool allow = false;
    tree->OnExpanding = [&](QObject* sender, TDirectoryNode* node, bool& allowExpansion) {
        EXPECT_EQ(sender, tree.get());
        EXPECT_TRUE(allowExpansion);
        asked.push_back(node);
        allowExpansion = allow;
    };
    clickButton(vol);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], vol);
    EXPECT_FALSE(vol->Expanded());
    EXPECT_EQ(vol->Count(), 0);
    EXPECT_TRUE(vol->HasChildren());

    // A walk stops where opening is refused.
    tree->SetDirectory(path("vol/A/A1"));
    EXPECT_EQ(tree->Directory(), path("vol/"));

    allow = true;
    clickButton(vol);
    EXPECT_TRUE(vol->Expanded());
    EXPECT_EQ(vol->Count(), 3);
    // Opening again asks again, also for a node already read.
    clickButton(vol);
    clickButton(vol);
    EXPECT_EQ(asked.size(), 4u);
    EXPECT_TRUE(vol->Expanded());
}

TEST_F(UserTree, OnExpandingErrorReachesTheApplicationBeforeTheRead) {
    tree->OnExpanding = [&](QObject*, TDirectoryNode*, bool&) {
        throw std::runtime_error("no opening");
    };
    clickButton(vol);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "no opening");
    EXPECT_FALSE(vol->Expanded());
    EXPECT_EQ(vol->Count(), 0);

    // A walk raises it to the caller, with the guard cleared afterwards.
    EXPECT_THROW(tree->SetDirectory(path("vol/A")), std::runtime_error);
    tree->OnExpanding = nullptr;
    EXPECT_EQ(changesFromClick(tree->Root(0)), 1);
}

TEST_F(UserTree, LinkToAnAncestorOpensOneLevelAtATime) {
    ASSERT_TRUE(QFile::link(path("vol"), path("vol/A/up")));
    tree->SetDirectory(path("vol/A/up/A/up/B"));
    EXPECT_EQ(tree->Directory(), path("vol/A/up/A/up/B/"));
    TDirectoryNode* up = tree->Selected()->Parent();
    EXPECT_EQ(captions(up), (QStringList{"A", "B", "Empty"}));
    EXPECT_TRUE(child(up, "Empty")->HasChildren()); // unread below the link
    EXPECT_EQ(child(up, "Empty")->Count(), 0);
}

TEST_F(UserTree, StarOpensOnlyTheCurrentNode) {
    tree->setCurrentIndex(tree->IndexOf(vol));
    QTest::keyClick(tree.get(), Qt::Key_Asterisk);
    EXPECT_TRUE(vol->Expanded());
    for (int i = 0; i < vol->Count(); ++i)
        EXPECT_EQ(vol->Item(i)->Count(), 0);
}

TEST_F(UserTree, HintShowsCaptionsCutByTheEdge) {
    const QString longName(60, u'x');
    mkdirs("vol/" + longName);
    tree->resize(200, 300);
    tree->SetDirectory(path("vol/") + longName);
    QTest::qWait(0);
    const QRect longRect = tree->visualRect(tree->IndexOf(tree->Selected()));
    EXPECT_EQ(tree->HintText(QPoint(longRect.left() + 4, longRect.center().y())), longName);
    const QRect shortRect = tree->visualRect(tree->IndexOf(child(vol, "A")));
    EXPECT_EQ(tree->HintText(QPoint(shortRect.left() + 4, shortRect.center().y())), QString());
    EXPECT_EQ(tree->HintText(QPoint(5, tree->viewport()->height() - 2)), QString());

    // The pointer resting on the node shows the hint as a tool tip.
    const QPoint at(longRect.left() + 4, longRect.center().y());
    QHelpEvent help(QEvent::ToolTip, at, tree->viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(tree->viewport(), &help);
    EXPECT_TRUE(QTest::qWaitFor([&] { return QToolTip::text() == longName; }, 2000));
    QToolTip::hideText();
}

TEST_F(UserTree, TheCurrentRowStaysInSightSidewaysToo) {
    tree->resize(200, 300);
    tree->SetDirectory(mkdirs("vol/A/A1/b/c/d/e/f/g/Постановления о земле"));
    tree->horizontalScrollBar()->setValue(0);
    tree->clearFocus();
    tree->setFocus(); // where the keyboard arrives, its place is brought into sight
    const QRect row = tree->visualRect(tree->currentIndex());
    const int caption = tree->itemDelegate()->sizeHint({}, tree->currentIndex()).width();
    EXPECT_GE(row.left() - tree->indentation(), 0) << "its button in view";
    EXPECT_LE(row.left() + caption, tree->viewport()->width()) << "its caption in view";
}

TEST_F(UserTree, EditedCaptionRenamesNothingButIsThePath) {
    EXPECT_TRUE(tree->ReadOnly());
    tree->SetDirectory(path("vol/A/A1"));
    const QModelIndex a1 = tree->IndexOf(tree->Selected());
    EXPECT_FALSE(tree->model()->flags(a1) & Qt::ItemIsEditable);
    EXPECT_FALSE(tree->model()->setData(a1, "Renamed"));
    tree->SetReadOnly(false);
    EXPECT_TRUE(tree->model()->setData(a1, "Renamed"));
    EXPECT_EQ(tree->Directory(), path("vol/A/Renamed/"));
    EXPECT_TRUE(QDir(path("vol/A/A1")).exists());
}

} // namespace
