// The tree as the user sees it, grabbed offscreen into artifacts/treeview.png.
#include "TreeTestSupport.h"

#include <QImage>
#include <QPixmap>

namespace {

using Rendering = TreeTest;

TEST_F(Rendering, DrawsIconsCaptionsAndTheSelection) {
    addVolume("Archive", "Archive");
    addVolume("Документы");
    for (const char* dir :
         {"Документы/Законы/2024", "Документы/Законы/2025", "Документы/Приказы",
          "Документы/Отчёты за первое полугодие с приложениями", "Документы/Справки"})
        mkdirs(QString::fromUtf8(dir));
    makeTree({260, 300});
    tree->SetDirectory(path(QString::fromUtf8("Документы/Законы/2025")));
    tree->expand(tree->IndexOf(rootFor(path("Archive"))));
    tree->setFocus();
    QTest::qWait(20);

    const QPixmap shot = tree->grab();
    const QString dir =
        qEnvironmentVariable("DOCINDEX_BINARY_DIR", QDir::tempPath()) + "/artifacts";
    ASSERT_TRUE(QDir().mkpath(dir));
    ASSERT_TRUE(shot.save(dir + "/treeview.png"));

    // The selected row is painted in the highlight colour, the others on the base colour.
    const QImage image = shot.toImage();
    const QRect selected = tree->visualRect(tree->IndexOf(tree->Selected()));
    const QPoint inViewport = tree->viewport()->mapTo(tree.get(), selected.topLeft());
    const QColor highlight = tree->palette().color(QPalette::Active, QPalette::Highlight);
    const int dx = qMin(selected.left() + 150, tree->viewport()->width() - 4) - selected.left();
    const QRgb inside = image.pixel(inViewport.x() + dx, inViewport.y() + 1);
    EXPECT_EQ(QColor(inside).rgb(), highlight.rgb());
    // Something is drawn in the row of every node (icon or caption), not just the background.
    const QColor background = tree->palette().color(QPalette::Active, QPalette::Base);
    for (int i = 0; i < tree->RootCount(); ++i) {
        const QRect r = tree->visualRect(tree->IndexOf(tree->Root(i)));
        const QPoint p = tree->viewport()->mapTo(tree.get(), r.topLeft());
        int ink = 0;
        for (int x = p.x(); x < p.x() + qMin(r.width(), 120); ++x)
            for (int y = p.y(); y < p.y() + r.height(); ++y)
                ink += QColor(image.pixel(x, y)).rgb() != background.rgb();
        EXPECT_GT(ink, 20) << i;
        // The icon drawn is the one the model answers, and the node keeps it.
        const QVariant icon = tree->IndexOf(tree->Root(i)).data(TDirectoryTreeView::ImageIndexRole);
        EXPECT_EQ(icon.toInt(), tree->Root(i)->ImageIndex()) << i;
        EXPECT_GE(icon.toInt(), 0) << i;
    }
}

} // namespace
