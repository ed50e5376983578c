#include "filectrls/DirectoryTreeView.h"

#include "filectrls/DrawItemText.h"
#include "filectrls/FileIconProvider.h"
#include "filectrls/LayoutLoading.h"
#include "base/ApplicationException.h"
#include "platform/Enumerate.h"
#include "platform/FsString.h"
#include "platform/Mounts.h"
#include "base/ResourceStrings.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <cerrno>

#include <utility>

namespace {

} // namespace

// Sets a flag for a scope and restores the old value, also when the scope is left by an
// exception.
class TDirectoryTreeView::Flag {
public:
    explicit Flag(bool& flag) : flag_(flag), old_(std::exchange(flag, true)) {}
    ~Flag() { flag_ = old_; }
    Flag(const Flag&) = delete;
    Flag& operator=(const Flag&) = delete;

private:
    bool& flag_;
    bool old_;
};

// ---------------------------------------------------------------------------------------------
// The item model over the nodes. Rows are the nodes' positions; the internal pointer is the node.

class TDirectoryTreeModel final : public QAbstractItemModel {
public:
    explicit TDirectoryTreeModel(TDirectoryTreeView& tree)
        : QAbstractItemModel(&tree), tree_(tree) {}

    QModelIndex index(int row, int column, const QModelIndex& parent) const override {
        if (column != 0 || row < 0)
            return {};
        const auto& list = childrenOf(parent);
        if (row >= int(list.size()))
            return {};
        return createIndex(row, 0, list[size_t(row)].get());
    }

    QModelIndex parent(const QModelIndex& child) const override {
        const TDirectoryNode* node = tree_.NodeOf(child);
        if (!node || !node->parent_)
            return {};
        return createIndex(node->parent_->index_, 0, node->parent_);
    }

    int rowCount(const QModelIndex& parent) const override {
        if (parent.column() > 0)
            return 0;
        return int(childrenOf(parent).size());
    }

    int columnCount(const QModelIndex&) const override { return 1; }

    // The has-children flag, so that unread folders show an expand button.
    bool hasChildren(const QModelIndex& parent) const override {
        if (!parent.isValid())
            return !tree_.roots_.empty();
        const TDirectoryNode* node = tree_.NodeOf(parent);
        return node && (node->hasChildren_ || !node->children_.empty());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        const TDirectoryNode* node = tree_.NodeOf(index);
        if (!node)
            return {};
        switch (role) {
        case Qt::DisplayRole:
            return platform::displayName(node->text_);
        case Qt::EditRole:
            return node->text_;
        case Qt::DecorationRole:
            return tree_.placeholder_;
        default:
            return {};
        }
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override {
        TDirectoryNode* node = tree_.NodeOf(index);
        if (!node || role != Qt::EditRole || tree_.readOnly_)
            return false;
        node->text_ = value.toString();
        emit dataChanged(index, index);
        return true;
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        const TDirectoryNode* node = tree_.NodeOf(index);
        if (!node)
            return Qt::NoItemFlags;
        Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (!tree_.readOnly_)
            result |= Qt::ItemIsEditable;
        if (!node->hasChildren_ && node->children_.empty() && node->entry_ &&
            !(node->entry_->Attr & (faDirectory | faVolumeID)) && node->parent_)
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
    const std::vector<std::unique_ptr<TDirectoryNode>>&
    childrenOf(const QModelIndex& parent) const {
        const TDirectoryNode* node = tree_.NodeOf(parent);
        return node ? node->children_ : tree_.roots_;
    }

    TDirectoryTreeView& tree_;
};

// ---------------------------------------------------------------------------------------------
// The tree paints its cells itself: the entry's icon and the caption, cut with "..." when too
// wide.

class TDirectoryTreeDelegate final : public QStyledItemDelegate {
public:
    explicit TDirectoryTreeDelegate(TDirectoryTreeView& tree)
        : QStyledItemDelegate(&tree), tree_(tree) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        TDirectoryNode* node = tree_.NodeOf(index);
        if (!node)
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
        tree_.PaintNode(*painter, option.rect, node);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const TDirectoryNode* node = tree_.NodeOf(index);
        const QFontMetrics metrics(option.font);
        const int iconWidth = tree_.iconProvider_ ? tree_.iconProvider_->Width() : 0;
        const QString text = node ? platform::displayName(node->Text()) : QString();
        return {iconWidth + 2 + metrics.horizontalAdvance(text) + 2, tree_.RowHeight(metrics)};
    }

private:
    TDirectoryTreeView& tree_;
};

// ---------------------------------------------------------------------------------------------
// TDirectoryNodeClient

bool TDirectoryNodeClient::EntryFound(const TSearchRec& file) {
    return node_->EntryFound(file);
}
void TDirectoryNodeClient::ListingEnded() {
    node_->ListingEnded();
}
bool TDirectoryNodeClient::ListingStarting() {
    return node_->ListingStarting();
}
void TDirectoryNodeClient::LocationChanged(const QString& newLocation) {
    node_->LocationChanged(newLocation);
}
void TDirectoryNodeClient::MaskChanged(const QString& newMask) {
    node_->MaskChanged(newMask);
}

// ---------------------------------------------------------------------------------------------
// TDirectoryNode

TDirectoryNode::TDirectoryNode(TDirectoryTreeView& tree, TDirectoryNode* parent, int index,
                               QString text, TFileInfo* entry, std::unique_ptr<TFileInfo> rootEntry)
    : tree_(tree), parent_(parent), index_(index), text_(std::move(text)), entry_(entry),
      rootEntry_(std::move(rootEntry)), fileType_(tree.fileType_) {
    if (rootEntry_)
        entry_ = rootEntry_.get();
}

TDirectory& TDirectoryNode::Directory() {
    if (!directory_) {
        client_ = std::make_unique<TDirectoryNodeClient>(this);
        directory_ = std::make_unique<TDirectory>(client_.get());
        // The model's setters would list at once; the node refuses while it configures it.
        configuring_ = true;
        directory_->SetIncludeParentDir(false);
        directory_->SetFileType(fileType_);
        configuring_ = false;
    }
    return *directory_;
}

TDirectoryNode::~TDirectoryNode() = default;

int TDirectoryNode::Level() const {
    int level = 0;
    for (const TDirectoryNode* n = parent_; n; n = n->parent_)
        ++level;
    return level;
}

TDirectoryNode* TDirectoryNode::Item(int index) const {
    if (index < 0 || index >= Count())
        return nullptr;
    return children_[size_t(index)].get();
}

bool TDirectoryNode::Expanded() const {
    return tree_.isExpanded(tree_.IndexOf(this));
}

bool TDirectoryNode::EntryFound(const TSearchRec&) {
    return true;
}

bool TDirectoryNode::ListingStarting() {
    if (configuring_ || tree_.loading_)
        return false;
    tree_.BeginUpdate();
    // The children point into the model's entries, which the read is about to free: each
    // keeps a copy until the read has ended and it is matched with its new entry.
    for (const auto& child : children_) {
        child->rootEntry_ = std::make_unique<TFileInfo>(*child->entry_);
        child->entry_ = child->rootEntry_.get();
    }
    return true;
}

void TDirectoryNode::ListingEnded() {
    struct EndUpdate {
        TDirectoryTreeView& tree;
        ~EndUpdate() { tree.EndUpdate(); }
    } endUpdate{tree_};

    TDirectory& dir = *directory_;
    const int count = dir.Count();
    hasChildren_ = count > 0;
    MergeChildren();
    tree_.model_->changed(tree_.IndexOf(this));
}

// A re-read keeps the children whose names are still listed, with their own children,
// expansion and selection; the others go, and new names come in at their sorted places.
void TDirectoryNode::MergeChildren() {
    TDirectory& dir = *directory_;
    const int count = dir.Count();
    QHash<QByteArray, int> position;
    position.reserve(count);
    for (int i = 0; i < count; ++i)
        position.insert(dir.Entry(i)->Name, i);

    const QModelIndex self = tree_.IndexOf(this);
    // Gone, or (should the sort order have changed) out of order: removed.
    int last = -1;
    for (size_t k = 0; k < children_.size();) {
        const auto it = position.constFind(children_[k]->entry_->Name);
        if (it != position.cend() && *it > last) {
            last = *it;
            ++k;
            continue;
        }
        RemoveChild(int(k));
    }

    size_t k = 0;
    for (int i = 0; i < count;) {
        if (k < children_.size() && position.value(children_[k]->entry_->Name) == i) {
            TDirectoryNode* kept = children_[k].get();
            kept->entry_ = dir.Entry(i);
            kept->rootEntry_.reset();
            kept->index_ = int(k);
            ++k;
            ++i;
            continue;
        }
        // The run of new names up to the next kept child.
        const int end = k < children_.size() ? position.value(children_[k]->entry_->Name) : count;
        const int first = int(k);
        tree_.model_->beginInsert(self, first, first + (end - i) - 1);
        std::vector<std::unique_ptr<TDirectoryNode>> added;
        for (int j = i; j < end; ++j) {
            TFileInfo* entry = dir.Entry(j);
            auto child = std::make_unique<TDirectoryNode>(tree_, this, 0, dir.EntryName(j), entry);
            child->imageIndex_ = 0;
            // Folders are not looked into: each shows a button until it is read.
            child->hasChildren_ = (entry->Attr & faDirectory) != 0;
            added.push_back(std::move(child));
        }
        children_.insert(children_.begin() + first, std::make_move_iterator(added.begin()),
                         std::make_move_iterator(added.end()));
        Renumber(first);
        tree_.model_->endInsert();
        k += size_t(end - i);
        i = end;
    }
}

void TDirectoryNode::Renumber(int from) {
    for (size_t k = size_t(from); k < children_.size(); ++k)
        children_[k]->index_ = int(k);
}

void TDirectoryNode::RemoveChild(int index) {
    TDirectoryNode* child = children_[size_t(index)].get();
    // A selection inside the branch that goes moves up to this node first, so that the view
    // never selects a neighbour on its own.
    for (TDirectoryNode* n = tree_.Selected(); n; n = n->parent_) {
        if (n == child) {
            TDirectoryTreeView::Flag guard(tree_.selectionGuard_);
            tree_.SelectNode(this);
            break;
        }
    }
    TDirectoryTreeView::Flag guard(tree_.selectionGuard_);
    tree_.model_->beginRemove(tree_.IndexOf(this), index, index);
    children_.erase(children_.begin() + index);
    Renumber(index);
    tree_.model_->endRemove();
}

void TDirectoryNode::LocationChanged(const QString&) {}
void TDirectoryNode::MaskChanged(const QString&) {}

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

    // The widget exists from here on: take the icons and build the roots (the drives).
    iconProvider_ = WindowsIconProvider();
    SetRootDirectory(rootDirectory_);
}

TDirectoryTreeView::~TDirectoryTreeView() {
    Flag guard(selectionGuard_);
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
    return model_->index(node->index_, 0, IndexOf(node->parent_));
}

TDirectoryNode* TDirectoryTreeView::NodeAt(const QPoint& viewportPos) const {
    return NodeOf(indexAt(viewportPos));
}

TDirectoryNode* TDirectoryTreeView::Selected() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? nullptr : NodeOf(selected.first());
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
    if (!node || !node->entry_)
        return {};
    QByteArray result;
    for (const TDirectoryNode* n = node; n; n = n->parent_) {
        // A drive contributes its mount path; every other node its caption, which round-trips
        // to the name's bytes (an edited caption is used as edited).
        QByteArray piece = (n->entry_ && (n->entry_->Attr & faVolumeID))
                               ? n->entry_->FindName()
                               : platform::toFsBytes(n->text_);
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
        if ((error != ENOENT && error != ENOTDIR) || !node->parent_)
            return node;
        node = node->parent_;
    }
    return nullptr;
}

QString TDirectoryTreeView::Directory() const {
    return platform::fromFsBytes(NodePath(Selected()));
}

void TDirectoryTreeView::SetRootDirectory(const QString& value) {
    if (loading_) {
        rootDirectory_ = value;
        return;
    }
    QString v = value;
    bool drive = IsDriveRoot(v);
    if (!v.isEmpty() && !drive) {
        v = NormalizeLocation(v);
        // "/x/.." folds to the drive root itself, which must not become the empty string.
        drive = IsDriveRoot(v);
        if (!drive && v.endsWith(u'/'))
            v.chop(1);
    }

    // Checked before anything changes.
    TSearchRec rec;
    if (!v.isEmpty()) {
        if (drive) {
            FillDriveEntry(v, rec);
        } else {
            const quint32 mask = faDirectory | (fileType_.contains(ftHidden) ? faHidden : 0);
            // Only a folder can be the root: a plain file would report itself as a folder path.
            if (!platform::findOne(platform::toFsBytes(v), mask, rec) || !(rec.Attr & faDirectory))
                throw ESetDirectoryError(rs::format(rs::SCannotReadDirectory, {value}));
        }
    }

    std::vector<TSearchRec> drives;
    if (v.isEmpty())
        drives = platform::listDrives();

    BeginUpdate();
    struct EndUpdate {
        TDirectoryTreeView& tree;
        ~EndUpdate() { tree.EndUpdate(); }
    } endUpdate{*this};
    Flag guard(selectionGuard_);

    model_->beginReset();
    roots_.clear();
    TDirectoryNode* single = nullptr;
    if (!v.isEmpty()) {
        single = AddRoot(drive ? platform::fromFsBytes(rec.Name) : v,
                         std::make_unique<TFileInfo>(NewFileInfo(rec)));
        if (!drive)
            single->imageIndex_ = 0;
    } else {
        for (const TSearchRec& d : drives) {
            TDirectoryNode* root =
                AddRoot(platform::fromFsBytes(d.Name), std::make_unique<TFileInfo>(NewFileInfo(d)));
            root->hasChildren_ = true;
        }
    }
    model_->endReset();
    rootDirectory_ = v;

    if (single) {
        FillNode(single);
        SelectNode(single);
    }
}

void TDirectoryTreeView::SetDirectory(const QString& value) {
    Flag guard(selectionGuard_);
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

    // The start node: the root whose text begins the path.
    QList<QString> texts;
    QString lastText;
    for (const auto& root : roots_) {
        const TFileInfo* entry = root->entry_;
        texts.append((entry && (entry->Attr & faVolumeID))
                         ? platform::fromFsBytes(entry->FindName())
                         : rootDirectory_);
        if (!texts.back().isEmpty())
            lastText = texts.back();
    }
    const TreePathWalk walk = SplitTreePath(value, texts);
    if (walk.root < 0) {
        throw ESetDirectoryError(rs::format(
            rs::SNotSubdirectory,
            {value, rootDirectory_.isEmpty() ? rs::text(rs::SAnyKnownDrive) : lastText}));
    }

    TDirectoryNode* node = roots_[size_t(walk.root)].get();
    for (QStringView component : walk.components) {
        bool fresh = node->children_.empty();
        if (fresh)
            FillNode(node);
        TDirectoryNode* found = ChildNamed(node, component);
        if (!found && !fresh) {
            // The children were read earlier: the folder may have come since.
            const QPersistentModelIndex alive(IndexOf(node));
            FillNode(node);
            if (!alive.isValid())
                return;
            found = ChildNamed(node, component);
        }
        if (!found)
            break;
        const QPersistentModelIndex alive(IndexOf(node));
        if (!ExpandNode(node)) {
            if (!alive.isValid())
                return; // an OnExpanding handler rebuilt the tree
            break;
        }
        node = found;
    }
    SelectNode(node);
}

TDirectoryNode* TDirectoryTreeView::ChildNamed(TDirectoryNode* node, QStringView name) {
    // Linux keeps "Docs" and "docs" apart: the exact name wins over the first that differs
    // only in case.
    for (const auto& child : node->children_) {
        if (child->text_ == name)
            return child.get();
    }
    for (const auto& child : node->children_) {
        if (SameNameIgnoringCase(child->text_, name))
            return child.get();
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
    if (allow && node->children_.empty())
        FillNode(node);
    return allow;
}

bool TDirectoryTreeView::ExpandNode(TDirectoryNode* node) {
    const QModelIndex index = IndexOf(node);
    if (isExpanded(index))
        return true;
    if (!ExpansionRequest(node))
        return false;
    Flag ours(viewExpanding_);
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
    if (!allow || (!node->hasChildren_ && node->children_.empty()))
        collapse(persistent);
}

void TDirectoryTreeView::SelectNode(TDirectoryNode* node) {
    const QModelIndex index = IndexOf(node);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    scrollTo(index);
    // Also sideways, so that the node's indentation is in view.
    const QRect rect = visualRect(index);
    const int left = rect.left() - indentation();
    if (left < 0 || rect.left() > viewport()->width() - indentation())
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() + left);
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
        Flag guard(selectionGuard_);
        if (node->entry_ && (node->entry_->Attr & faDirectory))
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
            Flag guard(selectionGuard_);
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
    const QString text = platform::displayName(node->text_);
    QRect measured = QFontMetrics(font()).boundingRect(
        display, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    if (iconProvider_)
        measured.translate(iconProvider_->Width(), 0);
    const bool cut =
        measured.left() + measured.width() > viewport()->width() || measured.left() < 0;
    if (!platform::hasForeignBytes(node->text_))
        return cut ? text : QString();
    return text + u'\n' + NotUtf8NameHint();
}

int TDirectoryTreeView::RowHeight(const QFontMetrics& metrics) const {
    // Rows as tall as the placeholder image, so the icons fit, and one pixel of margin.
    return qMax(placeholder_.height(), metrics.height()) + 2;
}

void TDirectoryTreeView::PaintNode(QPainter& canvas, const QRect& rect,
                                   TDirectoryNode* node) const {
    canvas.fillRect(rect, canvas.brush());
    if (iconProvider_)
        node->imageIndex_ = iconProvider_->IconIndexOf(node->entry_, QString());
    const int textHeight = canvas.fontMetrics().height();
    const int top = rect.top() + (rect.height() - textHeight) / 2;
    const int imageWidth = iconProvider_ ? iconProvider_->Width() : 0;
    if (iconProvider_)
        iconProvider_->Draw(canvas, rect.left(), top, node->imageIndex_);
    const QRect caption(QPoint(rect.left() + imageWidth + 2, top),
                        QPoint(rect.right() + 1, rect.bottom()));
    DrawItemText(canvas, caption, platform::displayName(node->text_), false, true);
}
