#pragma once
// The file list's table model over the listing: one row per item; an item holds exactly its
// entry, its caption and its image index. The model answers everything a cell shows (texts,
// icon, hint); the view only asks it. What the model cannot decide alone (whether a row may be
// edited, what an edit does) the view hands it at construction.
#include "filectrls/FileListView.h"

#include <QAbstractTableModel>

#include <array>
#include <functional>
#include <vector>

class TFileIconProvider;

class TFileListModel : public QAbstractTableModel {
public:
    struct Item {
        // As listed: name and kind; the rest is filled when a cell or hint needs it (Entry).
        TFileInfo* data = nullptr;
        // Null while the caption is the entry's name (the usual case: no string per row, made
        // when shown); the text the item keeps after an edit otherwise.
        QString caption;
        mutable int imageIndex = 0; // cached when the model is asked for the icon
    };
    struct Actions {
        std::function<bool(int row)> canEdit;
        std::function<void(int row, const QString& text)> edited;
    };

    // `listing` is the view's listing model, which the items' entries belong to.
    TFileListModel(QObject* parent, const TDirectory& listing, TFileIconProvider* icons,
                   Actions actions);

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(items.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : TFileListView::ColumnCount;
    }
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    void setCaption(int column, const QString& caption);

    // The listing the rows come from: the drive list (empty location) or a folder, which is
    // also where the icons' files are.
    bool ShowingDrives() const { return showingDrives_; }
    void setShowingDrives(bool value) { showingDrives_ = value; }
    const QString& location() const { return location_; }
    void setLocation(const QString& location) {
        location_ = location;
        showingDrives_ = location.isEmpty();
    }

    void beginUpdate() {
        beginResetModel();
        items.clear();
    }
    void endUpdate() { endResetModel(); }
    void itemChanged(int row) {
        emit dataChanged(index(row, 0), index(row, TFileListView::ColumnCount - 1));
    }
    void removeItem(int row) {
        beginRemoveRows({}, row, row);
        items.erase(items.begin() + row);
        endRemoveRows();
    }

    std::vector<Item> items;

    // The caption an item shows.
    static QString Caption(const Item& item);

    // The row's entry with every field filled (the listing described it by kind alone);
    // nullptr outside the rows or for a row without an entry.
    TFileInfo* Entry(int row) const;

private:
    static QVariant alignment(int column) {
        return int(column == TFileListView::ColSize ? Qt::AlignRight | Qt::AlignVCenter
                                                    : Qt::AlignLeft | Qt::AlignVCenter);
    }
    QString hint(const Item& item) const;

    const TDirectory& listing_;
    TFileIconProvider* icons_; // shared, not owned
    Actions actions_;
    QString location_; // of the last listing; null before the first
    bool showingDrives_ = false;
    std::array<QString, TFileListView::ColumnCount> captions_;
};
