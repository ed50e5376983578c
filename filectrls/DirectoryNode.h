#pragma once
// A node of the folder tree: one folder (a drive, or a file when the tree lists files) with the
// listing model that reads its children on demand.
#include "filectrls/Directory.h"

#include <QString>

#include <memory>
#include <vector>

class TDirectoryNode;
class TDirectoryTreeView;

// Passes the calls of a node's listing model on to the node.
class TDirectoryNodeClient final : public IDirectoryClient {
public:
    explicit TDirectoryNodeClient(TDirectoryNode* node) : node_(node) {}

    bool EntryFound(const TSearchRec& file) override;
    void ListingEnded() override;
    bool ListingStarting() override;
    void LocationChanged(const QString& newLocation) override;
    void MaskChanged(const QString& newMask) override;

private:
    TDirectoryNode* node_; // not owned: the node owns this client
};

class TDirectoryNode {
public:
    // Made by the tree only. `entry` is owned by the parent's listing model, or (for a root,
    // entry == nullptr) by this node through `rootEntry`.
    TDirectoryNode(TDirectoryTreeView& tree, TDirectoryNode* parent, int index, QString text,
                   TFileInfo* entry, std::unique_ptr<TFileInfo> rootEntry = nullptr);
    ~TDirectoryNode();
    TDirectoryNode(const TDirectoryNode&) = delete;
    TDirectoryNode& operator=(const TDirectoryNode&) = delete;

    // The caption: the entry's name as the file system gives it (decoded), a drive's display
    // name, or the full path of a single root folder.
    const QString& Text() const { return text_; }
    // The entry shown by this node; nullptr never for nodes the tree builds.
    TFileInfo* Data() const { return entry_; }
    TDirectoryNode* Parent() const { return parent_; }
    // Position among the siblings (roots: among the roots).
    int Index() const { return index_; }
    int Level() const;
    int Count() const { return int(children_.size()); }
    // Child `index` in the listing's order; nullptr outside 0..Count()-1.
    TDirectoryNode* Item(int index) const;
    // The has-children flag: shows an expand button before the children are read.
    bool HasChildren() const { return hasChildren_; }
    int ImageIndex() const { return imageIndex_; }
    bool Expanded() const;
    TDirectoryTreeView& TreeView() const { return tree_; }
    // This node's listing model (never watched). Made on first use, with the settings the
    // tree had when the node was created: an unread folder costs no model (a folder of 10,000
    // subfolders makes 10,000 nodes).
    TDirectory& Directory();

    // The listing model's client calls.
    bool EntryFound(const TSearchRec& file);
    void ListingEnded();
    bool ListingStarting();
    void LocationChanged(const QString& newLocation);
    void MaskChanged(const QString& newMask);

private:
    friend class TDirectoryTreeView;
    friend class TDirectoryTreeModel;

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
    int imageIndex_ = -1;
    bool hasChildren_ = false;
    // Set while the model is configured: its setters must not list anything.
    bool configuring_ = false;
    TFileType fileType_; // the tree's FileType when the node was created
    // Destroyed in reverse order: the children first (their entries live in directory_), then
    // the model (which may still call the client while it goes), then the client.
    std::unique_ptr<TDirectoryNodeClient> client_;
    std::unique_ptr<TDirectory> directory_;
    std::vector<std::unique_ptr<TDirectoryNode>> children_;
};
