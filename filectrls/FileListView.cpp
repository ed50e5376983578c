#include "filectrls/FileListView.h"

#include "base/ApplicationException.h"
#include "base/ResourceStrings.h"
#include "filectrls/DrawItemText.h"
#include "filectrls/FileIconProvider.h"
#include "filectrls/FileListCaptionWidths.h"
#include "filectrls/FileListCells.h"
#include "filectrls/FileListItemEditor.h"
#include "filectrls/FileListModel.h"
#include "filectrls/LayoutLoading.h"
#include "platform/FsString.h"
#include "platform/Paths.h"

#include <QApplication>
#include <QDateTime>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>

#include <array>
#include <memory>
#include <utility>
#include <vector>

namespace {

bool sameFolder(QByteArrayView a, QByteArrayView b) {
    const auto bare = [](QByteArrayView p) {
        return p.size() > 1 && p.endsWith('/') ? p.chopped(1) : p;
    };
    return bare(a) == bare(b);
}

// What names an item across re-reads: a drive its root path (its Name is its label), anything
// else its name.
QByteArray itemKey(const TFileInfo* entry) {
    if (!entry)
        return {};
    return OwnedName((entry->Attr & faVolumeID) ? entry->FindName() : entry->Name);
}

} // namespace

// --- the view ------------------------------------------------------------------------------

TFileListView::TFileListView(QWidget* parent)
    : QTreeView(parent), directory_(std::make_unique<TDirectory>(this)) {
    loading_ = TLayoutLoading::Active();
    iconProvider_ = WindowsIconProvider();
    model_ = new TFileListModel(this, *directory_, iconProvider_,
                                {[this](int row) { return CanEdit(row); },
                                 [this](int row, const QString& text) { ItemEdited(row, text); }});
    editor_ = new TFileListItemEditor(this);
    setModel(model_);
    setItemDelegate(editor_);

    setRootIsDecorated(false);
    setItemsExpandable(false);
    setIndentation(0);
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAllColumnsShowFocus(false);
    header()->setStretchLastSection(false);
    connect(header(), &QHeaderView::sectionClicked, this,
            [this](int column) { runGuarded([&] { ColumnClick(column); }); });
    setHeaderHidden(viewStyle_ == vsList);

    // What the toolkit does when its widget is created: in Qt, now. The model orders the
    // rows; the view never sorts.
    setSortingEnabled(false);
    header()->setSectionsClickable(true); // after the sorting switch, which resets it
    CreateColumns();
    if (!loading_)
        directory_->UpdateListing(true);
}

TFileListView::~TFileListView() {
    // The model (and its watcher) goes first, while the view it reports to still exists.
    directory_.reset();
}

void TFileListView::CreateColumns() {
    const QFontMetrics metrics(font());
    const int extra = metrics.horizontalAdvance(QStringLiteral("A"));
    const QDateTime now = QDateTime::currentDateTime();
    const std::array<int, ColumnCount> widths = {
        150,
        metrics.horizontalAdvance(QStringLiteral("0000000")),
        metrics.horizontalAdvance(rs::text(rs::SDirectory)),
        metrics.horizontalAdvance(FileDateTimeText(now.date(), now.time())),
        metrics.horizontalAdvance(rs::text(rs::SAttributes)),
    };
    for (int column = 0; column < ColumnCount; ++column)
        header()->resizeSection(column, widths[size_t(column)] + extra);
}

void TFileListView::SetDirectory(const TDirectory& source) {
    directory_->Assign(source);
}

void TFileListView::SetReadOnly(bool value) {
    readOnly_ = value;
    setEditTriggers(value ? QAbstractItemView::NoEditTriggers
                          : QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
}

void TFileListView::SetRowSelect(bool value) {
    rowSelect_ = value;
    viewport()->update();
}

void TFileListView::SetViewStyle(TViewStyle value) {
    viewStyle_ = value;
    setHeaderHidden(value == vsList);
    if (value == vsReport)
        model_->setCaption(ColDate, rs::text(ShowingDrives() ? rs::SFreeSpace : rs::SDateModified));
}

void TFileListView::Loaded() {
    loading_ = false;
    directory_->UpdateListing(true);
}

bool TFileListView::ShowingDrives() const {
    return model_->ShowingDrives();
}

int TFileListView::ItemCount() const {
    return int(model_->items.size());
}

QString TFileListView::ItemCaption(int item) const {
    return item >= 0 && item < ItemCount() ? TFileListModel::Caption(model_->items[size_t(item)])
                                           : QString();
}

TFileInfo* TFileListView::ItemData(int item) const {
    return model_->Entry(item);
}

const TFileInfo* TFileListView::ListedItem(int item) const {
    return ListedData(item);
}

TFileInfo* TFileListView::ListedData(int item) const {
    return item >= 0 && item < ItemCount() ? model_->items[size_t(item)].data : nullptr;
}

int TFileListView::ItemImageIndex(int item) const {
    return item >= 0 && item < ItemCount() ? model_->items[size_t(item)].imageIndex : -1;
}

int TFileListView::SelectedItem() const {
    const QModelIndexList rows = selectionModel()->selectedRows(0);
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TFileListView::SelectItem(int item) {
    if (item < 0 || item >= ItemCount()) {
        selectionModel()->clearSelection();
        return;
    }
    const QModelIndex index = model_->index(item, 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
}

int TFileListView::ImageWidth() const {
    return iconProvider_ ? iconProvider_->Width() : 0;
}

// --- listing updates -----------------------------------------------------------------------

bool TFileListView::EntryFound(const TSearchRec& file) {
    bool canAdd = true;
    if (OnFileFound)
        OnFileFound(this, file, canAdd);
    return canAdd;
}

bool TFileListView::ListingStarting() {
    model_->setShowingDrives(directory_->Location().isEmpty());
    if (loading_)
        return false;
    if (updating_) // an update that never ended: close it before the next one
        ListingEnded();
    updating_ = true;
    ++generation_;
    // Names, since the rows are about to be rebuilt.
    const TFileInfo* current = ListedData(currentIndex().row());
    const TFileInfo* selected = ListedData(SelectedItem());
    keptCurrent_ = itemKey(current);
    keptSelected_ = itemKey(selected);
    model_->beginUpdate();
    QToolTip::hideText();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    cursorSaved_ = true;
    return true;
}

void TFileListView::ListingEnded() {
    const bool reread =
        !model_->location().isNull() && model_->location() == directory_->Location();
    FinishListing();
    if (reread)
        RestoreCurrentItem();
    else if (!revisit_.isEmpty())
        SelectByName(revisit_, revisit_);
    revisit_.clear();
    if (reread)
        emit folderReread();
}

int TFileListView::ItemNamed(const QByteArray& name) const {
    for (int i = 0; i < ItemCount(); ++i) {
        const TFileInfo* entry = ListedData(i);
        if (!entry)
            continue;
        if (sameFolder(itemKey(entry), name))
            return i;
    }
    return -1;
}

void TFileListView::SelectByName(const QByteArray& current, const QByteArray& selected) {
    const int currentRow = ItemNamed(current);
    if (currentRow >= 0)
        selectionModel()->setCurrentIndex(model_->index(currentRow, 0),
                                          QItemSelectionModel::NoUpdate);
    const int selectedRow = ItemNamed(selected);
    if (selectedRow >= 0)
        selectionModel()->select(model_->index(selectedRow, 0),
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (currentRow >= 0)
        scrollTo(model_->index(currentRow, 0));
}

// A re-read of the same folder (the watcher, F5) keeps the user's place, by name.
void TFileListView::RestoreCurrentItem() {
    SelectByName(keptCurrent_, keptSelected_);
}

void TFileListView::FinishListing() {
    // Also when building the rows fails: the cursor comes back and the update ends.
    const auto finally = qScopeGuard([this] {
        if (std::exchange(cursorSaved_, false))
            QApplication::restoreOverrideCursor();
        if (std::exchange(updating_, false))
            model_->endUpdate();
    });

    model_->setLocation(directory_->Location());
    if (!updating_) { // an update this view never started: rebuild all the same
        updating_ = true;
        model_->beginUpdate();
    }
    const int count = directory_->Count();
    std::vector<TFileListModel::Item>& items = model_->items;
    items.reserve(size_t(count));
    const bool list = viewStyle_ == vsList;
    for (int i = 0; i < count; ++i)
        items.push_back({directory_->ListedRecord(i), QString(), 0});
    if (list)
        header()->resizeSection(header()->logicalIndex(0),
                                ImageWidth() + widestCaption(font(), items) + 3);
    else
        model_->setCaption(ColDate, rs::text(ShowingDrives() ? rs::SFreeSpace : rs::SDateModified));
}

void TFileListView::LocationChanged(const QString& newLocation) {
    if (ItemCount() > 0)
        verticalScrollBar()->setValue(verticalScrollBar()->minimum());
    if (OnDirectoryChanged)
        OnDirectoryChanged(this, newLocation);
}

void TFileListView::MaskChanged(const QString& newMask) {
    if (OnMaskChange)
        OnMaskChange(this, newMask);
}

// --- sorting and navigation ----------------------------------------------------------------

void TFileListView::ColumnClick(int column) {
    const auto mode = TSortMode(column + 1); // the column's tag + 1
    if (directory_->SortMode() == mode)
        directory_->SetSortDirection(directory_->SortDirection() == sdAscending ? sdDescending
                                                                                : sdAscending);
    else
        directory_->SetSortMode(mode);
}

void TFileListView::GoUp() {
    const QString location = directory_->Location();
    if (location.isEmpty())
        return;
    const QString target =
        IsDriveRoot(location)
            ? QString()
            : NormalizeLocation(platform::withTrailingSlash(location) + QStringLiteral(".."));
    if (target != location) {
        // The folder just left becomes the current item of its parent (a drive, of the list).
        QString left = location;
        if (left.endsWith(u'/') && left.size() > 1)
            left.chop(1);
        revisit_ = platform::toFsBytes(
            IsDriveRoot(location) ? location : left.mid(left.lastIndexOf(u'/') + 1));
        directory_->SetLocation(target);
    }
}

void TFileListView::OpenSelected() {
    OpenItem(SelectedItem());
}

void TFileListView::OpenItem(int item) {
    TFileInfo* entry = ListedData(item);
    if (!entry)
        return;
    if (entry->Attr & faDirectory) {
        // The doubled delimiter and ".." are folded by the model's normalization.
        const QString target = directory_->Location() + u'/' + ItemCaption(item);
        directory_->SetLocation(target);
    } else if (entry->Attr & faVolumeID) {
        const QString target = platform::fromFsBytes(entry->FindName());
        directory_->SetLocation(target);
    }
}

bool TFileListView::CurrentIsFolder() const {
    const TFileInfo* entry = ListedData(currentIndex().row());
    return entry && (entry->Attr & faDirectory);
}

void TFileListView::Enter(int item) {
    const TFileInfo* entry = ListedData(item);
    // ".." goes up as Backspace does, so that the folder left becomes the current item.
    if (entry && (entry->Attr & faDirectory) && ItemCaption(item) == QLatin1String(".."))
        GoUp();
    else
        OpenItem(item);
}

bool TFileListView::WantsKey(const QKeyEvent& key) const {
    switch (key.key()) {
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        return key.modifiers() & Qt::ShiftModifier;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return CurrentIsFolder();
    default:
        return false;
    }
}

bool TFileListView::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride) {
        bool wanted = false;
        runGuarded([&] { wanted = WantsKey(*static_cast<QKeyEvent*>(event)); });
        if (wanted) {
            event->accept();
            return true;
        }
    }
    return QTreeView::event(event);
}

void TFileListView::keyPressEvent(QKeyEvent* event) {
    runGuarded([&] {
        const bool wanted = WantsKey(*event);
        QTreeView::keyPressEvent(event);
        if (event->key() == Qt::Key_F5)
            directory_->UpdateListing(true);
        if (state() == EditingState)
            return;
        if (event->key() == Qt::Key_Backspace) {
            event->accept();
            GoUp();
        } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            if (wanted) // a folder opens here, and the key goes no further (default button)
                event->accept();
            // The keyboard's place, selected or not: on a fresh list ".." is current only.
            Enter(currentIndex().row());
        }
    });
}

void TFileListView::mouseDoubleClickEvent(QMouseEvent* event) {
    runGuarded([&] {
        QTreeView::mouseDoubleClickEvent(event);
        Enter(SelectedItem());
    });
}

// --- hints ---------------------------------------------------------------------------------

QString TFileListView::HintText(int item) const {
    const QModelIndex index = model_->index(item, 0);
    const QString details = index.data(Qt::ToolTipRole).toString();
    if (details.isEmpty()) // no entry
        return {};
    // The name leads the hint when the cell cuts it.
    const QString caption = index.data(Qt::DisplayRole).toString();
    QRect r = visualRect(index);
    r.setRight(r.right() - ImageWidth());
    const QRect bounds =
        QFontMetrics(font()).boundingRect(r, Qt::AlignHCenter | Qt::TextWordWrap, caption);
    const bool cut = bounds.width() > r.width() || bounds.height() > r.height();
    return cut ? caption + u'\n' + details : details;
}

bool TFileListView::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip)
        return QTreeView::viewportEvent(event);
    runGuarded([&] {
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        const QString text = index.isValid() ? HintText(index.row()) : QString();
        if (text.isEmpty()) { // the view's own hint applies
            if (toolTip().isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(help->globalPos(), toolTip(), this);
            return;
        }
        QRect rect = visualRect(index);
        rect.setLeft(0);
        QToolTip::showText(help->globalPos(), text, viewport(), rect, HintHidePause);
    });
    return true;
}

// --- rename in place -----------------------------------------------------------------------

bool TFileListView::CanEdit(int item) const {
    if (readOnly_)
        return false;
    const TFileInfo* entry = ListedData(item);
    return entry && entry->Name != "..";
}

bool TFileListView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    if (index.isValid() && !CanEdit(index.row()))
        return false;
    return QTreeView::edit(index.siblingAtColumn(0), trigger, event);
}

void TFileListView::ItemEdited(int item, QString text) {
    // Copied before anything can run an event loop: the entry may be gone afterwards.
    const TFileInfo* entry = ListedData(item);
    const QString oldName = entry ? platform::fromFsBytes(entry->Name) : ItemCaption(item);
    const quint64 generation = generation_;
    const std::optional<TRenameResult> result = Rename(item, text, true);
    if (result && !result->ok())
        text = oldName;
    if (generation == generation_ && item < ItemCount()) {
        model_->items[size_t(item)].caption = text;
        model_->itemChanged(item);
    }
    viewport()->update();
}

std::optional<TRenameResult> TFileListView::RenameItem(int item, const QString& newName) {
    return Rename(item, newName, false);
}

std::optional<TRenameResult> TFileListView::Rename(int item, const QString& newName,
                                                   bool deferBox) {
    const QString caption = ItemCaption(item);
    TFileInfo* entry = ListedData(item);
    // File names are case-sensitive here: only the very same text is "the same name".
    if (newName.isEmpty() || caption == newName || !entry)
        return std::nullopt;
    const TRenameResult result = directory_->Rename(entry, newName);
    if (!result.ok()) {
        const QString message = result.Code == TRenameResult::NameTaken
                                    ? rs::text(rs::SFileNameTaken)
                                    : rs::format(rs::SAccessDeniedTo, {caption});
        if (deferBox) // not inside the editor's commit: the box runs an event loop
            QTimer::singleShot(0, this,
                               [message] { runGuarded([&] { ShowErrorMessage(message); }); });
        else
            ShowErrorMessage(message);
        return result;
    }
    if ((result.Entry->Attr & faHidden) && !directory_->FileType().contains(ftHidden)) {
        if (!deferBox) {
            RemoveItem(item);
        } else {
            // The editor is still closing on this row: remove it once the edit has ended.
            const quint64 generation = generation_;
            TFileInfo* renamed = result.Entry;
            QTimer::singleShot(0, this, [this, generation, item, renamed] {
                if (generation == generation_ && ListedData(item) == renamed)
                    RemoveItem(item);
            });
            model_->items[size_t(item)].data = result.Entry;
        }
        return result;
    }
    model_->items[size_t(item)].data = result.Entry;
    model_->items[size_t(item)].caption = newName;
    model_->itemChanged(item);
    return result;
}

void TFileListView::RemoveItem(int item) {
    if (item >= 0 && item < ItemCount())
        model_->removeItem(item);
}
