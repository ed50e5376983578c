#pragma once
// The file list's delegate: paints every cell from the model's data for it, through the view's
// draw events, and runs the in-place editor of the names.
#include <QStyledItemDelegate>

class TFileListView;

class TFileListItemEditor : public QStyledItemDelegate {
public:
    explicit TFileListItemEditor(TFileListView* view);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void destroyEditor(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex&) const override;

private:
    struct Colours {
        QPalette::ColorGroup group;
        QBrush brush;
        QColor text;
    };
    Colours ColoursFor(QStyle::State state) const;
    void PaintCell(QPainter& canvas, const QStyleOptionViewItem& option,
                   const QModelIndex& index) const;
    void PaintName(QPainter& canvas, const QStyleOptionViewItem& option,
                   const QModelIndex& index) const;
    void PaintSubItem(QPainter& canvas, const QStyleOptionViewItem& option,
                      const QModelIndex& index, const Colours& colours) const;

    TFileListView* view_;
    mutable int editingRow_ = -1; // the row under the in-place editor, whose name is not drawn
};
