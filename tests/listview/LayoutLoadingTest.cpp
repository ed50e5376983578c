// Controls created while a layout loads wait for Loaded() before reading anything.
#include "filectrls/LayoutLoading.h"
#include "filectrls/DirectoryTreeView.h"
#include "filectrls/FileListView.h"

#include <gtest/gtest.h>

TEST(LayoutLoading, ControlsCreatedByALayoutReadNothingUntilLoaded) {
    // Outside a layout, construction is the widget's creation: the drive list is read ("/" at
    // least) and the tree builds its roots.
    TFileListView plainList;
    TDirectoryTreeView plainTree;
    ASSERT_GT(plainList.ItemCount(), 0);
    ASSERT_GT(plainTree.RootCount(), 0);

    std::unique_ptr<TFileListView> list;
    std::unique_ptr<TDirectoryTreeView> tree;
    {
        TLayoutLoading loading;
        list = std::make_unique<TFileListView>();
        tree = std::make_unique<TDirectoryTreeView>();
    }
    EXPECT_TRUE(list->IsLoading());
    EXPECT_TRUE(tree->IsLoading());
    EXPECT_EQ(list->ItemCount(), 0);
    EXPECT_EQ(tree->RootCount(), 0);
    EXPECT_FALSE(TLayoutLoading::Active());

    list->Loaded();
    tree->Loaded();
    EXPECT_EQ(list->ItemCount(), plainList.ItemCount());
    EXPECT_EQ(tree->RootCount(), plainTree.RootCount());
}
