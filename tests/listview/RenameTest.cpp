// Rename in place: results, the two error boxes, hidden results, the editor, and a listing
// rebuilt while a box is open.
#include "ListViewSupport.h"
#include "support/Wait.h"

#include "base/ResourceStrings.h"
#include "filectrls/FileIconProvider.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>

using namespace lvtest;

namespace {

class Rename : public ViewTest {
protected:
    void SetUp() override {
        f.folder("sub");
        f.file("a.txt", 10);
        f.file("b.txt", 20);
        view.Directory().SetLocation(f.path());
    }
    int row(const QString& caption) const { return rowOf(view, caption); }

    BoxCapture boxes;
};

} // namespace

TEST_F(Rename, Results) {
    struct Case {
        QString to;
        bool attempted;
        int code;
        QString box;
        bool renamedOnDisk;
    } cases[] = {
        {"c.txt", true, 0, "", true},
        {"A.txt", true, 0, "", true}, // letter case alone is a real rename here
        {"b.txt", true, TRenameResult::NameTaken, rs::text(rs::SFileNameTaken), false},
        {"sub", true, TRenameResult::RenameFailed, "Access denied to \"a.txt\"", false},
        {"", false, 0, "", false},
        {"a.txt", false, 0, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(qPrintable(c.to));
        Folder g;
        g.folder("sub");
        g.file("a.txt", 10);
        g.file("b.txt", 20);
        view.Directory().SetLocation(g.path());
        BoxCapture::texts.clear();
        const int r = rowOf(view, "a.txt");
        ASSERT_GE(r, 0);
        const std::optional<TRenameResult> result = view.RenameItem(r, c.to);
        EXPECT_EQ(result.has_value(), c.attempted);
        if (result) {
            EXPECT_EQ(result->Code, c.code);
        }
        if (c.box.isEmpty()) {
            EXPECT_TRUE(BoxCapture::texts.empty());
        } else {
            EXPECT_EQ(BoxCapture::texts, std::vector<QString>{c.box});
        }
        EXPECT_EQ(g.exists(c.to) && g.exists("a.txt") == false, c.renamedOnDisk);
        if (c.renamedOnDisk) {
            EXPECT_EQ(view.ItemCaption(r), c.to);
            EXPECT_EQ(view.ItemData(r)->Name, c.to.toUtf8());
        } else {
            EXPECT_EQ(view.ItemCaption(r), "a.txt");
            EXPECT_TRUE(g.exists("a.txt"));
        }
    }
}

TEST_F(Rename, ToAHiddenNameRemovesTheItemButNotTheEntry) {
    const int count = view.ItemCount();
    const std::optional<TRenameResult> result = view.RenameItem(row("a.txt"), ".a.txt");
    ASSERT_TRUE(result && result->ok());
    EXPECT_TRUE(f.exists(".a.txt"));
    EXPECT_EQ(view.ItemCount(), count - 1);
    EXPECT_EQ(view.Directory().Count(), count) << "the model keeps it until its next re-read";
    EXPECT_EQ(row("a.txt"), -1);

    // Hidden entries listed: the item stays.
    view.Directory().SetFileType(view.Directory().FileType().with(ftHidden));
    ASSERT_GE(row(".a.txt"), 0);
    view.RenameItem(row(".a.txt"), ".b.txt");
    EXPECT_GE(row(".b.txt"), 0);
}

TEST_F(Rename, ARefreshWhileTheBoxIsOpenLeavesNothingStale) {
    BoxCapture::whileOpen = [&] {
        f.file("new.txt");
        view.Directory().Refresh(); // what the watcher does in the box's event loop
    };
    const std::optional<TRenameResult> result = view.RenameItem(row("a.txt"), "b.txt");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->Code, TRenameResult::NameTaken);
    ASSERT_EQ(BoxCapture::texts.size(), 1u);
    expectRowsFollowModel(view);
    EXPECT_GE(row("new.txt"), 0);
    EXPECT_EQ(view.ItemCaption(row("a.txt")), "a.txt");
}

class InPlace : public Rename {
protected:
    void SetUp() override {
        Rename::SetUp();
        show({500, 300});
        view.setFocus();
    }
    QLineEdit* startEditing(const QString& caption) {
        editing = view.model()->index(row(caption), 0);
        view.SelectItem(editing.row());
        QTest::keyClick(&view, Qt::Key_F2);
        return qobject_cast<QLineEdit*>(view.indexWidget(editing));
    }
    // Types a name and confirms it; the view commits from its event loop.
    void type(QLineEdit* editor, const QString& text) {
        editor->selectAll();
        QTest::keyClicks(editor, text);
        QTest::keyClick(editor, Qt::Key_Return);
        EXPECT_TRUE(waitFor([&] { return !view.indexWidget(editing); })) << "the editor closed";
    }
    QPersistentModelIndex editing;
};

TEST_F(InPlace, ReadOnlyAndDotDotCannotBeEdited) {
    EXPECT_EQ(startEditing("a.txt"), nullptr) << "read-only by default";
    EXPECT_FALSE(view.model()->flags(view.model()->index(row("a.txt"), 0)) & Qt::ItemIsEditable);
    view.SetReadOnly(false);
    EXPECT_EQ(startEditing(".."), nullptr);
    QLineEdit* editor = startEditing("a.txt");
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), "a.txt");
    // The editor covers the name, not the icon.
    EXPECT_GE(editor->geometry().left(),
              view.visualRect(view.model()->index(row("a.txt"), 0)).left() +
                  SystemIconWidth(iscSmall));
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_TRUE(f.exists("a.txt"));
}

TEST_F(InPlace, RenamesAndRefusesWithTheBoxAfterwards) {
    view.SetReadOnly(false);
    QLineEdit* editor = startEditing("a.txt");
    ASSERT_NE(editor, nullptr);
    type(editor, "z.txt");
    EXPECT_TRUE(f.exists("z.txt"));
    EXPECT_FALSE(f.exists("a.txt"));
    EXPECT_GE(row("z.txt"), 0);

    // A refusal: the caption shows the old name, the box follows once the editor is gone,
    // and a refresh from inside the box is harmless.
    BoxCapture::whileOpen = [&] {
        f.file("new.txt");
        view.Directory().Refresh();
    };
    editor = startEditing("z.txt");
    ASSERT_NE(editor, nullptr);
    type(editor, "b.txt");
    EXPECT_EQ(view.ItemCaption(row("z.txt")), "z.txt");
    ASSERT_TRUE(waitFor([&] { return BoxCapture::texts.size() == 1; })) << "one box shown";
    EXPECT_EQ(BoxCapture::texts[0], rs::text(rs::SFileNameTaken));
    expectRowsFollowModel(view);
    EXPECT_GE(row("new.txt"), 0);
    EXPECT_TRUE(f.exists("z.txt"));

    // An empty text is a cancel: no message, the old name stays.
    editor = startEditing("z.txt");
    ASSERT_NE(editor, nullptr);
    editor->clear();
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_TRUE(waitFor([&] { return !view.indexWidget(editing); })) << "the editor closed";
    QApplication::processEvents();
    EXPECT_EQ(BoxCapture::texts.size(), 1u);
    EXPECT_TRUE(f.exists("z.txt"));
}

TEST_F(InPlace, AHiddenResultLeavesTheListAfterTheEdit) {
    view.SetReadOnly(false);
    const int count = view.ItemCount();
    QLineEdit* editor = startEditing("b.txt");
    ASSERT_NE(editor, nullptr);
    type(editor, ".b.txt");
    EXPECT_TRUE(f.exists(".b.txt"));
    EXPECT_TRUE(waitFor([&] { return view.ItemCount() == count - 1; })) << view.ItemCount();
    EXPECT_EQ(row("b.txt"), -1);
    EXPECT_EQ(row(".b.txt"), -1);
}
