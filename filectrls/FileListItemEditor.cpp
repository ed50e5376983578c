#include "filectrls/FileListItemEditor.h"

#include "base/ApplicationException.h"
#include "filectrls/DrawItemText.h"
#include "filectrls/FileIconProvider.h"
#include "filectrls/FileListView.h"

#include <QLineEdit>
#include <QPainter>

TFileListItemEditor::TFileListItemEditor(TFileListView* view)
    : QStyledItemDelegate(view), view_(view) {}

void TFileListItemEditor::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    runGuarded([&] { PaintCell(*painter, option, index); });
}

QSize TFileListItemEditor::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    const int icon = view_->IconProvider() ? view_->IconProvider()->Height() : 16;
    return {option.rect.width(), qMax(option.fontMetrics.height(), icon) + 2};
}

QWidget* TFileListItemEditor::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                           const QModelIndex& index) const {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    editingRow_ = index.row();
    return editor;
}

void TFileListItemEditor::destroyEditor(QWidget* editor, const QModelIndex& index) const {
    editingRow_ = -1;
    QStyledItemDelegate::destroyEditor(editor, index);
}

void TFileListItemEditor::setModelData(QWidget* editor, QAbstractItemModel* model,
                                       const QModelIndex& index) const {
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (!line)
        return;
    QString text = line->text();
    text.remove(u'\n');
    // An empty text counts as a cancel.
    if (text.isEmpty())
        return;
    model->setData(index, text, Qt::EditRole);
}

void TFileListItemEditor::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                               const QModelIndex&) const {
    // The editor covers the name, not the icon.
    QRect rect = option.rect;
    rect.setLeft(rect.left() + SystemIconWidth(iscSmall));
    editor->setGeometry(rect);
}

TFileListItemEditor::Colours TFileListItemEditor::ColoursFor(QStyle::State state) const {
    const QPalette::ColorGroup group = !(state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (state & QStyle::State_Active) ? QPalette::Active
                                                                        : QPalette::Inactive;
    const bool selected = state & QStyle::State_Selected;
    const QPalette& palette = view_->palette();
    return {group, palette.brush(group, selected ? QPalette::Highlight : QPalette::Base),
            palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text)};
}

void TFileListItemEditor::PaintCell(QPainter& canvas, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    if (!index.isValid() || index.column() >= TFileListView::ColumnCount)
        return;
    canvas.save();
    canvas.setFont(view_->font());
    const Colours colours = ColoursFor(option.state);
    // What a handler of the draw events finds on the canvas: the item's brush and text colour.
    canvas.setBrush(colours.brush);
    canvas.setPen(colours.text);
    if (index.column() == 0)
        PaintName(canvas, option, index);
    else
        PaintSubItem(canvas, option, index, colours);
    canvas.restore();
}

void TFileListItemEditor::PaintName(QPainter& canvas, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    const int item = index.row();
    const QRect cell = option.rect;
    bool defaultDraw = true;
    if (view_->OnCustomDrawItem)
        view_->OnCustomDrawItem(view_, item, canvas, cell, option.state, cdPrePaint, defaultDraw);
    if (defaultDraw) {
        TFileIconProvider& icons = *view_->IconProvider();
        QRect r = cell;
        canvas.fillRect(r, canvas.brush()); // a handler may have changed brush and pen
        r.setTop(r.top() + (r.height() - icons.Height()) / 2);
        icons.Draw(canvas, r.left(), r.top(), index.data(TFileListView::ImageIndexRole).toInt());
        r.setLeft(r.left() + icons.Width() + 2);
        const QString name = index.data(TFileListView::EntryNameRole).toString();
        if (!name.isEmpty() && item != editingRow_)
            DrawItemText(canvas, r, name, false, true);
        if ((option.state & QStyle::State_HasFocus) && item == view_->currentIndex().row()) {
            // The keyboard's place: a dotted frame, which leaves icon and name readable.
            canvas.setPen(QPen(canvas.pen().color(), 1, Qt::DotLine));
            canvas.setBrush(Qt::NoBrush);
            canvas.drawRect(cell.adjusted(0, 0, -1, -1));
        }
    }
    if (view_->OnCustomDrawItem)
        view_->OnCustomDrawItem(view_, item, canvas, cell, option.state, cdPostPaint, defaultDraw);
}

void TFileListItemEditor::PaintSubItem(QPainter& canvas, const QStyleOptionViewItem& option,
                                       const QModelIndex& index, const Colours& colours) const {
    const int item = index.row(), column = index.column();
    const QRect cell = option.rect;
    bool defaultDraw = true;
    if (view_->OnCustomDrawSubItem)
        view_->OnCustomDrawSubItem(view_, item, column, canvas, cell, option.state, cdPrePaint,
                                   defaultDraw);
    if (defaultDraw) {
        if (!view_->RowSelect()) { // only column 0 shows the selection
            canvas.setBrush(view_->palette().brush(colours.group, QPalette::Base));
            canvas.setPen(view_->palette().color(colours.group, QPalette::Text));
        }
        const QRect r = cell.adjusted(3, 0, -3, 0);
        const bool leftAlign = !(index.data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight);
        canvas.fillRect(cell, canvas.brush());
        DrawItemText(canvas, r, index.data(Qt::DisplayRole).toString(), false, leftAlign);
    }
    if (view_->OnCustomDrawSubItem)
        view_->OnCustomDrawSubItem(view_, item, column, canvas, cell, option.state, cdPostPaint,
                                   defaultDraw);
}
