#include "filectrls/DirectoryTreeView.h"

#include "base/ApplicationException.h"
#include "base/ResourceStrings.h"
#include "filectrls/DrawItemText.h"
#include "filectrls/FileIconProvider.h"
#include "filectrls/LayoutLoading.h"
#include "platform/Enumerate.h"
#include "platform/FolderWatch.h"
#include "platform/FsString.h"
#include "platform/Mounts.h"

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScopeGuard>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolTip>

#include <cerrno>

#include <utility>

// ---------------------------------------------------------------------------------------------
// The item model over the nodes. Rows are the nodes' positions; the internal pointer is the node.
// It answers what a cell shows (caption, icon, editability) from the node, through the node's
// and the tree's public members.

class TDirectoryTreeModel final : public QAbstractItemModel {
public:
    explicit TDirectoryTreeModel(TDirectoryTreeView& tree)
        : QAbstractItemModel(&tree), tree_(tree) {}

    QModelIndex index(int row, int column, const QModelIndex& parent) const override {
        if (column != 0 || row < 0)
            return {};
        const TDirectoryNode* node = tree_.NodeOf(parent);
        TDirectoryNode* child = node ? node->Item(row) : tree_.Root(row);
        return child ? createIndex(row, 0, child) : QModelIndex();
    }

    QModelIndex parent(const QModelIndex& child) const override {
        const TDirectoryNode* node = tree_.NodeOf(child);
        TDirectoryNode* parent = node ? node->Parent() : nullptr;
        return parent ? createIndex(parent->Index(), 0, parent) : QModelIndex();
    }

    int rowCount(const QModelIndex& parent) const override {
        if (parent.column() > 0)
            return 0;
        const TDirectoryNode* node = tree_.NodeOf(parent);
        return node ? node->Count() : tree_.RootCount();
    }

    int columnCount(const QModelIndex&) const override { return 1; }

    // The one column's name, for screen readers (the header itself is hidden).
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
            return tree_.accessibleName().isEmpty() ? QVariant() : tree_.accessibleName();
        return QAbstractItemModel::headerData(section, orientation, role);
    }

    // The has-children flag, so that unread folders show an expand button.
    bool hasChildren(const QModelIndex& parent) const override {
        if (!parent.isValid())
            return tree_.RootCount() > 0;
        const TDirectoryNode* node = tree_.NodeOf(parent);
        return node && (node->HasChildren() || node->Count() > 0);
    }

    QVariant data(const QModelIndex& index, int role) const override {
        TDirectoryNode* node = tree_.NodeOf(index);
        if (!node)
            return {};
        switch (role) {
        case Qt::DisplayRole:
            return platform::displayName(node->Text());
        case Qt::EditRole:
            return node->Text();
        case Qt::DecorationRole:
            return tree_.PlaceholderImage();
        case TDirectoryTreeView::ImageIndexRole:
            return tree_.IconProvider() ? node->LookUpImageIndex(*tree_.IconProvider()) : -1;
        default:
            return {};
        }
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override {
        TDirectoryNode* node = tree_.NodeOf(index);
        if (!node || role != Qt::EditRole || tree_.ReadOnly())
            return false;
        node->SetText(value.toString());
        emit dataChanged(index, index);
        return true;
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        const TDirectoryNode* node = tree_.NodeOf(index);
        if (!node)
            return Qt::NoItemFlags;
        Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (!tree_.ReadOnly())
            result |= Qt::ItemIsEditable;
        const TFileInfo* entry = node->Data();
        if (!node->HasChildren() && node->Count() == 0 && entry &&
            !(entry->Attr & (faDirectory | faVolumeID)) && node->Parent())
            result |= Qt::ItemNeverHasChildren; // a file
        return result;
    }

    void beginReset() { beginResetModel(); }
    void endReset() { endResetModel(); }
    void beginInsert(const QModelIndex& parent, int first, int last) {
        beginInsertRows(parent, first, last);
    }
    void endInsert() { endInsertRows(); }
    void beginRemove(const QModelIndex& parent, int first, int last) {
        beginRemoveRows(parent, first, last);
    }
    void endRemove() { endRemoveRows(); }
    void changed(const QModelIndex& index) { emit dataChanged(index, index); }

private:
    TDirectoryTreeView& tree_;
};

// ---------------------------------------------------------------------------------------------
// The tree paints its cells from the model's data: the icon and the caption, cut with "..."
// when too wide.

class TDirectoryTreeDelegate final : public QStyledItemDelegate {
public:
    explicit TDirectoryTreeDelegate(TDirectoryTreeView& tree)
        : QStyledItemDelegate(&tree), tree_(tree) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (!index.isValid())
            return;
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette::ColorGroup group =
            !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
            : (option.state & QStyle::State_Active) ? QPalette::Active
                                                    : QPalette::Inactive;
        painter->save();
        painter->setFont(option.font);
        painter->setBrush(
            option.palette.brush(group, selected ? QPalette::Highlight : QPalette::Base));
        painter->setPen(
            option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        PaintNode(*painter, option.rect, index);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QFontMetrics metrics(option.font);
        const int iconWidth = tree_.IconProvider() ? tree_.IconProvider()->Width() : 0;
        const QString text = index.data(Qt::DisplayRole).toString();
        return {iconWidth + 2 + metrics.horizontalAdvance(text) + 2, tree_.RowHeight(metrics)};
    }

private:
    void PaintNode(QPainter& canvas, const QRect& rect, const QModelIndex& index) const {
        canvas.fillRect(rect, canvas.brush());
        TFileIconProvider* icons = tree_.IconProvider();
        const int textHeight = canvas.fontMetrics().height();
        const int top = rect.top() + (rect.height() - textHeight) / 2;
        const int imageWidth = icons ? icons->Width() : 0;
        if (icons)
            icons->Draw(canvas, rect.left(), top,
                        index.data(TDirectoryTreeView::ImageIndexRole).toInt());
        const QRect caption(QPoint(rect.left() + imageWidth + 2, top),
                            QPoint(rect.right() + 1, rect.bottom()));
        DrawItemText(canvas, caption, index.data(Qt::DisplayRole).toString(), false, true);
    }

    TDirectoryTreeView& tree_;
};

// ---------------------------------------------------------------------------------------------
// TDirectoryTreeView

TDirectoryTreeView::TDirectoryTreeView(QWidget* parent)
    : QTreeView(parent), model_(new TDirectoryTreeModel(*this)) {
    loading_ = TLayoutLoading::Active();
    const int side = SystemIconWidth(iscSmall);
    placeholder_ = QPixmap(side, side);
    placeholder_.fill(Qt::transparent);

    setModel(model_);
    setItemDelegate(new TDirectoryTreeDelegate(*this));
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setAnimated(false);
    setIndentation(20);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The column grows with its captions (deep folders scroll sideways instead of vanishing);
    // a caption longer than the column is still cut with "...".
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    resize(121, 97);

    connect(this, &QTreeView::expanded, this, &TDirectoryTreeView::NodeExpandedByView);
    connect(this, &QTreeView::expanded, this, &TDirectoryTreeView::WatchNode);
    connect(this, &QTreeView::collapsed, this, &TDirectoryTreeView::UnwatchNode);
    refreshTimer_ = new QTimer(this);
    refreshTimer_->setSingleShot(true);
    refreshTimer_->setInterval(100); // a burst of changes is read once
    connect(refreshTimer_, &QTimer::timeout, this, &TDirectoryTreeView::RefreshWatched);

    // The widget exists from here on: take the icons and build the roots (the drives).
    iconProvider_ = WindowsIconProvider();
    SetRootDirectory(rootDirectory_);
}

TDirectoryTreeView::~TDirectoryTreeView() {
    delete watchNotifier_; // before the descriptor it listens to is closed
    const QScopedValueRollback guard(selectionGuard_, true);
    ClearRoots();
}

TDirectoryNode* TDirectoryTreeView::Root(int index) const {
    if (index < 0 || index >= RootCount())
        return nullptr;
    return roots_[size_t(index)].get();
}

TDirectoryNode* TDirectoryTreeView::NodeOf(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != model_)
        return nullptr;
    return static_cast<TDirectoryNode*>(index.internalPointer());
}

QModelIndex TDirectoryTreeView::IndexOf(const TDirectoryNode* node) const {
    if (!node)
        return {};
    return model_->index(node->Index(), 0, IndexOf(node->Parent()));
}

TDirectoryNode* TDirectoryTreeView::NodeAt(const QPoint& viewportPos) const {
    return NodeOf(indexAt(viewportPos));
}

TDirectoryNode* TDirectoryTreeView::Selected() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? nullptr : NodeOf(selected.first());
}

bool TDirectoryTreeView::NodesLoading() const {
    return loading_;
}

void TDirectoryTreeView::BeginNodeRead() {
    BeginUpdate();
}

void TDirectoryTreeView::NodeChanged(TDirectoryNode* node) {
    model_->changed(IndexOf(node));
}

void TDirectoryTreeView::EndNodeRead() {
    EndUpdate();
}

void TDirectoryTreeView::InsertChildRows(TDirectoryNode* parent, int first, int last,
                                         const std::function<void()>& insert) {
    model_->beginInsert(IndexOf(parent), first, last);
    insert();
    model_->endInsert();
}

void TDirectoryTreeView::RemoveChildRow(TDirectoryNode* parent, int index,
                                        const std::function<void()>& remove) {
    TDirectoryNode* child = parent->Item(index);
    // A selection inside the branch that goes moves up to the parent first, so that the view
    // never selects a neighbour on its own.
    for (TDirectoryNode* n = Selected(); n; n = n->Parent()) {
        if (n == child) {
            const QScopedValueRollback guard(selectionGuard_, true);
            SelectNode(parent);
            break;
        }
    }
    const QScopedValueRollback guard(selectionGuard_, true);
    model_->beginRemove(IndexOf(parent), index, index);
    remove();
    model_->endRemove();
}

void TDirectoryTreeView::BeginUpdate() {
    if (updateCount_++ == 0)
        setUpdatesEnabled(false);
}

void TDirectoryTreeView::EndUpdate() {
    if (--updateCount_ == 0)
        setUpdatesEnabled(true);
}

void TDirectoryTreeView::ClearRoots() {
    model_->beginReset();
    roots_.clear();
    model_->endReset();
}

TDirectoryNode* TDirectoryTreeView::AddRoot(QString text, std::unique_ptr<TFileInfo> entry) {
    roots_.push_back(std::make_unique<TDirectoryNode>(*this, nullptr, RootCount(), std::move(text),
                                                      nullptr, std::move(entry)));
    return roots_.back().get();
}

QByteArray TDirectoryTreeView::NodePath(const TDirectoryNode* node) const {
    if (!node || !node->Data())
        return {};
    QByteArray result;
    for (const TDirectoryNode* n = node; n; n = n->Parent()) {
        // A drive contributes its mount path; every other node its caption, which round-trips
        // to the name's bytes (an edited caption is used as edited).
        const TFileInfo* entry = n->Data();
        QByteArray piece = (entry && (entry->Attr & faVolumeID)) ? entry->FindName()
                                                                 : platform::toFsBytes(n->Text());
        if (!piece.endsWith('/'))
            piece += '/';
        result.prepend(piece);
    }
    return result;
}

void TDirectoryTreeView::FillNode(TDirectoryNode* node) {
    if (!node)
        return;
    node->Directory().SetLocation(platform::fromFsBytes(NodePath(node)));
}

TDirectoryNode* TDirectoryTreeView::RefreshNode(TDirectoryNode* node) {
    while (node) {
        FillNode(node);
        const int error = node->Directory().ListingError();
        if ((error != ENOENT && error != ENOTDIR) || !node->Parent())
            return node;
        node = node->Parent();
    }
    return nullptr;
}

QString TDirectoryTreeView::Directory() const {
    return platform::fromFsBytes(NodePath(Selected()));
}

namespace {

// A root folder as stored: absolute, normalized, without the trailing '/' (but for the drive
// root itself); empty stays empty (the drives). `drive` tells whether it is a drive's root.
QString storedRoot(const QString& value, bool& drive) {
    QString v = value;
    drive = IsDriveRoot(v);
    if (!v.isEmpty() && !drive) {
        v = NormalizeLocation(v);
        // "/x/.." folds to the drive root itself, which must not become the empty string.
        drive = IsDriveRoot(v);
        if (!drive && v.endsWith(u'/'))
            v.chop(1);
    }
    return v;
}

} // namespace

TSearchRec TDirectoryTreeView::RootEntry(const QString& root, bool drive,
                                         const QString& value) const {
    TSearchRec rec;
    if (drive) {
        FillDriveEntry(root, rec);
        return rec;
    }
    const quint32 mask = faDirectory | (fileType_.contains(ftHidden) ? faHidden : 0);
    // Only a folder can be the root: a plain file would report itself as a folder path.
    if (!platform::findOne(platform::toFsBytes(root), mask, rec) || !(rec.Attr & faDirectory))
        throw ESetDirectoryError(rs::format(rs::SCannotReadDirectory, {value}));
    return rec;
}

void TDirectoryTreeView::SetRootDirectory(const QString& value) {
    if (loading_) {
        rootDirectory_ = value;
        return;
    }
    bool drive = false;
    const QString v = storedRoot(value, drive);
    // Checked before anything changes.
    const TSearchRec rec = v.isEmpty() ? TSearchRec() : RootEntry(v, drive, value);
    std::vector<TSearchRec> drives;
    if (v.isEmpty())
        drives = platform::listDrives();

    BeginUpdate();
    const auto endUpdate = qScopeGuard([this] { EndUpdate(); });
    const QScopedValueRollback guard(selectionGuard_, true);

    model_->beginReset();
    roots_.clear();
    TDirectoryNode* single = nullptr;
    if (!v.isEmpty()) {
        single = AddRoot(drive ? platform::fromFsBytes(rec.Name) : v,
                         std::make_unique<TFileInfo>(NewFileInfo(rec)));
    } else {
        for (const TSearchRec& d : drives) {
            TDirectoryNode* root =
                AddRoot(platform::fromFsBytes(d.Name), std::make_unique<TFileInfo>(NewFileInfo(d)));
            root->SetHasChildren(true);
        }
    }
    model_->endReset();
    rootDirectory_ = v;

    if (single) {
        FillNode(single);
        SelectNode(single);
    }
}

TreePathWalk TDirectoryTreeView::WalkFor(const QString& path) const {
    // The start node: the root whose text begins the path.
    QList<QString> texts;
    QString lastText;
    for (const auto& root : roots_) {
        const TFileInfo* entry = root->Data();
        texts.append((entry && (entry->Attr & faVolumeID))
                         ? platform::fromFsBytes(entry->FindName())
                         : rootDirectory_);
        if (!texts.back().isEmpty())
            lastText = texts.back();
    }
    TreePathWalk walk = SplitTreePath(path, texts);
    if (walk.root < 0) {
        throw ESetDirectoryError(
            rs::format(rs::SNotSubdirectory,
                       {path, rootDirectory_.isEmpty() ? rs::text(rs::SAnyKnownDrive) : lastText}));
    }
    return walk;
}

void TDirectoryTreeView::SetDirectory(const QString& value) {
    const QScopedValueRollback guard(selectionGuard_, true);
    if (loading_) {
        pendingDirectory_ = value;
        return;
    }
    if (value.isEmpty()) {
        selectionModel()->clear();
        return;
    }
    if (roots_.empty())
        return;

    const TreePathWalk walk = WalkFor(value);
    TDirectoryNode* node = roots_[size_t(walk.root)].get();
    for (QStringView component : walk.components) {
        TDirectoryNode* next = nullptr;
        if (!StepDown(node, component, next))
            return; // a handler rebuilt the tree
        if (!next)
            break;
        node = next;
    }
    SelectNode(node);
}

// One step of a walk: reads the node when needed, finds the child and opens the node. `next`
// is the child, nullptr where the walk ends at `node`; false when `node` is gone (a handler
// rebuilt the tree).
bool TDirectoryTreeView::StepDown(TDirectoryNode* node, QStringView component,
                                  TDirectoryNode*& next) {
    const bool fresh = node->Count() == 0;
    if (fresh)
        FillNode(node);
    TDirectoryNode* found = ChildNamed(node, component);
    if (!found && !fresh) {
        // The children were read earlier: the folder may have come since.
        const QPersistentModelIndex alive(IndexOf(node));
        FillNode(node);
        if (!alive.isValid())
            return false;
        found = ChildNamed(node, component);
    }
    if (!found)
        found = PassedChild(node, component);
    if (!found)
        return true;
    const QPersistentModelIndex alive(IndexOf(node));
    if (!ExpandNode(node))
        return alive.isValid(); // refused; or an OnExpanding handler rebuilt the tree
    next = found;
    return true;
}

// A folder that may be passed but not listed (mode 711, as home folders often are): the child
// on the path is looked up by name, and the node shows just that one.
TDirectoryNode* TDirectoryTreeView::PassedChild(TDirectoryNode* node, QStringView name) {
    const int error = node->Directory().ListingError();
    if (error == 0 || error == ENOENT || error == ENOTDIR)
        return nullptr;
    const quint32 mask = faDirectory | (fileType_.contains(ftHidden) ? faHidden : 0);
    TSearchRec rec;
    if (!platform::findOne(NodePath(node) + platform::toFsBytes(name.toString()), mask, rec) ||
        !(rec.Attr & faDirectory))
        return nullptr;
    return node->AddPassedChild(rec);
}

TDirectoryNode* TDirectoryTreeView::ChildNamed(TDirectoryNode* node, QStringView name) {
    // Linux keeps "Docs" and "docs" apart: the exact name wins over the first that differs
    // only in case.
    for (int i = 0; i < node->Count(); ++i) {
        if (node->Item(i)->Text() == name)
            return node->Item(i);
    }
    for (int i = 0; i < node->Count(); ++i) {
        if (SameNameIgnoringCase(node->Item(i)->Text(), name))
            return node->Item(i);
    }
    return nullptr;
}

void TDirectoryTreeView::SetFileType(TFileType value) {
    fileType_ = value;
    if (loading_)
        return;
    const QString current = Directory();
    SetRootDirectory(rootDirectory_);
    SetDirectory(current);
}

void TDirectoryTreeView::SetReadOnly(bool value) {
    readOnly_ = value;
    setEditTriggers(value ? QAbstractItemView::NoEditTriggers
                          : QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                QAbstractItemView::SelectedClicked);
}

void TDirectoryTreeView::BeginLoading() {
    loading_ = true;
}

void TDirectoryTreeView::Loaded() {
    loading_ = false;
    SetRootDirectory(rootDirectory_);
    SetDirectory(pendingDirectory_);
    SetFileType(fileType_);
}

bool TDirectoryTreeView::ExpansionRequest(TDirectoryNode* node) {
    bool allow = true;
    if (OnExpanding) {
        const QPersistentModelIndex alive(IndexOf(node));
        OnExpanding(this, node, allow);
        if (!alive.isValid())
            return false; // the handler rebuilt the tree
    }
    if (allow && node->Count() == 0)
        FillNode(node);
    return allow;
}

bool TDirectoryTreeView::ExpandNode(TDirectoryNode* node) {
    const QModelIndex index = IndexOf(node);
    if (isExpanded(index))
        return true;
    if (!ExpansionRequest(node))
        return false;
    const QScopedValueRollback ours(viewExpanding_, true);
    expand(index);
    return true;
}

// The view has opened a node on its own (mouse, keyboard): it asks now, and closes the node
// again when the request is refused, fails, or the folder turns out empty.
void TDirectoryTreeView::NodeExpandedByView(const QModelIndex& index) {
    if (viewExpanding_)
        return;
    TDirectoryNode* node = NodeOf(index);
    if (!node)
        return;
    const QPersistentModelIndex persistent(index);
    bool allow = false;
    runGuarded([&] {
        try {
            allow = ExpansionRequest(node);
        } catch (...) {
            if (persistent.isValid())
                collapse(persistent);
            throw;
        }
    });
    if (!persistent.isValid())
        return; // a handler rebuilt the tree
    if (!allow || (!node->HasChildren() && node->Count() == 0))
        collapse(persistent);
}

void TDirectoryTreeView::SelectNode(TDirectoryNode* node) {
    const QModelIndex index = IndexOf(node);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    KeepInSight(index);
}

void TDirectoryTreeView::KeepInSight(const QModelIndex& index) {
    if (!index.isValid())
        return;
    scrollTo(index);
    // Sideways only as far as the row needs: its caption's start, and as much of it as fits,
    // in view with its button; shallower rows keep as much of their captions as they can.
    const QRect rect = visualRect(index);
    const int room = viewport()->width();
    const int caption = qMin(itemDelegate()->sizeHint(viewOptionsFor(index), index).width(),
                             qMax(room - indentation(), 0));
    int shift = 0;
    if (rect.left() + caption > room)
        shift = rect.left() + caption - room;
    if (rect.left() - indentation() - shift < 0)
        shift = rect.left() - indentation();
    if (shift != 0)
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() + shift);
}

QStyleOptionViewItem TDirectoryTreeView::viewOptionsFor(const QModelIndex& index) const {
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    return option;
}

void TDirectoryTreeView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTreeView::currentChanged(current, previous);
    KeepInSight(current);
}

void TDirectoryTreeView::showEvent(QShowEvent* event) {
    QTreeView::showEvent(event);
    // A row selected before the tree was laid out is brought into sight once it is.
    QTimer::singleShot(0, this, [this] { KeepInSight(currentIndex()); });
}

void TDirectoryTreeView::focusInEvent(QFocusEvent* event) {
    QTreeView::focusInEvent(event);
    // The keyboard's place must be seen where the keyboard arrives.
    KeepInSight(currentIndex());
}

void TDirectoryTreeView::selectionChanged(const QItemSelection& selected,
                                          const QItemSelection& deselected) {
    QTreeView::selectionChanged(selected, deselected);
    if (selectionGuard_ || loading_)
        return;
    const QModelIndexList indexes = selected.indexes();
    TDirectoryNode* node = indexes.isEmpty() ? nullptr : NodeOf(indexes.first());
    if (!node)
        return;
    runGuarded([&] {
        const QScopedValueRollback guard(selectionGuard_, true);
        if (node->Data() && (node->Data()->Attr & faDirectory))
            pendingDirectory_ = platform::fromFsBytes(NodePath(node));
        if (OnChange)
            OnChange(this, node);
    });
}

void TDirectoryTreeView::keyPressEvent(QKeyEvent* event) {
    // '*' would open every branch below, reading whole disks (and looping through links to
    // ancestors); here it opens the one node.
    if (event->key() == Qt::Key_Asterisk) {
        if (currentIndex().isValid())
            expand(currentIndex());
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_F5 && event->modifiers() == Qt::NoModifier) {
        event->accept();
        RefreshSelected();
        return;
    }
    QTreeView::keyPressEvent(event);
}

// F5: the selected folder is read again; when it is gone, the selection moves up and the
// owner hears of it as of any change the user makes.
void TDirectoryTreeView::RefreshSelected() {
    TDirectoryNode* selected = Selected();
    if (!selected)
        return;
    runGuarded([&] {
        const QByteArray before = NodePath(selected);
        RefreshNode(selected);
        TDirectoryNode* now = Selected();
        if (now && NodePath(now) != before && OnChange) {
            const QScopedValueRollback guard(selectionGuard_, true);
            OnChange(this, now);
        }
    });
}

bool TDirectoryTreeView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString hint = HintText(help->pos());
        if (!hint.isEmpty()) {
            QToolTip::showText(help->globalPos(), hint, viewport(),
                               visualRect(indexAt(help->pos())));
            return true;
        }
    }
    return QTreeView::viewportEvent(event);
}

QString TDirectoryTreeView::HintText(const QPoint& viewportPos) const {
    const QModelIndex index = indexAt(viewportPos);
    const TDirectoryNode* node = NodeOf(index);
    if (!node)
        return {};
    const QRect display = visualRect(index);
    const QString text = index.data(Qt::DisplayRole).toString();
    QRect measured = QFontMetrics(font()).boundingRect(
        display, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    if (iconProvider_)
        measured.translate(iconProvider_->Width(), 0);
    const bool cut =
        measured.left() + measured.width() > viewport()->width() || measured.left() < 0;
    if (!platform::hasForeignBytes(node->Text()))
        return cut ? text : QString();
    return text + u'\n' + NotUtf8NameHint();
}

int TDirectoryTreeView::RowHeight(const QFontMetrics& metrics) const {
    // Rows as tall as the placeholder image, so the icons fit, and one pixel of margin.
    return qMax(placeholder_.height(), metrics.height()) + 2;
}

// --- watching the expanded folders ---------------------------------------------------------

void TDirectoryTreeView::WatchNode(const QModelIndex& index) {
    TDirectoryNode* node = NodeOf(index);
    if (!node || watchingStopped_ || loading_)
        return;
    if (!folderWatch_) {
        folderWatch_ = std::make_unique<platform::FolderWatch>();
        if (!folderWatch_->isValid()) {
            StopWatching();
            return;
        }
        watchNotifier_ = new QSocketNotifier(folderWatch_->fd(), QSocketNotifier::Read, this);
        connect(watchNotifier_, &QSocketNotifier::activated, this,
                &TDirectoryTreeView::ReadWatchEvents);
    }
    int err = 0;
    const int watch = folderWatch_->add(platform::withoutTrailingSlash(NodePath(node)), true, err);
    if (watch >= 0)
        watched_.insert(watch, QPersistentModelIndex(index));
    else if (err == ENOSPC || err == ENOMEM)
        StopWatching();
    // Any other failure (a folder gone or unreadable meanwhile) leaves just this node unwatched.
}

void TDirectoryTreeView::UnwatchNode(const QModelIndex& index) {
    for (auto it = watched_.begin(); it != watched_.end();) {
        if (*it == index || !it->isValid()) {
            folderWatch_->remove(it.key());
            it = watched_.erase(it);
        } else {
            ++it;
        }
    }
}

void TDirectoryTreeView::ReadWatchEvents() {
    std::vector<platform::FolderWatch::Event> events;
    if (!folderWatch_->read(events)) {
        StopWatching();
        return;
    }
    const bool listsFiles = fileType_.contains(ftNormal);
    for (const platform::FolderWatch::Event& event : events) {
        using Event = platform::FolderWatch::Event;
        if (event.kind == Event::Overflow) { // changes were lost: every watched node is read
            changedNodes_.append(watched_.values());
            continue;
        }
        const auto it = watched_.find(event.watch);
        if (it == watched_.end())
            continue;
        if (event.kind == Event::Gone || !it->isValid()) {
            if (event.kind != Event::Gone)
                folderWatch_->remove(event.watch);
            watched_.erase(it);
            continue;
        }
        // A node's own move is its parent's change; a file counts where files are listed.
        if (event.kind == Event::SubfolderIn || event.kind == Event::SubfolderOut ||
            (event.kind == Event::Entry && listsFiles))
            changedNodes_.append(*it);
    }
    if (!changedNodes_.isEmpty() && !refreshTimer_->isActive())
        refreshTimer_->start();
}

// Reads the changed nodes again, keeping expansion and selection; a selection whose branch went
// moves up, and the owner hears of it as of any change the user makes (as with F5).
void TDirectoryTreeView::RefreshWatched() {
    const QList<QPersistentModelIndex> changed = std::exchange(changedNodes_, {});
    runGuarded([&] {
        const QByteArray before = NodePath(Selected());
        QList<QPersistentModelIndex> done;
        for (const QPersistentModelIndex& index : changed) {
            if (!index.isValid() || done.contains(index))
                continue;
            done.append(index);
            FillNode(NodeOf(index));
        }
        TDirectoryNode* now = Selected();
        if (now && NodePath(now) != before && OnChange) {
            const QScopedValueRollback guard(selectionGuard_, true);
            OnChange(this, now);
        }
    });
}

void TDirectoryTreeView::StopWatching() {
    if (watchingStopped_)
        return;
    watchingStopped_ = true;
    delete std::exchange(watchNotifier_, nullptr);
    folderWatch_.reset();
    watched_.clear();
    changedNodes_.clear();
    emit watchingStopped();
}
