#include "filectrls/FileListModel.h"

#include "base/ApplicationException.h"
#include "base/ResourceStrings.h"
#include "filectrls/FileIconProvider.h"
#include "filectrls/FileListCells.h"
#include "platform/FsString.h"

#include <utility>

TFileListModel::TFileListModel(QObject* parent, const TDirectory& listing, TFileIconProvider* icons,
                               Actions actions)
    : QAbstractTableModel(parent), listing_(listing), icons_(icons), actions_(std::move(actions)) {
    captions_ = {rs::text(rs::SName), rs::text(rs::SSize), rs::text(rs::SType),
                 rs::text(rs::SDateModified), rs::text(rs::SAttributes)};
}

QString TFileListModel::Caption(const Item& item) {
    return item.caption.isNull() && item.data ? platform::fromFsBytes(item.data->Name)
                                              : item.caption;
}

TFileInfo* TFileListModel::Entry(int row) const {
    if (row < 0 || size_t(row) >= items.size())
        return nullptr;
    TFileInfo* entry = items[size_t(row)].data;
    if (entry)
        listing_.DescribeEntry(entry);
    return entry;
}

QVariant TFileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || size_t(index.row()) >= items.size())
        return {};
    const Item& item = items[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return index.column() == 0
                   ? platform::displayName(Caption(item))
                   : FileListCellText(Entry(index.row()), index.column(), showingDrives_);
    case Qt::EditRole:
        return index.column() == 0 ? QVariant(Caption(item)) : QVariant();
    case Qt::TextAlignmentRole:
        return alignment(index.column());
    case Qt::ToolTipRole:
        Entry(index.row());
        return hint(item);
    case TFileListView::EntryNameRole:
        // Column 0 draws the entry's name, which a caption typed in the editor may not be.
        return item.data ? platform::displayName(platform::fromFsBytes(item.data->Name))
                         : QString();
    case TFileListView::ImageIndexRole:
        // Looked up when first asked (painting); the provider caches it in the entry. The
        // kind and the name are all it goes by.
        item.imageIndex = icons_->IconIndexOf(item.data, location_);
        return item.imageIndex;
    default:
        return {};
    }
}

QVariant TFileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= int(captions_.size()))
        return {};
    if (role == Qt::DisplayRole)
        return captions_[size_t(section)];
    if (role == Qt::TextAlignmentRole)
        return alignment(section);
    return {};
}

Qt::ItemFlags TFileListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == 0 && actions_.canEdit(index.row()))
        result |= Qt::ItemIsEditable;
    return result;
}

bool TFileListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || index.column() != 0 || size_t(index.row()) >= items.size())
        return false;
    runGuarded([&] { actions_.edited(index.row(), value.toString()); });
    return true;
}

void TFileListModel::setCaption(int column, const QString& caption) {
    if (captions_[size_t(column)] == caption)
        return;
    captions_[size_t(column)] = caption;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

// The entry's details (type, date or free space, size), after a note on a name that is not
// UTF-8; empty without an entry.
QString TFileListModel::hint(const Item& item) const {
    const TFileInfo* entry = item.data;
    if (!entry)
        return {};
    QStringList lines;
    if (platform::hasForeignBytes(Caption(item)))
        lines << NotUtf8NameHint();
    const auto line = [](const char* label, const QString& value) {
        return rs::text(label) + QStringLiteral(": ") + value;
    };
    lines << line(rs::SType, FileTypeTextProc(*item.data));
    if (entry->Attr & faVolumeID) {
        lines << line(rs::SFreeSpace, FileMegaBytesText(entry->Time));
        lines << line(rs::SSize, FileMegaBytesText(entry->Size));
    } else {
        lines << line(rs::SDateModified, FileDateText(entry->Time));
        lines << line(rs::SSize, QString::number(entry->Size));
    }
    return lines.join(u'\n');
}
