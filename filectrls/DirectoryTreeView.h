#pragma once
// The folder tree: drives (or one root folder) at the top, folders read lazily the first time a
// node is opened or walked through, the selected folder reported as a path ending with '/'.
#include "filectrls/DirectoryNode.h"
#include "filectrls/SetDirectoryError.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPersistentModelIndex>
#include <QPixmap>
#include <QString>
#include <QTreeView>

#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;
class QTimer;
class TDirectoryTreeModel;
class TFileIconProvider;
namespace platform {
class FolderWatch;
}

class TDirectoryTreeView : public QTreeView, public TDirectoryNodeHost {
    Q_OBJECT

public:
    // Builds the drive roots at once (the widget exists from construction); put the tree into
    // the loading state with BeginLoading() before applying a layout's values.
    explicit TDirectoryTreeView(QWidget* parent = nullptr);
    ~TDirectoryTreeView() override;

    // The selected node's path (a folder path ending with '/'); empty with no selection.
    QString Directory() const;
    // Goes to a folder: walks from the matching root as far as the folders exist and selects
    // the deepest one found. Raises ESetDirectoryError for a path outside every root. While
    // loading the value is only stored. Never fires OnChange.
    void SetDirectory(const QString& value);

    // Empty: the roots are the drives. Otherwise one root folder (stored absolute, without the
    // trailing '/') or the drive root "/". Checked before anything changes: a missing folder
    // raises ESetDirectoryError and leaves the tree as it was.
    QString RootDirectory() const { return rootDirectory_; }
    void SetRootDirectory(const QString& value);

    // The kinds of entries every node lists; writing rebuilds the tree and goes back to the
    // selected folder.
    TFileType FileType() const { return fileType_; }
    void SetFileType(TFileType value);

    // In-place caption editing (off by default). An edited caption renames nothing, but the
    // node's path uses it.
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool value);

    // The loading state: values written while loading are stored and applied by Loaded(), in
    // this order: RootDirectory, Directory, FileType. Errors of those steps leave Loaded().
    void BeginLoading();
    void Loaded();
    bool IsLoading() const { return loading_; }

    // File-system bytes of the node's path, ending with '/'; empty for none.
    QByteArray NodePath(const TDirectoryNode* node) const;
    // Reads the node's folder into child nodes (through the node's listing model). A node read
    // before keeps the children still there, with their expansion and selection.
    void FillNode(TDirectoryNode* node);
    // Reads the node's folder again, as file managers' trees follow their folders. When the
    // folder is gone, its nearest ancestor that still exists is read instead, which removes
    // the gone branch; a selection inside it moves to that ancestor (without OnChange).
    // Answers the node that was read.
    TDirectoryNode* RefreshNode(TDirectoryNode* node);

    int RootCount() const { return int(roots_.size()); }
    TDirectoryNode* Root(int index) const;
    TDirectoryNode* Selected() const;
    TDirectoryNode* NodeOf(const QModelIndex& index) const;
    QModelIndex IndexOf(const TDirectoryNode* node) const;
    TDirectoryNode* NodeAt(const QPoint& viewportPos) const;

    // What the item model answers besides the caption (Qt::DisplayRole): the icon's index in
    // IconProvider(), looked up when first asked.
    enum ItemDataRole { ImageIndexRole = Qt::UserRole };

    TFileIconProvider* IconProvider() const { return iconProvider_; }
    // Rows as tall as the placeholder image, with a pixel of margin.
    int RowHeight(const QFontMetrics& metrics) const;
    const QPixmap& PlaceholderImage() const { return placeholder_; }
    // The hint for a viewport position: the whole caption when it is cut off by the edge of
    // the control, otherwise empty (the control's own tool tip applies).
    QString HintText(const QPoint& viewportPos) const;

    // True while expanded folders are watched: subfolders that come, go or are renamed show
    // within a moment. False once the system's watch limit was reached (F5 still reads).
    bool IsWatching() const { return !watchingStopped_; }

    // The user selected a node (mouse or keyboard); never fired for the tree's own changes.
    std::function<void(QObject* sender, TDirectoryNode* node)> OnChange;
    // A node is about to open; set allowExpansion to false to keep it closed (and unread).
    std::function<void(QObject* sender, TDirectoryNode* node, bool& allowExpansion)> OnExpanding;

signals:
    // Expanded folders are no longer watched (the system's limit of watches): sent once.
    void watchingStopped();

protected:
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    // The current row stays in sight, sideways too, also when the tree gets the focus.
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void focusInEvent(QFocusEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // TDirectoryNodeHost: the nodes' calls.
    bool NodesLoading() const override;
    void BeginNodeRead() override;
    void NodeChanged(TDirectoryNode* node) override;
    void EndNodeRead() override;
    void InsertChildRows(TDirectoryNode* parent, int first, int last,
                         const std::function<void()>& insert) override;
    void RemoveChildRow(TDirectoryNode* parent, int index,
                        const std::function<void()>& remove) override;

    void BeginUpdate();
    void EndUpdate();
    void ClearRoots();
    TDirectoryNode* AddRoot(QString text, std::unique_ptr<TFileInfo> entry);
    // The expansion request: OnExpanding, then the read of a node without children.
    bool ExpansionRequest(TDirectoryNode* node);
    bool ExpandNode(TDirectoryNode* node);
    void NodeExpandedByView(const QModelIndex& index);
    void SelectNode(TDirectoryNode* node);
    void KeepInSight(const QModelIndex& index);
    QStyleOptionViewItem viewOptionsFor(const QModelIndex& index) const;
    // The checked entry of a root folder (stored form, see SetRootDirectory); raises
    // ESetDirectoryError, naming `value`, for anything but a folder.
    TSearchRec RootEntry(const QString& root, bool drive, const QString& value) const;
    // The root a path starts from and its names below it; raises ESetDirectoryError when no
    // root begins the path.
    TreePathWalk WalkFor(const QString& path) const;
    bool StepDown(TDirectoryNode* node, QStringView component, TDirectoryNode*& next);
    static TDirectoryNode* ChildNamed(TDirectoryNode* node, QStringView name);
    TDirectoryNode* PassedChild(TDirectoryNode* node, QStringView name);
    void RefreshSelected();

    // One watch per expanded node, released when it collapses; changes are read together.
    void WatchNode(const QModelIndex& index);
    void UnwatchNode(const QModelIndex& index);
    void ReadWatchEvents();
    void RefreshWatched();
    void StopWatching();

    TDirectoryTreeModel* model_;
    std::vector<std::unique_ptr<TDirectoryNode>> roots_;
    bool selectionGuard_ = false;
    bool loading_ = false;
    bool readOnly_ = true;
    bool viewExpanding_ = false; // our own expansion is under way: the view's report is ours
    int updateCount_ = 0;
    TFileType fileType_{ftSystem, ftDirectory};
    QString rootDirectory_;
    QString pendingDirectory_;
    TFileIconProvider* iconProvider_ = nullptr; // shared, not owned
    QPixmap placeholder_;
    std::unique_ptr<platform::FolderWatch> folderWatch_; // made at the first expansion
    QSocketNotifier* watchNotifier_ = nullptr;
    QHash<int, QPersistentModelIndex> watched_; // by watch descriptor
    QList<QPersistentModelIndex> changedNodes_;
    QTimer* refreshTimer_ = nullptr;
    bool watchingStopped_ = false;
};
