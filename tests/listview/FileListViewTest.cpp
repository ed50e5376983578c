// The file list view: rows, cell texts, columns, sorting, navigation, loading, events.
#include "ListViewSupport.h"

#include "base/ResourceStrings.h"
#include "filectrls/FileIconProvider.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

using namespace lvtest;

namespace {

quint32 dosDateTime(int y, int mo, int d, int h, int mi, int s) {
    return quint32(((y - 1980) << 25) | (mo << 21) | (d << 16) | (h << 11) | (mi << 5) | (s / 2));
}

TFileInfo makeEntry(const char* name, quint32 attr, qint64 size, quint32 time) {
    TSearchRec rec;
    rec.Name = name;
    rec.Attr = attr;
    rec.Size = size;
    rec.Time = time;
    return TFileInfo(rec);
}

QString headerCaption(const TFileListView& view, int column) {
    return view.model()->headerData(column, Qt::Horizontal).toString();
}

void pressKey(TFileListView& view, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(&view, key, mods);
}

// The tests of one view over a folder of their own.
class FileListView : public ViewTest {};

} // namespace

TEST_F(FileListView, StartsReadOnlyWithFiveColumnsAndTheDriveList) {
    EXPECT_TRUE(view.ReadOnly());
    EXPECT_EQ(view.ViewStyle(), vsList);
    EXPECT_TRUE(view.isHeaderHidden());
    EXPECT_FALSE(view.isSortingEnabled());
    EXPECT_EQ(view.IconProvider(), WindowsIconProvider());
    ASSERT_EQ(view.model()->columnCount(), 5);
    const char* captions[] = {rs::SName, rs::SSize, rs::SType, rs::SDateModified, rs::SAttributes};
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(headerCaption(view, c), rs::text(captions[c]));

    // Widths: the measured sample texts plus an "A" (column 0 is sized by the list style).
    const QFontMetrics fm(view.font());
    const int a = fm.horizontalAdvance("A");
    EXPECT_EQ(view.columnWidth(1), fm.horizontalAdvance("0000000") + a);
    EXPECT_EQ(view.columnWidth(2), fm.horizontalAdvance("Directory") + a);
    EXPECT_EQ(view.columnWidth(4), fm.horizontalAdvance("Attributes") + a);

    // The "widget created" step listed the model's location: the (fake) drive list.
    EXPECT_TRUE(view.ShowingDrives());
    ASSERT_EQ(view.ItemCount(), 2);
    EXPECT_EQ(view.ItemCaption(0), "/");
    EXPECT_EQ(view.ItemCaption(1), "USB");
    expectRowsFollowModel(view);
}

TEST_F(FileListView, RowsFollowTheModelAfterEveryUpdate) {
    f.folder("sub");
    f.file("b.txt");
    f.file("a.txt");
    f.file("notes.doc");
    view.Directory().SetLocation(f.path());
    expectRowsFollowModel(view);
    EXPECT_FALSE(view.ShowingDrives());
    EXPECT_EQ(view.ItemCount(), 5); // .., sub, three files
    EXPECT_GE(rowOf(view, ".."), 0);

    f.file("c.txt");
    pressKey(view, Qt::Key_F5);
    expectRowsFollowModel(view);
    EXPECT_GE(rowOf(view, "c.txt"), 0);

    view.Directory().SetFileMask("*.txt");
    expectRowsFollowModel(view);
    EXPECT_EQ(rowOf(view, "notes.doc"), -1);

    view.Directory().SetSortDirection(sdDescending);
    expectRowsFollowModel(view);

    view.OnFileFound = [](QObject*, const TSearchRec& file, bool& canAdd) {
        canAdd = file.Name != "b.txt";
    };
    view.Directory().Refresh();
    expectRowsFollowModel(view);
    EXPECT_EQ(rowOf(view, "b.txt"), -1);

    view.Directory().SetLocation(QString());
    expectRowsFollowModel(view);
    EXPECT_TRUE(view.ShowingDrives());
}

TEST_F(FileListView, CellTexts) {
    const quint32 afternoon = dosDateTime(2024, 3, 5, 13, 5, 6);
    const quint32 midnight = dosDateTime(2024, 3, 5, 0, 0, 0);
    TFileInfo big = makeEntry("big.iso", faArchive, 5'000'000'000LL, afternoon);
    TFileInfo folder = makeEntry("sub", faDirectory, 0, midnight);
    TFileInfo attrs = makeEntry("x", faReadOnly | faHidden | faSysFile | faArchive, 0, afternoon);
    TFileInfo drive = makeEntry("USB", faVolumeID, 9540, 1234);
    struct Case {
        TFileInfo* entry;
        int column;
        bool drives;
        QString expected;
    } cases[] = {
        {&big, 1, false, "5000000000"}, // the full 64-bit size
        {&big, 2, false, "File"},       {&big, 3, false, "3/5/24 1:05:06 PM"},
        {&big, 4, false, "A"},          {&folder, 2, false, "Directory"},
        {&folder, 3, false, "3/5/24"}, // midnight: the date alone
        {&folder, 4, false, ""},        {&attrs, 4, false, "RHSA"},
        {&drive, 1, true, "9540 MB"},   {&drive, 2, true, "Volume"},
        {&drive, 3, true, "1234 MB"},   {&drive, 4, true, ""},
        {&big, 5, false, "???"},        {&drive, 9, true, "???"},
        {nullptr, 1, false, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FileListCellText(c.entry, c.column, c.drives), c.expected)
            << c.column << " " << qPrintable(c.expected);
    }
    EXPECT_EQ(FileDateText(0), "") << "no date";
}

TEST_F(FileListView, CellTextsOfARealListingAndOfTheDrives) {
    f.folder("sub");
    f.file("data_.txt", 1234);
    view.Directory().SetLocation(f.path());
    const auto cell = [&](const QString& caption, int column) {
        return view.model()->index(rowOf(view, caption), column).data().toString();
    };
    EXPECT_EQ(cell("data_.txt", 1), "1234");
    EXPECT_EQ(cell("data_.txt", 2), "File");
    EXPECT_FALSE(cell("data_.txt", 3).isEmpty());
    EXPECT_EQ(cell("sub", 2), "Directory");
    EXPECT_EQ(cell("sub", 1), "0");
    // What column 0 paints: the entry's icon and name; the hint's details.
    const QModelIndex sub = view.model()->index(rowOf(view, "sub"), 0);
    EXPECT_EQ(sub.data(TFileListView::ImageIndexRole), int(TFileIconProvider::ClosedFolder));
    EXPECT_EQ(view.ItemImageIndex(sub.row()), TFileIconProvider::ClosedFolder);
    EXPECT_EQ(sub.data(TFileListView::EntryNameRole), "sub");
    EXPECT_EQ(sub.data(Qt::ToolTipRole), view.HintText(sub.row()));

    view.Directory().SetLocation(QString());
    EXPECT_EQ(cell("USB", 1), "9540 MB");
    EXPECT_EQ(cell("USB", 3), "1234 MB");
    EXPECT_EQ(cell("USB", 4), "");
}

// Rows are described when shown: a file changed after the first screen was painted shows its
// new size when its row is shown, which a listing that stat'ed every entry at once cannot.
TEST_F(FileListView, DescribesTheRowsItShowsNotEveryEntry) {
    for (int i = 0; i < 300; ++i)
        f.file(QStringLiteral("d%1_.txt").arg(i, 3, 10, QLatin1Char('0')), 5);
    show({700, 300}, vsReport);
    view.Directory().SetLocation(f.path());
    view.viewport()->repaint();
    f.file("d299_.txt", 9);
    EXPECT_EQ(view.model()->index(view.ItemCount() - 1, TFileListView::ColSize).data(), "9");
    EXPECT_EQ(view.ItemData(view.ItemCount() - 1)->Size, 9);
}

TEST_F(FileListView, ReportStyleSwitchesTheFourthCaption) {
    view.SetViewStyle(vsReport);
    EXPECT_FALSE(view.isHeaderHidden());
    view.Directory().SetLocation(QString());
    EXPECT_EQ(headerCaption(view, 3), "Free Space");
    view.Directory().SetLocation(f.path());
    EXPECT_EQ(headerCaption(view, 3), "Date Modified");
    view.SetViewStyle(vsList);
    EXPECT_TRUE(view.isHeaderHidden());
}

TEST_F(FileListView, ListStyleSizesTheFirstColumnToTheWidestCaption) {
    f.file("short.txt");
    f.file("a rather much longer file name.txt");
    view.Directory().SetLocation(f.path());
    const QFontMetrics fm(view.font());
    const int widest = fm.horizontalAdvance("a rather much longer file name.txt");
    EXPECT_EQ(view.columnWidth(0), view.IconProvider()->Width() + widest + 3);

    // Also with the header's first visual position held by another column.
    view.header()->moveSection(2, 0);
    view.Directory().Refresh();
    EXPECT_EQ(view.columnWidth(2), view.IconProvider()->Width() + widest + 3);
}

TEST_F(FileListView, ListStyleMeasuresEveryCaptionOfALargeFolder) {
    // Large lists are measured on several threads: the widest name may be in any part.
    Folder shm(QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                         : QDir::tempPath());
    const int count = 20'000;
    for (int i = 0; i < count; ++i) {
        const QByteArray path =
            (shm / QStringLiteral("n%1.txt").arg(i, 5, 10, QLatin1Char('0'))).toUtf8();
        const int fd = ::open(path.constData(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    // Kerned pairs, ligatures and other scripts measure as shaping measures them.
    const QString longests[] = {
        QStringLiteral("zz the longest name of them all, sorted last.txt"),
        QStringLiteral("AVAWAYATo Ty Yo LT WA Va fi ffi ffl affluent office, longest.txt"),
        QStringLiteral("zz ünïcødé ΑΒΓ кириллица longest name of them all.txt"),
    };
    view.Directory().SetLocation(shm.path());
    for (const QString& longest : longests) {
        SCOPED_TRACE(longest.toStdString());
        shm.file(longest);
        view.Directory().Refresh();
        ASSERT_EQ(view.ItemCount(), count + 2);
        EXPECT_EQ(view.columnWidth(0),
                  view.IconProvider()->Width() + view.fontMetrics().horizontalAdvance(longest) + 3);
        ASSERT_TRUE(QFile::remove(shm / longest));
    }
}

TEST_F(FileListView, HeaderClicksSortThroughTheModel) {
    f.folder("zdir");
    f.file("a.txt", 300);
    f.file("b.txt", 100);
    f.file("c.txt", 200);
    for (const auto& [name, year] : {std::pair{"a.txt", 2021}, {"b.txt", 2023}, {"c.txt", 2022}}) {
        const timespec at{QDateTime(QDate(year, 6, 1), QTime(12, 0)).toSecsSinceEpoch(), 0};
        const timespec times[2] = {at, at};
        ASSERT_EQ(::utimensat(AT_FDCWD, (f / name).toUtf8().constData(), times, 0), 0);
    }
    show({700, 300}, vsReport);
    view.Directory().SetLocation(f.path());

    const auto click = [&](int column) {
        QHeaderView* header = view.header();
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    };
    const auto files = [&] {
        QStringList names;
        for (int i = 0; i < view.ItemCount(); ++i)
            if (!(view.ListedItem(i)->Attr & faDirectory))
                names << view.ItemCaption(i);
        return names;
    };

    click(0); // Name while sorted by name ascending: descending, folders still first
    EXPECT_EQ(view.Directory().SortMode(), smName);
    EXPECT_EQ(view.Directory().SortDirection(), sdDescending);
    EXPECT_EQ(files(), QStringList({"c.txt", "b.txt", "a.txt"}));
    EXPECT_TRUE(view.ItemData(0)->Attr & faDirectory);
    expectRowsFollowModel(view);

    click(1); // Size: by size, the direction stays
    EXPECT_EQ(view.Directory().SortMode(), smSize);
    EXPECT_EQ(view.Directory().SortDirection(), sdDescending);
    EXPECT_EQ(files(), QStringList({"b.txt", "c.txt", "a.txt"}));

    click(1); // Size again: the direction toggles; ascending puts the largest first
    EXPECT_EQ(view.Directory().SortDirection(), sdAscending);
    EXPECT_EQ(files(), QStringList({"a.txt", "c.txt", "b.txt"}));

    click(4);
    EXPECT_EQ(view.Directory().SortMode(), smAttributes);
    view.Directory().SetSortMode(smName);
    view.Directory().Refresh(); // listed by name and kind again: the date sort fills the dates
    click(3);
    EXPECT_EQ(view.Directory().SortMode(), smDate);
    EXPECT_EQ(files(), QStringList({"a.txt", "c.txt", "b.txt"})); // the older first
    EXPECT_EQ(view.model()->index(rowOf(view, "b.txt"), TFileListView::ColDate).data(),
              FileDateTimeText(QDate(2023, 6, 1), QTime(12, 0)));
    click(2);
    EXPECT_EQ(view.Directory().SortMode(), smType);
    expectRowsFollowModel(view);
}

class Navigation : public ViewTest {
protected:
    void SetUp() override {
        f.folder("a/b/inner");
        f.file("a/b/doc.txt");
        f.file("a/top.txt");
        show({500, 300});
        view.setFocus();
        view.Directory().SetLocation(f / "a/b");
    }
    QString loc() const { return view.Directory().Location(); }
    void select(const QString& caption) {
        const int row = rowOf(view, caption);
        ASSERT_GE(row, 0) << qPrintable(caption);
        view.SelectItem(row);
    }
    void doubleClick(const QString& caption) {
        const int row = rowOf(view, caption);
        ASSERT_GE(row, 0) << qPrintable(caption);
        const QPoint at = view.visualRect(view.model()->index(row, 0)).center();
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, at);
    }
};

TEST_F(Navigation, EnterOpensFoldersAndDotDotButNotFiles) {
    select("inner");
    pressKey(view, Qt::Key_Return);
    EXPECT_EQ(loc(), f / "a/b/inner/");
    pressKey(view, Qt::Key_Backspace);
    EXPECT_EQ(loc(), f / "a/b/");

    select("doc.txt");
    pressKey(view, Qt::Key_Return);
    EXPECT_EQ(loc(), f / "a/b/");

    select("..");
    pressKey(view, Qt::Key_Enter);
    EXPECT_EQ(loc(), f / "a/");
    EXPECT_GE(rowOf(view, "top.txt"), 0);
    EXPECT_EQ(view.ItemCaption(view.currentIndex().row()), "b") << "the folder left is current";

    view.SelectItem(-1); // current but not selected: Return acts on it all the same
    pressKey(view, Qt::Key_Return);
    EXPECT_EQ(loc(), f / "a/b/");
    view.setCurrentIndex({});
    pressKey(view, Qt::Key_Return); // no current item: nothing
    EXPECT_EQ(loc(), f / "a/b/");
}

TEST_F(Navigation, DoubleClicks) {
    doubleClick("inner");
    EXPECT_EQ(loc(), f / "a/b/inner/");
    doubleClick("..");
    EXPECT_EQ(loc(), f / "a/b/");
    doubleClick("doc.txt");
    EXPECT_EQ(loc(), f / "a/b/");

    view.Directory().SetLocation(QString());
    doubleClick("USB");
    EXPECT_EQ(loc(), usbPath() + "/");
}

TEST_F(Navigation, TheDriveListAndGoUp) {
    view.Directory().SetLocation(QString());
    pressKey(view, Qt::Key_Backspace); // nothing above the drive list
    EXPECT_EQ(loc(), "");
    EXPECT_TRUE(view.ShowingDrives());
    select("USB");
    pressKey(view, Qt::Key_Return);
    EXPECT_EQ(loc(), usbPath() + "/");
    EXPECT_FALSE(view.ShowingDrives());
}

TEST_F(Navigation, RereadsKeepTheSelectionAndGoingUpSelectsTheFolderLeft) {
    select("doc.txt");
    ASSERT_GE(view.SelectedItem(), 0);
    f.file("a/b/a_first.txt"); // sorts before doc.txt: the row number changes
    pressKey(view, Qt::Key_F5);
    EXPECT_EQ(view.ItemCaption(view.SelectedItem()), "doc.txt");
    EXPECT_EQ(view.ItemCaption(view.currentIndex().row()), "doc.txt");
    f.file("a/b/a_second.txt");
    view.Directory().Refresh(); // what the watcher calls
    EXPECT_EQ(view.ItemCaption(view.SelectedItem()), "doc.txt");
    EXPECT_GE(rowOf(view, "a_second.txt"), 0);
    expectRowsFollowModel(view);

    pressKey(view, Qt::Key_Backspace);
    EXPECT_EQ(loc(), f / "a/");
    EXPECT_EQ(view.ItemCaption(view.currentIndex().row()), "b");
    EXPECT_EQ(view.ItemCaption(view.SelectedItem()), "b");
}

TEST_F(Navigation, WantedKeys) {
    const auto wanted = [&](Qt::Key key, Qt::KeyboardModifiers mods) {
        QKeyEvent event(QEvent::ShortcutOverride, key, mods);
        event.ignore();
        QApplication::sendEvent(&view, &event);
        return event.isAccepted();
    };
    select("inner");
    EXPECT_TRUE(wanted(Qt::Key_Return, Qt::NoModifier));
    EXPECT_TRUE(wanted(Qt::Key_Enter, Qt::NoModifier));
    EXPECT_TRUE(wanted(Qt::Key_Down, Qt::ShiftModifier));
    EXPECT_TRUE(wanted(Qt::Key_PageUp, Qt::ShiftModifier));
    EXPECT_TRUE(wanted(Qt::Key_Home, Qt::ShiftModifier));
    select("doc.txt");
    EXPECT_FALSE(wanted(Qt::Key_Return, Qt::NoModifier));
    EXPECT_FALSE(wanted(Qt::Key_A, Qt::ShiftModifier));
}

TEST_F(FileListView, LocationChangeScrollsToTopAndFiresTheEvent) {
    for (int i = 0; i < 200; ++i)
        f.file(QStringLiteral("file%1.txt").arg(i, 3, 10, QLatin1Char('0')));
    show({300, 150});
    QStringList changes;
    QObject* sender = nullptr;
    view.OnDirectoryChanged = [&](QObject* s, const QString& dir) {
        sender = s;
        changes << dir;
    };
    QStringList masks;
    view.OnMaskChange = [&](QObject*, const QString& mask) { masks << mask; };

    view.Directory().SetLocation(f.path());
    QApplication::processEvents(); // the view lays its rows out
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
    ASSERT_GT(view.verticalScrollBar()->value(), 0);
    view.Directory().SetLocation(f.path() + "/");
    EXPECT_EQ(view.verticalScrollBar()->value(), 0);
    EXPECT_EQ(changes, QStringList({f.path(), f.path() + "/"})) << "the location as stored";
    EXPECT_EQ(sender, &view);

    view.Directory().SetFileMask("*9.txt");
    EXPECT_EQ(masks, QStringList({"*9.txt"}));
    EXPECT_EQ(view.ItemCount(), 1 + 20);
}

TEST_F(FileListView, LoadingRefusesUpdatesUntilLoaded) {
    f.file("x_.txt");
    f.file("y.doc");
    const int drives = view.ItemCount();
    view.BeginLoading();
    EXPECT_TRUE(view.IsLoading());
    view.Directory().SetAutoUpdate(false);
    view.Directory().SetFileMask("*_.txt");
    view.Directory().SetLocation(f.path());
    EXPECT_EQ(view.ItemCount(), drives) << "refused while loading";
    EXPECT_TRUE(view.ItemCaption(0) == "/");
    view.Loaded();
    EXPECT_FALSE(view.IsLoading());
    expectRowsFollowModel(view);
    EXPECT_GE(rowOf(view, "x_.txt"), 0);
    EXPECT_EQ(rowOf(view, "y.doc"), -1);
}

TEST_F(FileListView, DirectoryPropertyAssignsIntoTheOwnedModel) {
    f.file("p_.txt");
    f.file("q.doc");
    TDirectory source;
    source.SetFileMask("*_.txt");
    source.SetLocation(f.path());
    TDirectory* owned = &view.Directory();
    view.SetDirectory(source);
    EXPECT_EQ(&view.Directory(), owned) << "never replaced";
    EXPECT_EQ(view.Directory().Location(), source.Location());
    EXPECT_EQ(view.Directory().FileMask(), "*_.txt");
    expectRowsFollowModel(view);
    EXPECT_GE(rowOf(view, "p_.txt"), 0);
    EXPECT_EQ(rowOf(view, "q.doc"), -1);
}

TEST_F(FileListView, WaitCursorDuringEveryUpdateAndRestoredOnFailure) {
    f.file("one.txt");
    ASSERT_EQ(QApplication::overrideCursor(), nullptr);
    int seen = 0;
    view.OnFileFound = [&](QObject*, const TSearchRec&, bool&) {
        const QCursor* cursor = QApplication::overrideCursor();
        seen += cursor && cursor->shape() == Qt::WaitCursor;
    };
    view.Directory().SetLocation(f.path());
    EXPECT_GT(seen, 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    view.OnFileFound = [](QObject*, const TSearchRec& file, bool&) {
        if (file.Name == "one.txt")
            throw std::runtime_error("refused");
    };
    EXPECT_THROW(view.Directory().Refresh(), std::runtime_error);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    expectRowsFollowModel(view); // what was listed so far
}

TEST_F(FileListView, CustomDrawEventsCanReplaceTheDefault) {
    f.file("one.txt");
    view.SetViewStyle(vsReport);
    view.resize(600, 200);
    view.Directory().SetLocation(f.path());
    std::vector<TCustomDrawStage> itemStages;
    std::vector<int> subColumns;
    view.OnCustomDrawItem = [&](TFileListView* sender, int, QPainter& canvas, const QRect& rect,
                                QStyle::State, TCustomDrawStage stage, bool& defaultDraw) {
        EXPECT_EQ(sender, &view);
        itemStages.push_back(stage);
        if (stage == cdPrePaint) {
            canvas.fillRect(rect, Qt::magenta);
            defaultDraw = false;
        }
    };
    view.OnCustomDrawSubItem = [&](TFileListView*, int, int column, QPainter&, const QRect&,
                                   QStyle::State, TCustomDrawStage stage, bool&) {
        if (stage == cdPrePaint)
            subColumns.push_back(column);
    };
    const QImage image = view.grab().toImage();
    ASSERT_FALSE(itemStages.empty());
    EXPECT_EQ(itemStages.size() % 2, 0u);
    EXPECT_EQ(itemStages[0], cdPrePaint);
    EXPECT_EQ(itemStages[1], cdPostPaint);
    EXPECT_NE(std::find(subColumns.begin(), subColumns.end(), 4), subColumns.end());
    EXPECT_EQ(std::find(subColumns.begin(), subColumns.end(), 0), subColumns.end());
    // The handler's painting stays: the default drawing did not paint over it.
    const QRect cell = view.visualRect(view.model()->index(0, 0));
    const QPoint inViewport = cell.center() + view.viewport()->mapTo(&view, QPoint(0, 0));
    EXPECT_EQ(image.pixelColor(inViewport), QColor(Qt::magenta));
}

TEST_F(FileListView, ADrawHandlerMayRecolourTheDefaultDrawing) {
    f.file("recoloured_name.txt");
    view.SetViewStyle(vsReport);
    view.resize(600, 200);
    view.Directory().SetLocation(f.path());
    view.setColumnWidth(0, 200);
    view.OnCustomDrawItem = [](TFileListView*, int, QPainter& canvas, const QRect&, QStyle::State,
                               TCustomDrawStage stage, bool&) {
        if (stage == cdPrePaint)
            canvas.setPen(Qt::red); // the default drawing goes on, in red
    };
    const QImage image = view.grab().toImage();
    const int row = rowOf(view, "recoloured_name.txt");
    const QRect cell = view.visualRect(view.model()->index(row, 0))
                           .translated(view.viewport()->mapTo(&view, QPoint(0, 0)));
    int red = 0;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left() + view.IconProvider()->Width(); x <= cell.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            red += c.red() > 150 && c.green() < 100 && c.blue() < 100;
        }
    EXPECT_GT(red, 10);
}
