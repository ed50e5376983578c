// The text painter, the error box, hints, and what the view shows on screen.
#include "ListViewSupport.h"
#include "support/Wait.h"

#include "filectrls/FileIconProvider.h"

#include <QApplication>
#include <QDir>
#include <QFontDatabase>
#include <QHelpEvent>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QTextBoundaryFinder>
#include <QTimer>
#include <QToolTip>

using namespace lvtest;

namespace {

// The painter's rule one character at a time: grow the prefix while prefix + "..." fits,
// then drop the character that did not fit.
QString elidedOneByOne(const QFontMetrics& fm, const QString& text, int width) {
    if (fm.horizontalAdvance(text) <= width)
        return text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0, previous = 0;
    while (fm.horizontalAdvance(text.left(end) + "...") <= width && end < text.size()) {
        previous = end;
        end = finder.toNextBoundary();
    }
    return text.left(previous) + "...";
}

QFont fixedFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(12);
    return font;
}

} // namespace

TEST(DrawItemText, LongestFittingPrefixOfWholeCharacters) {
    const QFontMetrics fm(fixedFont());
    const QString name = QStringLiteral("a_long_document_name_.txt");
    const int full = fm.horizontalAdvance(name);
    const int dots = fm.horizontalAdvance("...");
    struct Case {
        QString text;
        int width;
    } cases[] = {
        {name, full},
        {name, full + 10},
        {name, full - 1},
        {name, full / 2},
        {name, dots + fm.horizontalAdvance("a")},
        {name, dots},
        {name, dots - 1},
        {name, 0},
        {name, -5},
        {"", 0},
        // Combining accents and a character outside the basic plane are never split.
        {QString::fromUtf8("e\xcc\x81"
                           "e\xcc\x81"
                           "e\xcc\x81"
                           "e\xcc\x81"
                           "e\xcc\x81"),
         dots + 3},
        {QString::fromUtf8("\xf0\x9f\x93\x84\xf0\x9f\x93\x84\xf0\x9f\x93\x84"), dots + 4},
        {QString::fromUtf8("Документ_номер_сорок_два_.txt"), full / 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(qPrintable(c.text + " @" + QString::number(c.width)));
        const QString result = ElidedItemText(fm, c.text, c.width);
        EXPECT_EQ(result, elidedOneByOne(fm, c.text, c.width));
        if (fm.horizontalAdvance(c.text) <= c.width) {
            EXPECT_EQ(result, c.text);
        } else {
            EXPECT_TRUE(result.endsWith("..."));
            const QString prefix = result.chopped(3);
            EXPECT_TRUE(c.text.startsWith(prefix));
            if (!prefix.isEmpty()) {
                EXPECT_LE(fm.horizontalAdvance(result), c.width);
            }
            // A lone surrogate or accent means a character was split.
            if (!prefix.isEmpty()) {
                EXPECT_FALSE(prefix.back().isHighSurrogate());
                QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, c.text);
                finder.setPosition(prefix.size());
                EXPECT_TRUE(finder.isAtBoundary());
            }
        }
    }
    EXPECT_EQ(ElidedItemText(fm, name, dots - 1), "...") << "nothing fits: the dots alone";
    EXPECT_EQ(ElidedItemText(fm, name, 0), "...");
}

TEST(DrawItemText, DrawsTheCutTextAligned) {
    QImage left(200, 20, QImage::Format_ARGB32), right(200, 20, QImage::Format_ARGB32);
    for (QImage* image : {&left, &right}) {
        image->fill(Qt::white);
        QPainter painter(image);
        painter.setFont(fixedFont());
        painter.setPen(Qt::black);
        DrawItemText(painter, QRect(0, 0, 200, 20), "abc", false, image == &left);
    }
    const auto inkColumns = [](const QImage& image) {
        int first = -1, last = -1;
        for (int x = 0; x < image.width(); ++x)
            for (int y = 0; y < image.height(); ++y)
                if (qGray(image.pixel(x, y)) < 128) {
                    if (first < 0)
                        first = x;
                    last = x;
                }
        return std::pair(first, last);
    };
    EXPECT_LT(inkColumns(left).first, 10);
    EXPECT_GT(inkColumns(right).second, 190);
}

TEST(ShowErrorMessage, ModalCriticalBoxTitledErrorWithOk) {
    // The real box: closed by a timer once it is up.
    setShowErrorMessageFunction(nullptr);
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttons = box->standardButtons();
            box->button(QMessageBox::Ok)->click();
        }
    });
    closer.start();
    ShowErrorMessage("Something refused");
    closer.stop();
    EXPECT_EQ(title, "Error");
    EXPECT_EQ(text, "Something refused");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

TEST(ShowErrorMessage, TheBoxFunctionIsReplaceable) {
    static QStringList seen;
    const auto previous = setShowErrorMessageFunction([](const QString& t) { seen << t; });
    ShowErrorMessage("one");
    EXPECT_EQ(seen, QStringList({"one"}));
    const auto mine = setShowErrorMessageFunction(previous);
    EXPECT_NE(mine, nullptr);
    seen.clear();
}

class Hints : public ViewTest {
protected:
    void SetUp() override {
        f.folder("sub");
        f.file("short.txt", 5);
        f.file(QString(60, u'x') + ".txt", 7);
        show({700, 300}, vsReport);
        view.Directory().SetLocation(f.path());
        view.setColumnWidth(0, 200); // the list style sized it to the drive names
        QApplication::processEvents();
    }
    QString date(const QString& caption) const {
        return FileDateText(view.ItemData(rowOf(view, caption))->Time);
    }
};

TEST_F(Hints, TheFourFormats) {
    const QString longName = QString(60, u'x') + ".txt";
    EXPECT_EQ(view.HintText(rowOf(view, "short.txt")),
              "Type: File\nDate Modified: " + date("short.txt") + "\nSize: 5");
    EXPECT_EQ(view.HintText(rowOf(view, longName)),
              longName + "\nType: File\nDate Modified: " + date(longName) + "\nSize: 7");
    EXPECT_EQ(view.HintText(rowOf(view, "sub")),
              "Type: Directory\nDate Modified: " + date("sub") + "\nSize: 0");

    view.Directory().SetLocation(QString());
    EXPECT_EQ(view.HintText(rowOf(view, "USB")),
              "Type: Volume\nFree Space: 1234 MB\nSize: 9540 MB");
    view.setColumnWidth(0, 20);
    EXPECT_EQ(view.HintText(rowOf(view, "USB")),
              "USB\nType: Volume\nFree Space: 1234 MB\nSize: 9540 MB");
    EXPECT_EQ(view.HintText(99), "");
}

TEST_F(Hints, ShownForTheItemUnderTheMouse) {
    const int row = rowOf(view, "short.txt");
    const QPoint at = view.visualRect(view.model()->index(row, 0)).center();
    QHelpEvent event(QEvent::ToolTip, at, view.viewport()->mapToGlobal(at));
    QApplication::sendEvent(view.viewport(), &event);
    EXPECT_TRUE(waitFor([&] { return QToolTip::text() == view.HintText(row); }))
        << qPrintable(QToolTip::text());
    QToolTip::hideText();

    // Below the last item: the view's own hint.
    view.setToolTip("the files");
    const QPoint below(10, view.viewport()->height() - 2);
    QHelpEvent empty(QEvent::ToolTip, below, view.viewport()->mapToGlobal(below));
    QApplication::sendEvent(view.viewport(), &empty);
    EXPECT_TRUE(waitFor([&] { return QToolTip::text() == "the files"; }))
        << qPrintable(QToolTip::text());
    QToolTip::hideText();
}

// Grabs the view offscreen, checks that icons and a cut caption are drawn, and keeps the
// picture as a test artifact.
class Rendering : public ViewTest {};

TEST_F(Rendering, IconsAndCutCaptionsOnScreen) {
    f.folder("Documents");
    f.folder(".hidden-folder");
    f.file("report_.txt", 1234);
    f.file("a_document_with_a_name_far_too_long_for_its_column_.txt", 987654);
    f.file("notes", 42);
    show({640, 200}, vsReport);
    view.Directory().SetLocation(f.path());
    view.setColumnWidth(0, 160);
    view.SelectItem(rowOf(view, "report_.txt"));
    view.setFocus();
    QApplication::processEvents();

    const QImage shot = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    // The build folder (DOCINDEX_BINARY_DIR, else the one Qt Test records at compile time).
    QString build = qEnvironmentVariable("DOCINDEX_BINARY_DIR");
#ifdef QT_TESTCASE_BUILDDIR
    if (build.isEmpty())
        build = QStringLiteral(QT_TESTCASE_BUILDDIR "/..");
#endif
    if (build.isEmpty())
        build = QDir::tempPath();
    const QString dir = QDir::cleanPath(build + QStringLiteral("/artifacts"));
    QDir().mkpath(dir);
    EXPECT_TRUE(shot.save(dir + QStringLiteral("/listview.png")));

    const QPoint offset = view.viewport()->mapTo(&view, QPoint(0, 0));
    TFileIconProvider* icons = view.IconProvider();
    // Every row's icon is drawn where the image index says.
    for (int row = 0; row < view.ItemCount(); ++row) {
        SCOPED_TRACE(qPrintable(view.ItemCaption(row)));
        const QRect cell = view.visualRect(view.model()->index(row, 0)).translated(offset);
        const int index = view.ItemImageIndex(row);
        ASSERT_GE(index, 0);
        const QImage expected = icons->Image(index).toImage();
        const int top = cell.top() + (cell.height() - icons->Height()) / 2;
        int differing = 0, opaque = 0;
        for (int y = 0; y < expected.height(); ++y)
            for (int x = 0; x < expected.width(); ++x) {
                const QRgb want = expected.pixel(x, y);
                if (qAlpha(want) < 255)
                    continue;
                ++opaque;
                differing += shot.pixel(cell.left() + x, top + y) != (want | 0xFF000000);
            }
        EXPECT_GT(opaque, 0);
        EXPECT_EQ(differing, 0);
    }

    // The long name is cut: the text area shows exactly its prefix and "...".
    const int row = rowOf(view, "a_document_with_a_name_far_too_long_for_its_column_.txt");
    const QRect cell = view.visualRect(view.model()->index(row, 0)).translated(offset);
    QRect textRect = cell;
    textRect.setTop(cell.top() + (cell.height() - icons->Height()) / 2);
    textRect.setLeft(cell.left() + icons->Width() + 2);
    const QString cut = ElidedItemText(view.fontMetrics(), view.ItemCaption(row), textRect.width());
    EXPECT_TRUE(cut.endsWith("..."));
    EXPECT_LT(cut.size(), view.ItemCaption(row).size());
    QImage reference(shot.size(), QImage::Format_RGB32);
    reference.fill(view.palette().color(QPalette::Inactive, QPalette::Base));
    {
        QPainter painter(&reference);
        painter.setFont(view.font());
        painter.setPen(view.palette().color(QPalette::Inactive, QPalette::Text));
        painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, cut);
    }
    const QImage want = reference.copy(textRect);
    const QImage got = shot.copy(textRect);
    int inkWant = 0, mismatched = 0;
    for (int y = 0; y < want.height(); ++y)
        for (int x = 0; x < want.width(); ++x) {
            inkWant += want.pixel(x, y) != reference.pixel(0, 0);
            mismatched += qAbs(qGray(want.pixel(x, y)) - qGray(got.pixel(x, y))) > 40;
        }
    EXPECT_GT(inkWant, 20) << "the reference shows text";
    EXPECT_LE(mismatched, inkWant / 20) << "the cell shows the cut caption";
}
