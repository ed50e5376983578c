// The window while folders change under it: the tree follows the list's folder, a gone folder
// takes the window up, the status bar says what a click did, and names that are not UTF-8
// read as their code page's letters while their bytes keep working.
#include "MainWindowTestSupport.h"

#include "filectrls/DirectoryTreeView.h"
#include "filectrls/FileListView.h"
#include "main/MainWindow.h"
#include "main/StatusTexts.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

#include <cerrno>
#include <cstdio>
#include <unistd.h>

using mwtest::WindowTest;

namespace {

bool hasChild(TDirectoryNode* node, const QString& text) {
    for (int i = 0; node && i < node->Count(); ++i)
        if (node->Item(i)->Text() == text)
            return true;
    return false;
}

int itemOf(const TFileListView* list, const QString& caption) {
    for (int i = 0; i < list->ItemCount(); ++i)
        if (list->ItemCaption(i) == caption)
            return i;
    return -1;
}

bool waitFor(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, 5000);
}

void openFromList(TFileListView* list, const QString& caption) {
    list->setFocus();
    list->SelectItem(itemOf(list, caption));
    QTest::keyClick(list, Qt::Key_Return);
}

struct StartedWindow {
    explicit StartedWindow(const QString& folder) : window(folder) {
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    TDirectoryTreeView* tree() { return window.DirectoryTreeView1(); }
    TFileListView* list() { return window.FileListView1(); }
    QString status() { return window.StatusBar1()->currentMessage(); }
    TForm1 window;
};

} // namespace

TEST_F(WindowTest, FoldersMadeRenamedAndDeletedWhileRunningAreFollowed) {
    const QString docs = makeFolder(QStringLiteral("docs"));
    const QString old = makeFolder(QStringLiteral("docs/old"));
    StartedWindow w(old); // the walk has read docs: it holds "old" only
    TDirectoryNode* docsNode = w.tree()->Selected()->Parent();
    QTest::mouseClick(w.tree()->viewport(), Qt::LeftButton, {},
                      w.tree()->visualRect(w.tree()->IndexOf(docsNode)).center());
    ASSERT_EQ(w.tree()->Directory(), docs);

    // Made while the window runs: reached from the list, then written with Return.
    const QString made = makeFolder(QStringLiteral("docs/made"));
    writeDocument(made + QStringLiteral("a_.txt"), "alpha");
    ASSERT_TRUE(waitFor([&] { return itemOf(w.list(), QStringLiteral("made")) >= 0; }));
    openFromList(w.list(), QStringLiteral("made"));
    EXPECT_EQ(w.tree()->Directory(), made);
    EXPECT_EQ(w.window.Label1()->text(), made);
    EXPECT_EQ(w.list()->Directory().Location(), made);
    w.window.BitBtn1()->setFocus();
    QTest::keyClick(w.window.BitBtn1(), Qt::Key_Return);
    EXPECT_TRUE(readBytes(made + QStringLiteral("index.htm")).contains("a_.txt.rtf"));
    EXPECT_EQ(w.status(), statustext::pageWritten(made + QStringLiteral("index.htm"), 1));

    // Renamed while shown: the window goes up to docs, which now holds the new name.
    ASSERT_EQ(std::rename(qPrintable(made), qPrintable(docs + QStringLiteral("renamed"))), 0);
    ASSERT_TRUE(waitFor([&] { return w.tree()->Directory() == docs; }));
    EXPECT_EQ(w.list()->Directory().Location(), docs);
    EXPECT_EQ(w.window.Label1()->text(), docs);
    EXPECT_EQ(w.status(), statustext::folderGone(made, docs));
    EXPECT_TRUE(hasChild(docsNode, QStringLiteral("renamed")));
    EXPECT_FALSE(hasChild(docsNode, QStringLiteral("made")));

    // Deleted: it leaves the tree with the list's refresh.
    ASSERT_EQ(::rmdir(qPrintable(old)), 0);
    EXPECT_TRUE(waitFor([&] { return !hasChild(docsNode, QStringLiteral("old")); }));

    // Reached from the tree without waiting for the watcher: the walk reads the level again,
    // and F5 reads the selected node.
    const QString late = makeFolder(QStringLiteral("docs/late"));
    w.tree()->SetDirectory(late);
    EXPECT_EQ(w.tree()->Directory(), late);
    w.tree()->SetDirectory(docs);
    makeFolder(QStringLiteral("docs/f5"));
    w.tree()->setFocus();
    QTest::keyClick(w.tree(), Qt::Key_F5);
    EXPECT_TRUE(hasChild(docsNode, QStringLiteral("f5")));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowTest, AFolderGoneBeforeItIsSelectedTakesTheWindowToItsParent) {
    const QString docs = makeFolder(QStringLiteral("docs"));
    const QString doomed = makeFolder(QStringLiteral("docs/doomed/deeper"));
    StartedWindow w(doomed);
    TDirectoryNode* docsNode = w.tree()->Selected()->Parent()->Parent();
    w.tree()->SetDirectory(docs);
    w.window.DirectoryTreeView1Change(w.tree(), nullptr);
    ASSERT_EQ(::rmdir(qPrintable(doomed)), 0);
    ASSERT_EQ(::rmdir(qPrintable(docs + QStringLiteral("doomed"))), 0);

    // As a user's click on the stale node does it (before any watcher could tell).
    w.tree()->SetDirectory(doomed);
    ASSERT_EQ(w.tree()->Directory(), doomed);
    w.window.DirectoryTreeView1Change(w.tree(), w.tree()->Selected());
    EXPECT_EQ(w.tree()->Directory(), docs);
    EXPECT_EQ(w.list()->Directory().Location(), docs);
    EXPECT_EQ(w.window.Label1()->text(), docs);
    EXPECT_FALSE(hasChild(docsNode, QStringLiteral("doomed")));
    EXPECT_EQ(w.status(), statustext::folderGone(doomed, docs));
    EXPECT_TRUE(w.window.BitBtn1()->isEnabled());
}

TEST_F(WindowTest, StatusBarSaysWhatHappened) {
    const QString docs = makeFolder(QStringLiteral("docs"));
    const QString locked = makeFolder(QStringLiteral("docs/locked"));
    for (const char* name : {"a_.txt", "b_.txt"})
        writeDocument(docs + QString::fromLatin1(name), "text");

    // A start folder that does not exist.
    StartedWindow w(docs + QStringLiteral("missing/deeper/"));
    EXPECT_EQ(w.tree()->Directory(), docs);
    EXPECT_EQ(w.status(), statustext::startFolderMissing(docs + "missing/deeper/", docs));

    // A click keeps the list's selection across the re-read that the new page causes.
    QSignalSpy reread(w.list(), &TFileListView::folderReread);
    w.list()->SelectItem(itemOf(w.list(), QStringLiteral("b_.txt")));
    QTest::mouseClick(w.window.BitBtn1(), Qt::LeftButton);
    EXPECT_EQ(w.status(), QStringLiteral("Записан файл %1index.htm: 2 документа").arg(docs));
    ASSERT_TRUE(reread.wait(5000));
    EXPECT_EQ(w.list()->ItemCaption(w.list()->SelectedItem()), QStringLiteral("b_.txt"));

    // A failing click names what failed; the box keeps its own text.
    platform::fault::inject("open", EACCES);
    QTest::mouseClick(w.window.BitBtn1(), Qt::LeftButton);
    platform::fault::clear();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("File access denied."));
    EXPECT_TRUE(w.status().startsWith(QStringLiteral("Страница не записана: ") + docs));

    // An unreadable folder is said so and gets no page.
    platform::fault::inject("opendir", EACCES, 0, 1); // the list's read, not the tree's
    openFromList(w.list(), QStringLiteral("locked"));
    platform::fault::clear();
    EXPECT_TRUE(waitFor([&] { return !w.window.BitBtn1()->isEnabled(); }));
    EXPECT_EQ(w.status(), statustext::folderUnreadable(locked, EACCES));
    EXPECT_EQ(w.tree()->Directory(), locked);
}

TEST_F(WindowTest, ReturnAndEnterPressTheFocusedButton) {
    const QString docs = makeFolder(QStringLiteral("docs"));
    writeDocument(docs + QStringLiteral("a_.txt"), "alpha");
    StartedWindow w(docs);
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        SCOPED_TRACE(key);
        QFile::remove(docs + QStringLiteral("index.htm"));
        w.window.BitBtn1()->setFocus();
        QTest::keyClick(w.window.BitBtn1(), key,
                        key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        EXPECT_TRUE(QFile::exists(docs + QStringLiteral("index.htm")));
    }
}

TEST_F(WindowTest, NamesThatAreNotUtf8ReadInRussianAndStillWork) {
    docfiles::CodePageScope codePage(1251);
    const QString docs = makeFolder(QStringLiteral("docs"));
    const QByteArray order = platform::toFsBytes(docs) + "\xCF\xF0\xE8\xEA\xE0\xE7"; // Приказ
    ASSERT_EQ(::mkdir(order.constData(), 0755), 0);
    ASSERT_TRUE(docfiles::writeFile(order + "/a_.txt", "alpha"));
    const QString raw = platform::fromFsBytes(order);

    StartedWindow w(docs);
    const int item = itemOf(w.list(), raw.mid(docs.size()));
    ASSERT_GE(item, 0);
    EXPECT_EQ(w.list()->model()->index(item, 0).data().toString(), QStringLiteral("Приказ"));
    openFromList(w.list(), raw.mid(docs.size()));
    EXPECT_EQ(w.tree()->Directory(), raw + u'/');
    EXPECT_EQ(w.window.Label1()->text(), docs + QStringLiteral("Приказ/"));
    EXPECT_EQ(w.tree()->currentIndex().data().toString(), QStringLiteral("Приказ"));
    QTest::mouseClick(w.window.BitBtn1(), Qt::LeftButton);
    EXPECT_TRUE(docfiles::readFile(order + "/index.htm").contains("a_.txt.rtf"));
    EXPECT_TRUE(w.status().contains(QStringLiteral("Приказ/index.htm: 1 документ")));
    EXPECT_TRUE(boxes.empty());
}
