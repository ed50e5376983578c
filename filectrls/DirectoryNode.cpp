#include "filectrls/DirectoryNode.h"

#include "filectrls/DirectoryTreeView.h"
#include "filectrls/FileIconProvider.h"
#include "platform/FsString.h"

#include <QHash>
#include <QScopeGuard>

#include <cerrno>
#include <utility>

TDirectoryNode::TDirectoryNode(TDirectoryTreeView& tree, TDirectoryNode* parent, int index,
                               QString text, TFileInfo* entry, std::unique_ptr<TFileInfo> rootEntry)
    : tree_(tree), parent_(parent), index_(index), text_(std::move(text)), entry_(entry),
      rootEntry_(std::move(rootEntry)), fileType_(tree.FileType()) {
    if (rootEntry_)
        entry_ = rootEntry_.get();
    imageIndex_ = (entry_ && (entry_->Attr & faVolumeID)) ? -1 : TFileIconProvider::ClosedFolder;
}

TDirectory& TDirectoryNode::Directory() {
    if (!directory_) {
        directory_ = std::make_unique<TDirectory>(this);
        // The model's setters would list at once; the node refuses while it configures it.
        configuring_ = true;
        directory_->SetIncludeParentDir(false);
        directory_->SetFileType(fileType_);
        configuring_ = false;
    }
    return *directory_;
}

TDirectoryNode::~TDirectoryNode() = default;

TFileInfo* TDirectoryNode::Data() const {
    // A root's entry, and a child's copy during a re-read, are not the listing's: left alone.
    if (parent_ && parent_->directory_ && entry_)
        parent_->directory_->DescribeEntry(entry_);
    return entry_;
}

TDirectoryNodeHost& TDirectoryNode::Host() const {
    return tree_;
}

void TDirectoryNode::SetText(const QString& text) {
    text_ = text;
}

int TDirectoryNode::LookUpImageIndex(TFileIconProvider& icons) {
    imageIndex_ = icons.IconIndexOf(entry_, QString());
    return imageIndex_;
}

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
    TDirectoryNodeHost& host = Host();
    if (configuring_ || host.NodesLoading())
        return false;
    host.BeginNodeRead();
    // The children point into the model's entries, which the read is about to free: each
    // keeps a copy until the read has ended and it is matched with its new entry.
    for (const auto& child : children_) {
        // Complete: the copy is no entry of the listing, which could fill it later.
        child->rootEntry_ = std::make_unique<TFileInfo>(*child->Data());
        child->entry_ = child->rootEntry_.get();
    }
    return true;
}

void TDirectoryNode::ListingEnded() {
    TDirectoryNodeHost& host = Host();
    const auto endRead = qScopeGuard([&] { host.EndNodeRead(); });
    const int error = directory_->ListingError();
    if (error != 0 && error != ENOENT && error != ENOTDIR) {
        // Not listed is not empty: the children known (walked through) stay, on their copies.
        hasChildren_ = !children_.empty();
    } else {
        hasChildren_ = directory_->Count() > 0;
        MergeChildren();
    }
    host.NodeChanged(this);
}

TDirectoryNode* TDirectoryNode::AddPassedChild(const TSearchRec& rec) {
    const int index = Count();
    auto child =
        std::make_unique<TDirectoryNode>(tree_, this, index, platform::fromFsBytes(rec.Name),
                                         nullptr, std::make_unique<TFileInfo>(NewFileInfo(rec)));
    child->hasChildren_ = true;
    TDirectoryNode* added = child.get();
    Host().InsertChildRows(this, index, index, [&] { children_.push_back(std::move(child)); });
    hasChildren_ = true;
    return added;
}

// A re-read keeps the children whose names are still listed, with their own children,
// expansion and selection; the others go, and new names come in at their sorted places.
void TDirectoryNode::MergeChildren() {
    TDirectory& dir = *directory_;
    const int count = dir.Count();
    QHash<QByteArray, int> position;
    position.reserve(count);
    for (int i = 0; i < count; ++i)
        position.insert(dir.ListedEntry(i).Name, i);

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
            kept->entry_ = dir.ListedRecord(i);
            kept->rootEntry_.reset();
            kept->index_ = int(k);
            ++k;
            ++i;
            continue;
        }
        // The run of new names up to the next kept child.
        const int end = k < children_.size() ? position.value(children_[k]->entry_->Name) : count;
        const int first = int(k);
        std::vector<std::unique_ptr<TDirectoryNode>> added;
        for (int j = i; j < end; ++j) {
            TFileInfo* entry = dir.ListedRecord(j);
            auto child = std::make_unique<TDirectoryNode>(tree_, this, 0, dir.EntryName(j), entry);
            // Folders are not looked into: each shows a button until it is read.
            child->hasChildren_ = (entry->Attr & faDirectory) != 0;
            added.push_back(std::move(child));
        }
        Host().InsertChildRows(this, first, first + (end - i) - 1, [&] {
            children_.insert(children_.begin() + first, std::make_move_iterator(added.begin()),
                             std::make_move_iterator(added.end()));
            Renumber(first);
        });
        k += size_t(end - i);
        i = end;
    }
}

void TDirectoryNode::Renumber(int from) {
    for (size_t k = size_t(from); k < children_.size(); ++k)
        children_[k]->index_ = int(k);
}

void TDirectoryNode::RemoveChild(int index) {
    Host().RemoveChildRow(this, index, [&] {
        children_.erase(children_.begin() + index);
        Renumber(index);
    });
}

void TDirectoryNode::LocationChanged(const QString&) {}
void TDirectoryNode::MaskChanged(const QString&) {}
