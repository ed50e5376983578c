// The main window in process (offscreen): the loading order, the tree as the one source of
// truth for label and list, the index button, the failing start and the exit.
#include "MainWindowTestSupport.h"

#include "filectrls/DirectoryTreeView.h"
#include "filectrls/FileListView.h"
#include "main/MainWindow.h"
#include "main/StatusTexts.h"
#include "main/WindowMode.h"
#include "platform/CodePage.h"
#include "platform/Fault.h"
#include "support/ExpectedPage.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <unistd.h>

using mwtest::WindowTest;

namespace {

QStringList captions(const TFileListView* list) {
    QStringList result;
    for (int i = 0; i < list->ItemCount(); ++i)
        result << list->ItemCaption(i);
    return result;
}

int itemOf(const TFileListView* list, const QString& caption) {
    return int(captions(list).indexOf(caption));
}

class EnvScope {
public:
    EnvScope(const char* name, const QByteArray& value) : name_(name), saved_(qgetenv(name)) {
        qputenv(name, value);
    }
    ~EnvScope() { qputenv(name_, saved_); }
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;

private:
    const char* name_;
    QByteArray saved_;
};

class CurrentFolderScope {
public:
    explicit CurrentFolderScope(const QString& folder) : saved_(QDir::currentPath()) {
        QDir::setCurrent(folder);
    }
    ~CurrentFolderScope() { QDir::setCurrent(saved_); }
    CurrentFolderScope(const CurrentFolderScope&) = delete;
    CurrentFolderScope& operator=(const CurrentFolderScope&) = delete;

private:
    QString saved_;
};

void showAndWait(QWidget& window) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
}

void clickTreeNode(TDirectoryTreeView* tree, TDirectoryNode* node) {
    const QModelIndex index = tree->IndexOf(node);
    ASSERT_TRUE(index.isValid());
    tree->scrollTo(index);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(index).center());
}

bool hasChild(const TDirectoryNode* node, const QString& text) {
    for (int i = 0; i < node->Count(); ++i)
        if (node->Item(i)->Text() == text)
            return true;
    return false;
}

void openFromList(TFileListView* list, const QString& caption) {
    list->setFocus();
    list->SelectItem(itemOf(list, caption));
    QTest::keyClick(list, Qt::Key_Return);
}

// The whole status text (the bar itself may show it cut in the middle).
QString status(const TForm1& window) {
    return window.StatusText();
}

// Receives what the desktop would open in a browser.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

// The next widget that Tab reaches from `from`.
QWidget* nextTabStop(QWidget* from) {
    for (QWidget* w = from->nextInFocusChain(); w && w != from; w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled())
            return w;
    }
    return nullptr;
}

} // namespace

TEST_F(WindowTest, StartsAtTheDesignTimeFolderUnderHomeOrItsDeepestExistingAncestor) {
    struct Case {
        const char* name;
        QString existing; // below HOME
        QString expected; // below HOME
    };
    const Case cases[] = {
        {"whole path", "orvina/СорникЗемля/РТ/Законы", "orvina/СорникЗемля/РТ/Законы/"},
        {"only two levels", "orvina/СорникЗемля", "orvina/СорникЗемля/"},
        {"nothing", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString home = makeFolder(QStringLiteral("home-%1").arg(&c - cases));
        if (!c.existing.isEmpty())
            makeFolder(QStringLiteral("home-%1/").arg(&c - cases) + c.existing);
        writeDocument(home + c.expected + QStringLiteral("law_.txt"), "Закон");
        EnvScope homeScope("HOME", platform::toFsBytes(home));
        EXPECT_EQ(TForm1::DesignTimeFolder(),
                  home + QStringLiteral("orvina/СорникЗемля/РТ/Законы/"));

        TForm1 window;
        const QString expected = home + c.expected;
        EXPECT_EQ(window.DirectoryTreeView1()->Directory(), expected);
        EXPECT_EQ(window.Label1()->text(), expected);
        EXPECT_EQ(window.FileListView1()->Directory().Location(), expected);
        EXPECT_TRUE(captions(window.FileListView1()).contains(QStringLiteral("law_.txt")));
        EXPECT_TRUE(window.BitBtn1()->isEnabled());
        // The status bar names the folder opened instead of the one asked for.
        EXPECT_EQ(status(window),
                  c.existing.endsWith("Законы")
                      ? QString()
                      : statustext::startFolderMissing(TForm1::DesignTimeFolder(), expected));
        // The label grows with its caption.
        EXPECT_GE(window.Label1()->width(), window.Label1()->sizeHint().width());
        EXPECT_TRUE(boxes.empty());
    }
}

TEST_F(WindowTest, StartsAtTheFolderArgumentWithTheLayoutsControls) {
    const QString docs = makeFolder(QStringLiteral("docs"));
    makeFolder(QStringLiteral("docs/sub"));
    writeDocument(docs + QStringLiteral("a_.txt"), "alpha");
    writeDocument(docs + QStringLiteral("b_.txt"), "beta");
    writeDocument(docs + QStringLiteral("note.txt"), "not listed");

    TForm1 window(docs);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Программа"));
    EXPECT_EQ(window.objectName(), QStringLiteral("Form1"));
    EXPECT_EQ(window.pos(), QPoint(193, 103));
    EXPECT_EQ(window.size(), QSize(696, 480));
    EXPECT_EQ(window.DirectoryTreeView1()->Directory(), docs);
    EXPECT_EQ(window.Label1()->text(), docs);
    EXPECT_EQ(captions(window.FileListView1()), (QStringList{"..", "sub", "a_.txt", "b_.txt"}));
    EXPECT_EQ(window.FileListView1()->Directory().FileMask(), QStringLiteral("*_.txt"));
    EXPECT_TRUE(window.FileListView1()->Directory().AutoUpdate());
    EXPECT_FALSE(window.DirectoryTreeView1()->IsLoading());
    EXPECT_FALSE(window.FileListView1()->IsLoading());

    // Every control of the layout with its parent and place.
    struct Control {
        const char* name;
        const char* className;
        const char* parent;
    };
    const Control controls[] = {
        {"StatusBar1", "QStatusBar", "Form1"},
        {"Panel1", "QFrame", "ClientWidget"},
        {"Label1", "QLabel", "Panel1"},
        {"Panel2", "QFrame", "ClientWidget"},
        {"DirectoryTreeView1", "TDirectoryTreeView", "Panel2"},
        {"Panel3", "QFrame", "ClientWidget"},
        {"FileListView1", "TFileListView", "Panel3"},
        {"Panel4", "QFrame", "ClientWidget"},
        {"BitBtn1", "QPushButton", "Panel4"},
        {"MainMenu1", "QMenuBar", "Form1"},
    };
    for (const Control& c : controls) {
        SCOPED_TRACE(c.name);
        QWidget* w = window.findChild<QWidget*>(QString::fromLatin1(c.name));
        ASSERT_NE(w, nullptr);
        EXPECT_STREQ(w->metaObject()->className(), c.className);
        ASSERT_NE(w->parentWidget(), nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), QString::fromLatin1(c.parent));
    }
    EXPECT_EQ(window.BitBtn1()->text(), QStringLiteral("Создать индексный файл"));
    EXPECT_EQ(window.BitBtn1()->geometry(), QRect(512, 8, 161, 25));
    EXPECT_TRUE(window.BitBtn1()->icon().isNull());
    EXPECT_EQ(window.Label1()->pos(), QPoint(16, 16));
    EXPECT_EQ(window.statusBar()->objectName(), QStringLiteral("StatusBar1"));
    const QList<QAction*> menu = window.menuBar()->actions();
    ASSERT_EQ(menu.size(), 1);
    EXPECT_EQ(menu[0]->objectName(), QStringLiteral("N1"));
    EXPECT_EQ(menu[0]->text(), QStringLiteral("&Выйти")) << "Alt+В, as the menu's mnemonic";
    EXPECT_EQ(menu[0]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(menu[0]->menu(), nullptr);

    // Tab order: the tree, the list, the button.
    showAndWait(window);
    EXPECT_EQ(nextTabStop(window.DirectoryTreeView1()), window.FileListView1());
    EXPECT_EQ(nextTabStop(window.FileListView1()), window.BitBtn1());
    EXPECT_EQ(nextTabStop(window.BitBtn1()), window.DirectoryTreeView1());
}

TEST_F(WindowTest, LabelAndListFollowTheUsersSelectionInTheTree) {
    const QString docs = makeFolder(QStringLiteral("docs"));
    const QString inner = makeFolder(QStringLiteral("docs/inner"));
    writeDocument(docs + QStringLiteral("a_.txt"), "alpha");
    writeDocument(inner + QStringLiteral("c_.txt"), "gamma");

    TForm1 window(inner);
    showAndWait(window);
    TDirectoryTreeView* tree = window.DirectoryTreeView1();
    ASSERT_NE(tree->Selected(), nullptr);
    EXPECT_EQ(captions(window.FileListView1()), (QStringList{"..", "c_.txt"}));

    clickTreeNode(tree, tree->Selected()->Parent());
    EXPECT_EQ(tree->Directory(), docs);
    EXPECT_EQ(window.Label1()->text(), docs);
    EXPECT_EQ(window.FileListView1()->Directory().Location(), docs);
    EXPECT_EQ(captions(window.FileListView1()), (QStringList{"..", "inner", "a_.txt"}));
    EXPECT_TRUE(window.BitBtn1()->isEnabled());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowTest, TheListMovingOnItsOwnTakesLabelAndTreeAlong) {
    const QString docs = makeFolder(QStringLiteral("docs"));
    const QString sub = makeFolder(QStringLiteral("docs/sub"));
    writeDocument(docs + QStringLiteral("a_.txt"), "alpha");
    writeDocument(sub + QStringLiteral("c_.txt"), "gamma");

    TForm1 window(docs);
    showAndWait(window);
    TFileListView* list = window.FileListView1();
    TDirectoryTreeView* tree = window.DirectoryTreeView1();

    // Enter on a folder.
    list->setFocus();
    list->SelectItem(itemOf(list, QStringLiteral("sub")));
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(list->Directory().Location(), sub);
    EXPECT_EQ(tree->Directory(), sub);
    EXPECT_EQ(window.Label1()->text(), sub);

    // A click now writes the page of the folder shown, with its own documents.
    QTest::mouseClick(window.BitBtn1(), Qt::LeftButton);
    EXPECT_TRUE(readBytes(sub + QStringLiteral("index.htm")).contains("c_.txt.rtf"));
    EXPECT_FALSE(QFile::exists(docs + QStringLiteral("index.htm")));

    // Backspace goes up; the tree and the label come along.
    QTest::keyClick(list, Qt::Key_Backspace);
    EXPECT_EQ(list->Directory().Location(), docs);
    EXPECT_EQ(tree->Directory(), docs);
    EXPECT_EQ(window.Label1()->text(), docs);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowTest, TheListGoesBackWhereTheTreeCannotFollow) {
    // The tree does not show hidden folders; a list told to show them can open one.
    const QString docs = makeFolder(QStringLiteral("docs"));
    makeFolder(QStringLiteral("docs/.hidden"));
    TForm1 window(docs);
    showAndWait(window);
    TFileListView* list = window.FileListView1();
    list->Directory().SetFileType(list->Directory().FileType().with(ftHidden));
    const int hidden = itemOf(list, QStringLiteral(".hidden"));
    ASSERT_GE(hidden, 0);

    list->setFocus();
    list->SelectItem(hidden);
    QTest::keyClick(list, Qt::Key_Return);
    // The tree stayed where it could; the label says so at once, and the list follows it as
    // soon as its own change has finished.
    EXPECT_EQ(window.DirectoryTreeView1()->Directory(), docs);
    EXPECT_EQ(window.Label1()->text(), docs);
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->Directory().Location() == docs; }, 5000));
    EXPECT_EQ(window.Label1()->text(), docs);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowTest, AClickWritesTheIndexPage) {
    docfiles::CodePageScope codePage(1251);
    const QString docs = makeFolder(QStringLiteral("docs"));
    makeFolder(QStringLiteral("docs/sub"));
    writeDocument(docs + QStringLiteral("a_.txt"), "alpha\r\nbeta\r\n");
    writeDocument(docs + QStringLiteral("b_.txt"), "gamma");
    writeDocument(docs + QStringLiteral("other.txt"), "not listed");

    TForm1 window(docs);
    showAndWait(window);
    QTest::mouseClick(window.BitBtn1(), Qt::LeftButton);

    const QByteArray folder = platform::toBytes(docs, 1251);
    using namespace expectedpage;
    const QByteArray expected =
        joined(head(folder) + row(1, "a_.txt", " alpha beta") + row(2, "b_.txt", " gamma") + kFoot);
    EXPECT_EQ(readBytes(docs + QStringLiteral("index.htm")), expected);
    // In another code page the page says so and keeps every letter.
    platform::setConversionCodePage(1252);
    QTest::mouseClick(window.BitBtn1(), Qt::LeftButton);
    EXPECT_EQ(
        readPage(readBytes(docs + QStringLiteral("index.htm"))),
        readPage(expected).replace(QStringLiteral("windows-1251"), QStringLiteral("windows-1252")));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowTest, AMissingDocumentShowsFileNotFoundAndASecondClickWorks) {
    const QString docs = makeFolder(QStringLiteral("docs"));
    writeDocument(docs + QStringLiteral("a_.txt"), "alpha");
    const QString gone = docs + QStringLiteral("gone_.txt");
    ASSERT_EQ(::symlink("nowhere_.txt", platform::toFsBytes(gone).constData()), 0);

    TForm1 window(docs);
    showAndWait(window);
    ASSERT_TRUE(captions(window.FileListView1()).contains(QStringLiteral("gone_.txt")));
    QTest::mouseClick(window.BitBtn1(), Qt::LeftButton);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("File not found."));
    EXPECT_TRUE(status(window).startsWith(QStringLiteral("Страница не записана: ") + docs));
    EXPECT_FALSE(QFile::exists(docs + QStringLiteral("index.htm")));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(window.isVisible());

    // The watcher re-reads the list once the link is gone; then the page is written.
    ASSERT_EQ(::unlink(platform::toFsBytes(gone).constData()), 0);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return !captions(window.FileListView1()).contains(QStringLiteral("gone_.txt")); },
        5000));
    QTest::mouseClick(window.BitBtn1(), Qt::LeftButton);
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(readBytes(docs + QStringLiteral("index.htm")).contains("a_.txt.rtf"));
}

// A folder whose listing failed is not an empty folder: the click shows why and writes nothing.
TEST_F(WindowTest, AClickOnAFolderThatCannotBeReadWritesNothing) {
    const QString docs = makeFolder(QStringLiteral("docs"));
    writeDocument(docs + QStringLiteral("a_.txt"), "alpha");
    writeDocument(docs + QStringLiteral("index.htm"), "the old page");
    TForm1 window(docs);
    showAndWait(window);
    platform::fault::inject("opendir", EACCES);
    window.FileListView1()->Directory().Refresh();
    platform::fault::clear();
    QTest::mouseClick(window.BitBtn1(), Qt::LeftButton);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Cannot read directory:\r\n\"%1\"").arg(docs));
    EXPECT_EQ(readBytes(docs + QStringLiteral("index.htm")), QByteArray("the old page"));
}

TEST_F(WindowTest, TheDriveListLeavesNoFolderSelectedAndTheButtonDisabled) {
    const QString docs = makeFolder(QStringLiteral("docs"));
    const QString work = makeFolder(QStringLiteral("work"));
    writeDocument(docs + QStringLiteral("a_.txt"), "alpha");
    CurrentFolderScope current(work);

    TForm1 window(docs);
    showAndWait(window);
    TDirectoryTreeView* tree = window.DirectoryTreeView1();
    window.FileListView1()->Directory().SetLocation(QString());
    EXPECT_TRUE(window.FileListView1()->ShowingDrives());
    EXPECT_EQ(tree->Directory(), QString());
    EXPECT_EQ(tree->Selected(), nullptr);
    EXPECT_EQ(window.Label1()->text(), QString());
    EXPECT_FALSE(window.BitBtn1()->isEnabled());
    QTest::mouseClick(window.BitBtn1(), Qt::LeftButton);
    window.BitBtn1Click(window.BitBtn1()); // even a call that bypasses the button writes nothing
    EXPECT_TRUE(QDir(work).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    EXPECT_TRUE(boxes.empty());

    // Choosing a folder in the tree again brings the button back.
    clickTreeNode(tree, tree->Root(0));
    EXPECT_EQ(tree->Directory(), QStringLiteral("/"));
    EXPECT_EQ(window.Label1()->text(), QStringLiteral("/"));
    EXPECT_TRUE(window.BitBtn1()->isEnabled());
}

TEST_F(WindowTest, AFailingStartShowsApplicationErrorAndExitsWithOne) {
    EnvScope homeScope("HOME", "relative-home");
    EXPECT_THROW(TForm1 window, Exception);

    EXPECT_EQ(runMainWindow(TForm1::DesignTimeFolder()), 1);
    ASSERT_EQ(appBoxes.size(), 1u);
    EXPECT_EQ(appBoxes[0].title, QStringLiteral("Application Error"));
    const QRegularExpression text(
        QStringLiteral("^Exception ESetDirectoryError in module test_mainwindow at "
                       "([0-9A-F]{8})\\.\\r\\n.*relative-home/orvina/СорникЗемля/РТ/Законы/?.* is "
                       "not a subdirectory of.*any known drive.*[^.]\\.\\r\\n$"),
        QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = text.match(appBoxes[0].text);
    EXPECT_TRUE(match.hasMatch()) << qPrintable(appBoxes[0].text);
    EXPECT_NE(match.captured(1), QStringLiteral("00000000"));
    EXPECT_TRUE(boxes.empty());
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_EQ(qobject_cast<TForm1*>(w), nullptr);
}

TEST_F(WindowTest, ResizingKeepsTheButtonInPlaceAndScrollsBelowTheDesignRanges) {
    const QString docs = makeFolder(QStringLiteral("docs"));
    TForm1 window(docs);
    showAndWait(window);
    auto* area = window.findChild<QScrollArea*>(QStringLiteral("ClientArea"));
    auto* panel2 = window.findChild<QWidget*>(QStringLiteral("Panel2"));
    auto* panel4 = window.findChild<QWidget*>(QStringLiteral("Panel4"));
    ASSERT_TRUE(area && panel2 && panel4);

    for (const QSize size : {QSize(696, 480), QSize(1000, 700), QSize(400, 300), QSize(200, 120)}) {
        SCOPED_TRACE(size.width());
        window.resize(size);
        QTest::qWait(0);
        QApplication::sendPostedEvents();
        EXPECT_EQ(window.BitBtn1()->geometry(), QRect(512, 8, 161, 25));
        EXPECT_EQ(panel4->height(), 41);
        EXPECT_EQ(panel2->width(), 265);
        EXPECT_EQ(window.statusBar()->height(), 19);
        const QWidget* content = area->widget();
        EXPECT_EQ(panel4->geometry().bottom(), content->height() - 1);
        const int width = area->viewport()->width();
        const int height = area->viewport()->height();
        EXPECT_EQ(area->horizontalScrollBar()->maximum(), std::max(0, 265 - width));
        EXPECT_EQ(area->verticalScrollBar()->maximum(), std::max(0, 82 - height));
        if (size.width() >= 696) {
            EXPECT_EQ(content->width(), width);
        }
    }
    EXPECT_GT(area->horizontalScrollBar()->maximum(), 0);
    EXPECT_GT(area->verticalScrollBar()->maximum(), 0);
}

TEST_F(WindowTest, ExitEndsTheEventLoopWithZero) {
    const QString docs = makeFolder(QStringLiteral("docs"));
    struct Case {
        const char* name;
        std::function<void(TForm1*)> close;
    };
    const Case cases[] = {
        {"menu item", [](TForm1* w) { w->findChild<QAction*>(QStringLiteral("N1"))->trigger(); }},
        {"title bar", [](TForm1* w) { w->close(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool closed = false;
        QTimer safety; // a window that does not close fails the test instead of hanging it
        safety.setSingleShot(true);
        QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        safety.start(10000);
        QTimer::singleShot(0, &safety, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* form = qobject_cast<TForm1*>(w); form && form->isVisible()) {
                    EXPECT_EQ(form->Label1()->text(), docs);
                    c.close(form);
                    closed = true;
                }
            }
        });
        EXPECT_EQ(runMainWindow(docs), 0);
        EXPECT_TRUE(closed);
        EXPECT_TRUE(appBoxes.empty());
    }
}

TEST_F(WindowTest, FoldersMadeRenamedAndDeletedWhileRunningAreFollowed) {
    const QString docs = makeFolder(QStringLiteral("docs"));
    TForm1 window(makeFolder(QStringLiteral("docs/old"))); // the walk has read docs
    showAndWait(window);
    TDirectoryTreeView* tree = window.DirectoryTreeView1();
    TFileListView* list = window.FileListView1();
    TDirectoryNode* docsNode = tree->Selected()->Parent();
    clickTreeNode(tree, docsNode);

    // Made while the window runs: reached from the list, then written with Return.
    const QString made = makeFolder(QStringLiteral("docs/made"));
    writeDocument(made + QStringLiteral("a_.txt"), "alpha");
    ASSERT_TRUE(QTest::qWaitFor([&] { return itemOf(list, QStringLiteral("made")) >= 0; }));
    openFromList(list, QStringLiteral("made"));
    EXPECT_EQ(window.Label1()->text(), made);
    window.BitBtn1()->setFocus();
    QTest::keyClick(window.BitBtn1(), Qt::Key_Return);
    EXPECT_TRUE(readBytes(made + QStringLiteral("index.htm")).contains("a_.txt.rtf"));
    EXPECT_EQ(status(window), statustext::pageWritten(made + QStringLiteral("index.htm"), 1, 2));
    // A held key writes the page once: its repeats write nothing.
    ASSERT_EQ(std::remove(qPrintable(made + QStringLiteral("index.htm"))), 0);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(window.BitBtn1(), &repeat);
    EXPECT_FALSE(QFile::exists(made + QStringLiteral("index.htm")));

    // Renamed while shown: the window goes up to docs, which holds the new name.
    ASSERT_EQ(std::rename(qPrintable(made), qPrintable(docs + QStringLiteral("renamed"))), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tree->Directory() == docs; }));
    EXPECT_EQ(status(window), statustext::folderGone(made, docs));
    EXPECT_TRUE(hasChild(docsNode, QStringLiteral("renamed")));
    EXPECT_FALSE(hasChild(docsNode, QStringLiteral("made")));

    // Without waiting for the watcher: a walk reads the level again, F5 the selected node.
    const QString late = makeFolder(QStringLiteral("docs/late"));
    tree->SetDirectory(late);
    EXPECT_EQ(tree->Directory(), late);
    tree->SetDirectory(docs);
    makeFolder(QStringLiteral("docs/f5"));
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_F5);
    EXPECT_TRUE(hasChild(docsNode, QStringLiteral("f5")));

    // A node whose folder went before anyone could tell: choosing it goes to its parent.
    ASSERT_EQ(::rmdir(qPrintable(late)), 0);
    tree->SetDirectory(late);
    window.DirectoryTreeView1Change(tree, tree->Selected());
    EXPECT_EQ(tree->Directory(), docs);
    EXPECT_EQ(list->Directory().Location(), docs);
    EXPECT_FALSE(hasChild(docsNode, QStringLiteral("late")));
    EXPECT_EQ(status(window), statustext::folderGone(late, docs));
}

TEST_F(WindowTest, TheSelectionOutlivesARereadAndAnUnreadableFolderIsSaidSo) {
    const QString docs = makeFolder(QStringLiteral("docs"));
    const QString locked = makeFolder(QStringLiteral("docs/locked"));
    writeDocument(docs + QStringLiteral("a_.txt"), "alpha");
    writeDocument(docs + QStringLiteral("b_.txt"), "beta");
    TForm1 window(docs);
    showAndWait(window);
    TFileListView* list = window.FileListView1();

    // The re-read that the new page causes keeps the list's selection.
    QSignalSpy reread(list, &TFileListView::folderReread);
    list->SelectItem(itemOf(list, QStringLiteral("b_.txt")));
    QTest::mouseClick(window.BitBtn1(), Qt::LeftButton);
    EXPECT_EQ(
        status(window),
        QStringLiteral("Записан файл %1index.htm: 2 документа; ссылок без файла: 4").arg(docs));
    ASSERT_TRUE(reread.wait(5000));
    EXPECT_EQ(list->ItemCaption(list->SelectedItem()), QStringLiteral("b_.txt"));

    // The tree has read docs with the re-read: the walk to "locked" reads nothing.
    TDirectoryNode* docsNode = window.DirectoryTreeView1()->Selected();
    ASSERT_TRUE(QTest::qWaitFor([&] { return hasChild(docsNode, QStringLiteral("locked")); }));
    platform::fault::inject("opendir", EACCES);
    openFromList(list, QStringLiteral("locked"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.BitBtn1()->isEnabled(); }));
    platform::fault::clear();
    EXPECT_EQ(status(window), statustext::folderUnreadable(locked, EACCES));
    // Its rights change (readable again): the list reads it, and the status clears.
    ASSERT_EQ(::chmod(qPrintable(locked), 0750), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return status(window).isEmpty(); }));
    EXPECT_TRUE(window.BitBtn1()->isEnabled());
}

TEST_F(WindowTest, NamesThatAreNotUtf8ReadInRussianAndStillWork) {
    docfiles::CodePageScope codePage(1251);
    const QString docs = makeFolder(QStringLiteral("docs"));
    const QByteArray order = platform::toFsBytes(docs) + "\xCF\xF0\xE8\xEA\xE0\xE7"; // Приказ
    ASSERT_EQ(::mkdir(order.constData(), 0755), 0);
    writeDocument(platform::fromFsBytes(order + "/a_.txt"), "alpha");
    TForm1 window(docs);
    showAndWait(window);
    TFileListView* list = window.FileListView1();
    const QString name = platform::fromFsBytes(order).mid(docs.size());
    EXPECT_EQ(list->model()->index(itemOf(list, name), 0).data(), QStringLiteral("Приказ"));
    openFromList(list, name);
    EXPECT_EQ(window.DirectoryTreeView1()->Directory(), docs + name + u'/');
    EXPECT_EQ(window.DirectoryTreeView1()->currentIndex().data(), QStringLiteral("Приказ"));
    EXPECT_EQ(window.Label1()->text(), docs + QStringLiteral("Приказ/"));
    window.BitBtn1()->setFocus();
    QTest::keyClick(window.BitBtn1(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(readBytes(platform::fromFsBytes(order + "/index.htm")).contains("a_.txt.rtf"));
    EXPECT_TRUE(status(window).endsWith(
        QStringLiteral("Приказ/index.htm: 1 документ; ссылок без файла: 2")));
}

TEST_F(WindowTest, LongPathsAreCutInTheMiddleAndTheWrittenPageCanBeOpened) {
    const QString deep =
        makeFolder("docs/" + QString(80, u'x') + u'/' + QString(80, u'y') + "/end");
    writeDocument(deep + "a_.txt", "alpha");
    TForm1 window(deep);
    showAndWait(window);
    QLabel* label = window.Label1();
    EXPECT_TRUE(label->text().contains(u'…') && label->text().endsWith("/end/"));
    EXPECT_LE(label->geometry().right(), label->parentWidget()->width());
    EXPECT_TRUE(label->toolTip() == deep && label->accessibleName() == deep);
    EXPECT_FALSE(window.OpenPageButton()->isVisible());

    UrlCatcher browser;
    QDesktopServices::setUrlHandler("file", &browser, "open");
    const auto unset = qScopeGuard([] { QDesktopServices::unsetUrlHandler("file"); });
    QTest::mouseClick(window.BitBtn1(), Qt::LeftButton);
    const QString page = deep + "index.htm", written = statustext::pageWritten(page, 1, 2);
    QStatusBar* bar = window.StatusBar1();
    EXPECT_TRUE(bar->toolTip() == written && bar->accessibleName() == written);
    const QString shown = bar->currentMessage();
    EXPECT_TRUE(shown.contains(u'…') && shown.endsWith("ссылок без файла: 2")) << qPrintable(shown);

    // Offered, never opened by itself; reached with the keyboard; gone with its folder.
    EXPECT_TRUE(window.OpenPageButton()->isVisible() && browser.urls.isEmpty());
    EXPECT_EQ(nextTabStop(window.BitBtn1()), window.OpenPageButton());
    window.OpenPageButton()->setFocus();
    QTest::keyClick(window.OpenPageButton(), Qt::Key_Space);
    EXPECT_EQ(browser.urls, QList<QUrl>{QUrl::fromLocalFile(page)});
    QTest::keyClick(window.FileListView1(), Qt::Key_Backspace);
    EXPECT_FALSE(window.OpenPageButton()->isVisible());
}

TEST_F(WindowTest, AFolderGoneAsTheButtonIsClickedWritesNothingAnywhere) {
    const QString docs = makeFolder(QStringLiteral("docs"));
    const QString vanish = makeFolder(QStringLiteral("docs/vanish"));
    TForm1 window(vanish);
    showAndWait(window);
    ASSERT_EQ(::rmdir(qPrintable(vanish)), 0);
    QTest::mouseClick(window.BitBtn1(), Qt::LeftButton); // before the watcher has told
    EXPECT_EQ(status(window), statustext::folderGone(vanish, docs));
    EXPECT_FALSE(QFile::exists(docs + QStringLiteral("index.htm")));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowTest, KeyboardAndScreenReaderUsersReachEverything) {
    TForm1 window(makeFolder(QStringLiteral("docs")));
    showAndWait(window);
    QAccessibleInterface* tree = QAccessible::queryAccessibleInterface(window.DirectoryTreeView1());
    EXPECT_TRUE(tree->role() == QAccessible::Tree && tree->text(QAccessible::Name) == "Папки");
    EXPECT_EQ(window.FileListView1()->accessibleName(), QStringLiteral("Содержимое папки"));
    QStringList rows;
    for (int i = 0; i < tree->childCount(); ++i)
        rows << tree->child(i)->text(QAccessible::Name);
    EXPECT_TRUE(rows.contains("docs") && !rows.contains("1")) << qPrintable(rows.join(u','));

    // F10 (Esc leaves) and Alt alone put the menu bar under the keyboard; Ctrl+Q quits.
    QMenuBar* menu = window.menuBar();
    window.DirectoryTreeView1()->setFocus();
    QTest::keyClick(window.DirectoryTreeView1(), Qt::Key_F10);
    EXPECT_EQ(menu->activeAction(), menu->actions().value(0));
    QTest::keyClick(menu, Qt::Key_Escape);
    EXPECT_EQ(menu->activeAction(), nullptr);
    QTest::keyPress(window.DirectoryTreeView1(), Qt::Key_Alt, Qt::AltModifier);
    QTest::keyRelease(window.DirectoryTreeView1(), Qt::Key_Alt);
    QTest::keyClick(menu, Qt::Key_Return);
    EXPECT_FALSE(window.isVisible()) << "Alt, Return: «Выйти»";
    showAndWait(window);
    QTest::keyClick(window.DirectoryTreeView1(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(window.isVisible());
}

#include "MainWindowTest.moc"
