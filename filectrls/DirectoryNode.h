#pragma once
// A node of the folder tree: one folder (a drive, or a file when the tree lists files) with the
// listing model that reads its children on demand.
#include "filectrls/Directory.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

class TDirectoryNode;
class TDirectoryTreeView;

class TFileIconProvider;

// What a node needs of the tree that holds it, which implements this. GUI thread only.
class TDirectoryNodeHost {
public:
    // While the tree loads its layout, nodes read nothing.
    virtual bool NodesLoading() const = 0;
    // A read of a node's folder begins and ends (the tree paints once, at the end); in
    // between, the node's look has changed.
    virtual void BeginNodeRead() = 0;
    virtual void NodeChanged(TDirectoryNode* node) = 0;
    virtual void EndNodeRead() = 0;
    // Runs `insert`, which adds the children first..last of `parent`, as one row insertion.
    virtual void InsertChildRows(TDirectoryNode* parent, int first, int last,
                                 const std::function<void()>& insert) = 0;
    // Runs `remove`, which takes child `index` of `parent` away, as one row removal; a
    // selection inside that child's branch first moves up to `parent`.
    virtual void RemoveChildRow(TDirectoryNode* parent, int index,
                                const std::function<void()>& remove) = 0;

protected:
    ~TDirectoryNodeHost() = default;
};

// The node is the client of its own listing model.
class TDirectoryNode final : public IDirectoryClient {
public:
    // Made by the tree only. `entry` is owned by the parent's listing model, or (for a root,
    // entry == nullptr) by this node through `rootEntry`.
    TDirectoryNode(TDirectoryTreeView& tree, TDirectoryNode* parent, int index, QString text,
                   TFileInfo* entry, std::unique_ptr<TFileInfo> rootEntry = nullptr);
    ~TDirectoryNode() override;
    TDirectoryNode(const TDirectoryNode&) = delete;
    TDirectoryNode& operator=(const TDirectoryNode&) = delete;

    // The caption: the entry's name as the file system gives it (decoded), a drive's display
    // name, or the full path of a single root folder.
    const QString& Text() const { return text_; }
    // The caption as edited in place (renames nothing; the node's path uses it).
    void SetText(const QString& text);
    // The entry shown by this node, every field filled (the parent's listing knows its
    // entries by name and kind until one is asked for); nullptr never for nodes the tree builds.
    TFileInfo* Data() const;
    TDirectoryNode* Parent() const { return parent_; }
    // Position among the siblings (roots: among the roots).
    int Index() const { return index_; }
    int Level() const;
    int Count() const { return int(children_.size()); }
    // Child `index` in the listing's order; nullptr outside 0..Count()-1.
    TDirectoryNode* Item(int index) const;
    // The has-children flag: shows an expand button before the children are read.
    bool HasChildren() const { return hasChildren_; }
    void SetHasChildren(bool value) { hasChildren_ = value; }
    // The image index of the last look-up; LookUpImageIndex asks the provider (which caches
    // it in the entry) and keeps the answer.
    int ImageIndex() const { return imageIndex_; }
    int LookUpImageIndex(TFileIconProvider& icons);
    bool Expanded() const;
    TDirectoryTreeView& TreeView() const { return tree_; }
    // This node's listing model (never watched). Made on first use, with the settings the
    // tree had when the node was created: an unread folder costs no model (a folder of 10,000
    // subfolders makes 10,000 nodes).
    TDirectory& Directory();

    // Adds the child folder `rec` to a node whose folder could not be listed (it may be passed
    // but not read), so that a walk reaches what lies below; a later listing that succeeds
    // takes it over. Answers the new child.
    TDirectoryNode* AddPassedChild(const TSearchRec& rec);

    // IDirectoryClient: the calls of this node's own listing model.
    bool EntryFound(const TSearchRec& file) override;
    bool WantsEntryDetails() const override { return false; }
    void ListingEnded() override;
    bool ListingStarting() override;
    void LocationChanged(const QString& newLocation) override;
    void MaskChanged(const QString& newMask) override;

private:
    TDirectoryNodeHost& Host() const; // the tree, as far as a node may use it
    void MergeChildren();
    void RemoveChild(int index);
    // Sets the positions of the children from `from` on.
    void Renumber(int from);

    TDirectoryTreeView& tree_;
    TDirectoryNode* parent_;
    int index_;
    QString text_;
    TFileInfo* entry_;
    // A root's entry; for another node, a copy held while its parent's folder is re-read.
    std::unique_ptr<TFileInfo> rootEntry_;
    int imageIndex_; // the closed folder's (0) until looked up; -1 for a drive
    bool hasChildren_ = false;
    // Set while the model is configured: its setters must not list anything.
    bool configuring_ = false;
    TFileType fileType_; // the tree's FileType when the node was created
    // Destroyed in reverse order: the children first (their entries live in directory_), then
    // the model (which may still call this node, its client, while it goes).
    std::unique_ptr<TDirectory> directory_;
    std::vector<std::unique_ptr<TDirectoryNode>> children_;
};
