// What the tree lists (FileType) and the loading state of the window's layout.
#include "TreeTestSupport.h"

#include <sys/stat.h>

namespace {

class Kinds : public TreeTest {
protected:
    void SetUp() override {
        TreeTest::SetUp();
        addVolume("vol");
        for (const char* dir : {"vol/Top/Sub", "vol/Top/.hidden", "vol/Other/Deep"})
            mkdirs(QString::fromUtf8(dir));
        touch("vol/Top/b_.txt");
        touch("vol/Top/a.txt");
        touch("vol/Top/.secret");
        ASSERT_EQ(::mkfifo(platform::toFsBytes(path("vol/Top/pipe")).constData(), 0600), 0);
        makeTree();
    }
    QStringList topCaptions() {
        tree->SetDirectory(path("vol/Top/Sub"));
        return captions(tree->Selected()->Parent());
    }
};

TEST_F(Kinds, FileTypeDecidesWhatEveryNodeLists) {
    struct Case {
        TFileType type;
        QStringList expected;
    };
    const Case cases[] = {
        {{ftSystem, ftDirectory}, {"Sub"}},
        {{ftSystem, ftDirectory, ftHidden}, {".hidden", "Sub"}},
        {{ftDirectory, ftNormal}, {"Sub", "a.txt", "b_.txt"}}, // no FIFO
        {{ftSystem, ftDirectory, ftNormal}, {"Sub", "a.txt", "b_.txt", "pipe"}},
        {{ftSystem, ftDirectory, ftNormal, ftHidden},
         {".hidden", "Sub", ".secret", "a.txt", "b_.txt", "pipe"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(qPrintable(c.expected.join(u',')));
        tree->SetFileType(c.type);
        EXPECT_EQ(tree->FileType(), c.type);
        EXPECT_EQ(topCaptions(), c.expected);
    }
}

TEST_F(Kinds, FilesAreLeavesAndSelectingOneReportsItsPath) {
    tree->SetFileType({ftSystem, ftDirectory, ftNormal});
    tree->SetDirectory(path("vol/Top/Sub"));
    TDirectoryNode* top = tree->Selected()->Parent();
    TDirectoryNode* file = child(top, "a.txt");
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(file->HasChildren());
    EXPECT_TRUE(tree->model()->flags(tree->IndexOf(file)) & Qt::ItemNeverHasChildren);

    tree->SetDirectory(path("vol/Top"));
    QString seen;
    tree->OnChange = [&](QObject*, TDirectoryNode*) { seen = tree->Directory(); };
    clickNode(child(top, "Sub"));
    EXPECT_EQ(seen, path("vol/Top/Sub/"));
    clickNode(file);
    EXPECT_EQ(seen, path("vol/Top/a.txt/"));
    // The folder the user picked last is what loading goes back to; a file is not a folder.
    tree->BeginLoading();
    tree->Loaded();
    EXPECT_EQ(tree->Directory(), path("vol/Top/Sub/"));
}

TEST_F(Kinds, RewritingFileTypeRebuildsAndGoesBackToTheSelectedFolder) {
    tree->SetDirectory(path("vol/Other/Deep"));
    tree->SetDirectory(path("vol/Top/Sub"));
    TDirectoryNode* vol = rootFor(path("vol"));
    ASSERT_TRUE(child(vol, "Other")->Expanded());
    mkdirs("vol/Top/Sub2");

    tree->SetFileType(tree->FileType());
    vol = rootFor(path("vol"));
    EXPECT_EQ(tree->Directory(), path("vol/Top/Sub/"));
    // On the new nodes (an address compare would pass or fail as the allocator reuses memory).
    EXPECT_EQ(tree->Selected(), child(child(vol, "Top"), "Sub"));
    EXPECT_FALSE(child(vol, "Other")->Expanded()); // other branches collapsed
    EXPECT_EQ(child(vol, "Other")->Count(), 0);
    EXPECT_NE(child(child(vol, "Top"), "Sub2"), nullptr); // read afresh
}

// A node read again keeps the children still there, expanded as they were; a node holding
// children shows its button whatever HasChildren says.
TEST_F(Kinds, AReadAgainKeepsTheBranchesStillThere) {
    tree->SetDirectory(path("vol/Other/Deep"));
    tree->SetDirectory(path("vol/Top/Sub"));
    mkdirs("vol/New");
    tree->SetDirectory(path("vol/New")); // the walk misses New in vol: vol is read again
    TDirectoryNode* vol = rootFor(path("vol"));
    EXPECT_EQ(captions(vol), (QStringList{"New", "Other", "Top"}));
    EXPECT_TRUE(child(vol, "Other")->Expanded());
    EXPECT_TRUE(child(vol, "Top")->Expanded());
    child(vol, "Top")->SetHasChildren(false);
    EXPECT_TRUE(tree->model()->hasChildren(tree->IndexOf(child(vol, "Top"))));
}

class Loading : public TreeTest {
protected:
    void SetUp() override {
        TreeTest::SetUp();
        addVolume("vol");
        mkdirs("vol/Docs/.Private/Inner");
        mkdirs("vol/Docs/Public");
        makeTree();
    }
};

TEST_F(Loading, ValuesAreStoredAndAppliedWhenLoadingEnds) {
    int changes = 0;
    tree->OnChange = [&](QObject*, TDirectoryNode*) { ++changes; };
    tree->BeginLoading();
    EXPECT_TRUE(tree->IsLoading());
    tree->SetRootDirectory(path("vol/Docs"));
    tree->SetDirectory(path("vol/Docs/.Private/Inner"));
    tree->SetFileType({ftSystem, ftDirectory, ftHidden});
    // Nothing built yet: the drive roots of the construction are still there.
    EXPECT_EQ(tree->RootDirectory(), path("vol/Docs"));
    EXPECT_EQ(tree->RootCount(), 2);
    // Selections are ignored while loading.
    clickNode(tree->Root(0));
    EXPECT_EQ(changes, 0);
    // Nodes are not read while loading.
    tree->FillNode(tree->Root(0));
    EXPECT_EQ(tree->Root(0)->Count(), 0);

    tree->Loaded();
    EXPECT_FALSE(tree->IsLoading());
    EXPECT_EQ(tree->RootCount(), 1);
    EXPECT_EQ(tree->Directory(), path("vol/Docs/.Private/Inner/"));
    EXPECT_EQ(changes, 0);
}

TEST_F(Loading, BadValuesRaiseOnlyWhenLoadingEnds) {
    tree->BeginLoading();
    EXPECT_NO_THROW(tree->SetDirectory("relative/path"));
    EXPECT_EQ(setDirectoryError([&] { tree->Loaded(); }),
              "\"relative/path\" is not a subdirectory of \" any known drive\"");

    tree->BeginLoading();
    EXPECT_NO_THROW(tree->SetRootDirectory(path("missing")));
    EXPECT_EQ(setDirectoryError([&] { tree->Loaded(); }),
              "Cannot read directory:\r\n\"" + path("missing") + u'"');
}

TEST_F(Loading, MissingLaterFoldersStopAtTheDeepestExisting) {
    // As the window does at start: the design-time folder, as far as it exists.
    tree->BeginLoading();
    tree->SetDirectory(path("vol/Docs/Public/2024/Jan"));
    tree->Loaded();
    EXPECT_EQ(tree->Directory(), path("vol/Docs/Public/"));
}

} // namespace
