// Roots (the drives or one folder) and going to a folder by path.
#include "TreeTestSupport.h"

#include "platform/Fault.h"

#include <QScopeGuard>

#include <sys/stat.h>

namespace {

using Tree = TreeTest;

TEST_F(Tree, DriveRootsComeInMountOrderUnreadAndUnselected) {
    addVolume("vol_b", "Beta");
    addVolume("vol_a");
    mounts->list.push_back({"/", "System"});
    makeTree();

    ASSERT_EQ(tree->RootCount(), 3);
    const QStringList expectedCaptions{"System", path("vol_a"), "Beta"};
    const QStringList expectedPaths{"/", path("vol_a/"), path("vol_b/")};
    for (int i = 0; i < 3; ++i) {
        TDirectoryNode* root = tree->Root(i);
        SCOPED_TRACE(i);
        EXPECT_EQ(root->Text(), expectedCaptions[i]);
        EXPECT_EQ(platform::fromFsBytes(tree->NodePath(root)), expectedPaths[i]);
        EXPECT_TRUE(root->HasChildren());
        EXPECT_EQ(root->Count(), 0); // not read
        EXPECT_TRUE(root->Directory().Location().isEmpty());
        EXPECT_EQ(root->Data()->Attr, faVolumeID);
        EXPECT_EQ(root->Parent(), nullptr);
    }
    EXPECT_EQ(tree->Selected(), nullptr);
    EXPECT_EQ(tree->Directory(), QString());
    EXPECT_EQ(tree->RootDirectory(), QString());
}

class Walk : public TreeTest {
protected:
    void SetUp() override {
        TreeTest::SetUp();
        addVolume("vol");
        for (const char* dir : {"vol/Data/Sub/Inner", "vol/Data/Docs", "vol/Data/docs",
                                "vol/Data/Other", "vol/Data2", "vol/Empty"})
            mkdirs(QString::fromUtf8(dir));
        makeTree();
    }
};

TEST_F(Walk, GoesToTheDeepestExistingFolderWithTheNamesOwnCase) {
    struct Case {
        const char* written;  // below base
        const char* expected; // Directory read back, below base
    };
    const Case cases[] = {
        {"vol/data/SUB", "vol/Data/Sub/"},
        {"vol/Data/Sub/", "vol/Data/Sub/"},
        {"VOL/Data/Sub/inner", "vol/Data/Sub/Inner/"},
        {"vol", "vol/"},
        {"vol/", "vol/"},
        {"vol/Data/docs", "vol/Data/docs/"}, // exact case preferred
        {"vol/Data/Docs/", "vol/Data/Docs/"},
        {"vol/Data/Missing/More", "vol/Data/"}, // later folders missing
        {"vol/Data//Sub", "vol/Data/"},         // a doubled '/' ends the walk
        {"vol/Data2/x/y/z", "vol/Data2/"},
        {"vol/Empty/a", "vol/Empty/"},
    };
    int changes = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.written);
        makeTree();
        tree->OnChange = [&](QObject*, TDirectoryNode*) { ++changes; };
        tree->SetDirectory(path(QString::fromUtf8(c.written)));
        EXPECT_EQ(tree->Directory(), path(QString::fromUtf8(c.expected)));
        TDirectoryNode* selected = tree->Selected();
        ASSERT_NE(selected, nullptr);
        // Only the ancestors are expanded; the final node is not.
        EXPECT_FALSE(selected->Expanded());
        for (TDirectoryNode* n = selected->Parent(); n; n = n->Parent())
            EXPECT_TRUE(n->Expanded());
    }
    EXPECT_EQ(changes, 0);
}

// Folders that may be entered but not listed (mode 711 for anyone but root: the fault hook).
TEST_F(Walk, PassesThroughFoldersThatCannotBeListed) {
    platform::fault::Scope faults;
    platform::fault::inject("opendir", EACCES);
    tree->SetDirectory(path("vol/Data/Sub/Inner"));
    EXPECT_EQ(tree->Directory(), path("vol/Data/Sub/Inner/"));
    TDirectoryNode* data = tree->Selected()->Parent()->Parent();
    EXPECT_EQ(data->Count(), 1) << "just the child on the path";
    tree->RefreshNode(data);
    EXPECT_EQ(data->Count(), 1) << "still unlisted: not empty";
    platform::fault::clear();
    tree->RefreshNode(data);
    EXPECT_EQ(data->Count(), 4);
    EXPECT_EQ(tree->Directory(), path("vol/Data/Sub/Inner/"));
}

TEST_F(Walk, CaseInsensitiveMatchTakesTheFirstInListingOrder) {
    tree->SetDirectory(path("vol/Data"));
    TDirectoryNode* data = tree->Selected();
    ASSERT_NE(data, nullptr);
    tree->FillNode(data);
    QString first;
    for (const QString& c : captions(data))
        if (c.compare(u"DOCS", Qt::CaseInsensitive) == 0 && first.isEmpty())
            first = c;
    ASSERT_FALSE(first.isEmpty());
    tree->SetDirectory(path("vol/Data/DOCS"));
    EXPECT_EQ(tree->Directory(), path("vol/Data/") + first + u'/');
}

TEST_F(Walk, RelativePathRaisesAndKeepsTheSelection) {
    tree->SetDirectory(path("vol/Data"));
    const QString message = setDirectoryError([&] { tree->SetDirectory("vol/Data"); });
    EXPECT_EQ(message, "\"vol/Data\" is not a subdirectory of \" any known drive\"");
    EXPECT_EQ(tree->Directory(), path("vol/Data/"));

    // The guard is cleared after the error: a user selection reports again.
    EXPECT_EQ(changesFromClick(tree->Root(0)), 1);
}

TEST_F(Walk, TheDriveRootSelectsTheDriveUnread) {
    tree->SetDirectory("/");
    EXPECT_EQ(tree->Selected(), tree->Root(0));
    EXPECT_EQ(tree->Directory(), "/");
    EXPECT_EQ(tree->Root(0)->Count(), 0);
    tree->SetDirectory(path("vol/"));
    EXPECT_EQ(tree->Selected(), rootFor(path("vol")));
    EXPECT_EQ(rootFor(path("vol"))->Count(), 0);
}

TEST_F(Walk, EmptyValueDeselectsAndReadsEmpty) {
    tree->SetDirectory(path("vol/Data"));
    tree->SetDirectory(QString());
    EXPECT_EQ(tree->Selected(), nullptr);
    EXPECT_EQ(tree->Directory(), QString());
}

TEST_F(Walk, TheMostSpecificVolumeIsTheStart) {
    // "/" holds every mount path; a path on a volume starts at that volume's root.
    tree->SetDirectory(path("vol/Data"));
    TDirectoryNode* node = tree->Selected();
    ASSERT_NE(node, nullptr);
    while (node->Parent())
        node = node->Parent();
    EXPECT_EQ(node, rootFor(path("vol")));
    EXPECT_NE(node, tree->Root(0)); // not "/"
}

TEST_F(Walk, NamesThatAreNotUtf8RoundTrip) {
    const QByteArray cp1251Name("\xcf\xf0\xe8\xea\xe0\xe7"); // "Приказ" in cp1251
    const QByteArray folder = platform::toFsBytes(path("vol/Data/")) + cp1251Name;
    // Made from the bytes: Qt's own file names would encode the escapes differently.
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    ASSERT_EQ(::mkdir((folder + "/Below").constData(), 0755), 0);

    tree->SetDirectory(platform::fromFsBytes(folder + "/Below"));
    EXPECT_EQ(platform::toFsBytes(tree->Directory()), folder + "/Below/");
    TDirectoryNode* below = tree->Selected();
    ASSERT_NE(below, nullptr);
    EXPECT_EQ(tree->NodePath(below->Parent()), folder + '/');
}

class RootFolder : public TreeTest {
protected:
    void SetUp() override {
        TreeTest::SetUp();
        for (const char* dir :
             {"Work/Sub", "Work/shop/x", "Work/Second", "Workshop/x", ".hidden/a"})
            mkdirs(QString::fromUtf8(dir));
        touch("plain.txt");
        makeTree();
    }
};

TEST_F(RootFolder, IsReadAndSelectedAtOnce) {
    tree->SetRootDirectory(path("Work/"));
    EXPECT_EQ(tree->RootDirectory(), path("Work"));
    ASSERT_EQ(tree->RootCount(), 1);
    TDirectoryNode* root = tree->Root(0);
    EXPECT_EQ(root->Text(), path("Work"));
    EXPECT_EQ(tree->Selected(), root);
    EXPECT_EQ(tree->Directory(), path("Work/"));
    EXPECT_EQ(captions(root), (QStringList{"Second", "shop", "Sub"}));
    EXPECT_TRUE(root->HasChildren());

    tree->SetDirectory(path("WORK/sub"));
    EXPECT_EQ(tree->Directory(), path("Work/Sub/"));
}

TEST_F(RootFolder, OnlyWholeComponentsMatchTheRoot) {
    tree->SetRootDirectory(path("Work"));
    tree->SetDirectory(path("Work/Sub"));
    // "Workshop" begins with the root's text but is another folder: selecting Work/shop/x
    // would name a folder that was never asked for.
    const QString message = setDirectoryError([&] { tree->SetDirectory(path("Workshop/x")); });
    EXPECT_EQ(message,
              u'"' + path("Workshop/x") + "\" is not a subdirectory of \"" + path("Work") + u'"');
    EXPECT_EQ(tree->Directory(), path("Work/Sub/"));

    const QString outside = setDirectoryError([&] { tree->SetDirectory("/elsewhere/x"); });
    EXPECT_EQ(outside, "\"/elsewhere/x\" is not a subdirectory of \"" + path("Work") + u'"');
    EXPECT_EQ(tree->Directory(), path("Work/Sub/"));
}

TEST_F(RootFolder, BadRootLeavesTheTreeAsItWas) {
    tree->SetRootDirectory(path("Work"));
    tree->SetDirectory(path("Work/Sub"));
    for (const QString& bad : {path("Missing"), path("plain.txt"), path(".hidden")}) {
        SCOPED_TRACE(qPrintable(bad));
        const QString message = setDirectoryError([&] { tree->SetRootDirectory(bad); });
        EXPECT_EQ(message, "Cannot read directory:\r\n\"" + bad + u'"');
        EXPECT_EQ(tree->RootDirectory(), path("Work"));
        EXPECT_EQ(tree->Directory(), path("Work/Sub/"));
    }
    // A hidden folder is a root only when hidden entries are listed.
    tree->SetFileType({ftSystem, ftDirectory, ftHidden});
    tree->SetRootDirectory(path(".hidden"));
    EXPECT_EQ(tree->Directory(), path(".hidden/"));
}

TEST_F(RootFolder, RelativeRootIsMadeAbsolute) {
    const QString old = QDir::currentPath();
    const auto restore = qScopeGuard([&] { QDir::setCurrent(old); });
    ASSERT_TRUE(QDir::setCurrent(base));
    tree->SetRootDirectory("Work/../Work/Sub");
    EXPECT_EQ(tree->RootDirectory(), path("Work/Sub"));
    EXPECT_EQ(tree->Directory(), path("Work/Sub/"));
}

TEST_F(RootFolder, EmptyRootGoesBackToTheDrives) {
    addVolume("vol");
    tree->SetRootDirectory(path("Work"));
    tree->SetRootDirectory(QString());
    EXPECT_EQ(tree->RootCount(), 2); // "/" and vol
    EXPECT_EQ(tree->Selected(), nullptr);
}

TEST_F(RootFolder, DriveRootAsRootKeepsItsValue) {
    mounts->list.push_back({"/", "System"});
    tree->SetRootDirectory("/");
    EXPECT_EQ(tree->RootDirectory(), "/");
    ASSERT_EQ(tree->RootCount(), 1);
    EXPECT_EQ(tree->Root(0)->Text(), "System");
    EXPECT_EQ(tree->Directory(), "/");
    EXPECT_GT(tree->Root(0)->Count(), 0); // read at once
    tree->SetDirectory(base);
    EXPECT_EQ(tree->Directory(), base + u'/');
}

} // namespace
