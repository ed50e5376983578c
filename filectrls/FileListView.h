#pragma once
// The file list: one row per entry of its own listing model, in the model's order, with an
// icon, the name, size, type, date and attribute letters. Rows hold only what an item holds
// (the entry, its caption, its image index); the item model computes every cell's text, icon
// and hint from the entry when asked, and the cells are painted from its answers, so a folder
// of 100,000 entries costs no object per row.
#include "filectrls/Directory.h"
#include "filectrls/FileListCells.h"

#include <QStyle>
#include <QTreeView>

#include <functional>
#include <memory>
#include <optional>

class TFileIconProvider;
class TFileListModel;
class TFileListItemEditor;

enum TViewStyle : quint8 { vsList, vsReport };
enum TCustomDrawStage : quint8 { cdPrePaint, cdPostPaint };

class TFileListView : public QTreeView, public IDirectoryClient {
    Q_OBJECT
    // For the window's layout (Qt Designer promotion): the model's settings of the layout.
    Q_PROPERTY(bool readOnly READ ReadOnly WRITE SetReadOnly)
    Q_PROPERTY(bool rowSelect READ RowSelect WRITE SetRowSelect)
    Q_PROPERTY(bool reportStyle READ IsReportStyle WRITE SetReportStyle)
    Q_PROPERTY(QString fileMask READ FileMask WRITE SetFileMask)
    Q_PROPERTY(bool autoUpdate READ AutoUpdate WRITE SetAutoUpdate)

public:
    // Column tags, in the initial column order.
    enum ColumnTag { ColName, ColSize, ColType, ColDate, ColAttributes, ColumnCount };
    // The hint stays up this long (milliseconds): until the mouse leaves the item.
    static constexpr int HintHidePause = 2147483647;
    // What the item model answers for column 0 besides its texts (Qt::DisplayRole: the
    // caption or the cell text; Qt::ToolTipRole: the entry's details for the hint).
    enum ItemDataRole {
        ImageIndexRole = Qt::UserRole, // the icon's index in IconProvider()
        EntryNameRole,                 // the name drawn: the entry's, empty without one
    };

    explicit TFileListView(QWidget* parent = nullptr);
    ~TFileListView() override;

    // The owned listing model. SetDirectory copies another model's settings and entries into
    // it (the model's assignment); the model itself is never replaced.
    TDirectory& Directory() { return *directory_; }
    const TDirectory& Directory() const { return *directory_; }
    void SetDirectory(const TDirectory& source);

    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool value);
    bool RowSelect() const { return rowSelect_; }
    void SetRowSelect(bool value);
    TViewStyle ViewStyle() const { return viewStyle_; }
    void SetViewStyle(TViewStyle value);
    bool IsReportStyle() const { return viewStyle_ == vsReport; }
    void SetReportStyle(bool value) { SetViewStyle(value ? vsReport : vsList); }
    QString FileMask() const { return directory_->FileMask(); }
    void SetFileMask(const QString& value) { directory_->SetFileMask(value); }
    bool AutoUpdate() const { return directory_->AutoUpdate(); }
    void SetAutoUpdate(bool value) { directory_->SetAutoUpdate(value); }

    // True while the model lists the drives.
    bool ShowingDrives() const;
    TFileIconProvider* IconProvider() const { return iconProvider_; }

    // Items: one per model entry after every listing update (until a rename removes one).
    int ItemCount() const;
    QString ItemCaption(int item) const;
    // The item's entry, every field filled (on first need: the listing knows its entries by
    // name and kind alone until a row is shown).
    TFileInfo* ItemData(int item) const;
    // The item's entry as listed: its name and the kind bits of Attr are right; Size, Time and
    // the read-only bit may still be 0. Costs no system call.
    const TFileInfo* ListedItem(int item) const;
    int ItemImageIndex(int item) const;
    // The selected item, -1 when none; selecting -1 clears the selection.
    int SelectedItem() const;
    void SelectItem(int item);
    // The hint for an item as the view shows it; empty when the item has no entry.
    QString HintText(int item) const;

    // Navigation: the parent folder (the drive list from a drive root); the selected folder
    // or drive.
    void GoUp();
    void OpenSelected();
    // Renames the item's file: the model's result, or nothing when no rename was attempted
    // (empty name, or the same name). Refusals are shown with ShowErrorMessage.
    std::optional<TRenameResult> RenameItem(int item, const QString& newName);

    // The layout-loading state: while loading, listing updates are refused; Loaded() ends it
    // and lists the model's location.
    void BeginLoading() { loading_ = true; }
    void Loaded();
    bool IsLoading() const { return loading_; }

    // Events (sender first).
    std::function<void(QObject* sender, const QString& newDir)> OnDirectoryChanged;
    std::function<void(QObject* sender, const TSearchRec& file, bool& canAdd)> OnFileFound;
    std::function<void(QObject* sender, const QString& newMask)> OnMaskChange;
    std::function<void(TFileListView* sender, int item, QPainter& canvas, const QRect& rect,
                       QStyle::State state, TCustomDrawStage stage, bool& defaultDraw)>
        OnCustomDrawItem;
    std::function<void(TFileListView* sender, int item, int column, QPainter& canvas,
                       const QRect& rect, QStyle::State state, TCustomDrawStage stage,
                       bool& defaultDraw)>
        OnCustomDrawSubItem;

    // IDirectoryClient: the model's calls, on the GUI thread. Entries are listed by name and
    // kind (filled when shown) unless a handler of OnFileFound may look at every field.
    bool EntryFound(const TSearchRec& file) override;
    bool WantsEntryDetails() const override { return bool(OnFileFound); }
    void ListingEnded() override;
    bool ListingStarting() override;
    void LocationChanged(const QString& newLocation) override;
    void MaskChanged(const QString& newMask) override;

signals:
    // The model has read the folder it showed again (the watcher, F5): the items are new, the
    // current item and selection were kept by name.
    void folderReread();

protected:
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;

private:
    void CreateColumns();
    void FinishListing();
    void RestoreCurrentItem();
    int ItemNamed(const QByteArray& name) const;
    void SelectByName(const QByteArray& current, const QByteArray& selected);
    void ColumnClick(int column);
    bool CanEdit(int item) const;
    // The end of an in-place edit: renames, and answers the caption the item keeps.
    void ItemEdited(int item, QString text);
    std::optional<TRenameResult> Rename(int item, const QString& newName, bool deferBox);
    void RemoveItem(int item);
    bool WantsKey(const QKeyEvent& key) const;
    bool CurrentIsFolder() const;
    // Opens a folder or drive item; ".." goes up instead (as Backspace does).
    void OpenItem(int item);
    void Enter(int item);
    int ImageWidth() const;
    TFileInfo* ListedData(int item) const;

    std::unique_ptr<TDirectory> directory_;
    TFileListModel* model_ = nullptr;
    TFileListItemEditor* editor_ = nullptr;
    TFileIconProvider* iconProvider_ = nullptr;
    bool readOnly_ = true;
    bool rowSelect_ = false;
    bool loading_ = false;
    bool cursorSaved_ = false;
    bool updating_ = false;
    TViewStyle viewStyle_ = vsList;
    // Names (file-system bytes) of the current and selected items before a re-read, and of
    // the folder that going up has left.
    QByteArray keptCurrent_;
    QByteArray keptSelected_;
    QByteArray revisit_;
    // Counts listing updates, so that a deferred step can tell that its items are gone.
    quint64 generation_ = 0;
};
