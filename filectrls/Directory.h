#pragma once
// The listing model behind the file list and every node of the folder tree.
#include "filectrls/FileInfo.h"
#include "platform/Paths.h"

#include <QString>

#include <memory>
#include <vector>

class TShellChangeThread;

// The owner of a listing model. Every call is made on the GUI thread.
class IDirectoryClient {
public:
    virtual ~IDirectoryClient() = default;
    // A found entry is offered; true adds it to the list.
    virtual bool EntryFound(const TSearchRec& file) = 0;
    // True (the default): EntryFound is given every field. False: it may be given an entry
    // described by name and kind alone (Size, Time and the read-only bit still 0), which the
    // model fills when the entry is first handed out; saves a stat per entry.
    virtual bool WantsEntryDetails() const { return true; }
    // An update has finished: the list is complete and sorted.
    virtual void ListingEnded() = 0;
    // An update is about to start; false cancels the whole update.
    virtual bool ListingStarting() = 0;
    // The location has been set (as stored, without a delimiter added).
    virtual void LocationChanged(const QString& newLocation) = 0;
    // The mask has changed.
    virtual void MaskChanged(const QString& newMask) = 0;
};

// A model that can name its class and copy its settings into another (Assign).
class TPersistent {
public:
    virtual ~TPersistent() = default;
    virtual QString ClassName() const = 0;
    // Copies source into this object; raises EConvertError when the classes do not fit.
    virtual void Assign(const TPersistent& source);

protected:
    // Copies this object into dest; the default raises EConvertError.
    virtual void AssignTo(TPersistent& dest) const;
};

// Result of TDirectory::Rename: the entry now describing the renamed file, or an error code.
struct TRenameResult {
    static constexpr int NameTaken = -4;
    static constexpr int RenameFailed = -1;

    TFileInfo* Entry = nullptr; // valid when Code == 0
    int Code = 0;

    bool ok() const { return Code == 0; }
};

class TDirectory : public TPersistent {
public:
    explicit TDirectory(IDirectoryClient* client = nullptr);
    ~TDirectory() override;
    TDirectory(const TDirectory&) = delete;
    TDirectory& operator=(const TDirectory&) = delete;

    QString ClassName() const override { return QStringLiteral("TDirectory"); }

    // Properties. Each setter acts at once, as described for the model.
    bool AutoUpdate() const { return autoUpdate_; }
    void SetAutoUpdate(bool value);
    bool IncludeParentDir() const { return includeParentDir_; }
    void SetIncludeParentDir(bool value);
    // Empty, or the stored location with a trailing '/'.
    QString Location() const;
    void SetLocation(const QString& value);
    TFileType FileType() const { return fileType_; }
    void SetFileType(TFileType value);
    QString FileMask() const { return fileMask_; }
    void SetFileMask(const QString& value);
    // Names sort by the case-insensitive collation of the default QLocale (the user's locale
    // unless a program or test sets another); in the C locale by case-folded code points.
    TSortMode SortMode() const { return sortMode_; }
    void SetSortMode(TSortMode value);
    TSortDirection SortDirection() const { return sortDirection_; }
    void SetSortDirection(TSortDirection value);

    // Entries in sort order. Pointers stay valid until the next re-read (or until Rename
    // replaces that entry). A bad index raises EListError. Entry gives the record complete:
    // what the listing left out is filled first, for this entry and the undescribed ones
    // near it (one opening of the folder for a screenful of rows, never for all of them).
    int Count() const;
    TFileInfo* Entry(int index);
    const TFileInfo* Entry(int index) const;
    // The entry as listed, for callers that need only its name and kind: Name, and the
    // directory, system, volume and hidden bits of Attr are right; Size, Time and the
    // read-only bit may still be 0 (Entry or DescribeEntry fills them). Costs no system call.
    const TSearchRec& ListedEntry(int index) const;
    // The same record, for a view that keeps it per row and fills it when the row is shown.
    TFileInfo* ListedRecord(int index);
    // Fills what the listing left out of `entry`, one of this model's records as ListedRecord
    // gives it (anything else is left alone), with the undescribed entries near it.
    void DescribeEntry(const TFileInfo* entry) const;
    // The entry's Name as a wide string: the caption views show.
    QString EntryName(int index) const;
    // Hands over the storage of the listed names and empties the listing: copies of
    // ListedEntry(i).Name taken before stay valid while the returned owner lives, without a
    // copy of their bytes each (a page of 100,000 documents outlives its listing).
    std::shared_ptr<const void> TakeNames();

    // Reread: clear, enumerate and sort; otherwise only sort. Bracketed by the client's
    // ListingStarting/ListingEnded.
    virtual void UpdateListing(bool reread);
    // UpdateListing(true); the watcher's callback.
    void Refresh();
    // 0 when the last re-read of a folder read all of it, else the errno that stopped it (the
    // folder could not be opened or read). The list then holds what was read before the
    // failure; callers that must not take a failure for an empty folder check this.
    int ListingError() const { return listingError_; }

    // Renames the entry's file within the location; never replaces an existing file or folder.
    TRenameResult Rename(TFileInfo* entry, const QString& newName);

protected:
    void AssignTo(TPersistent& dest) const override;

private:
    void ClearEntries();
    void AddEntry(TSearchRec&& rec, bool described = true);
    void ListDrives();
    // Reads the folder once for the folders and every mask segment (see the .cpp).
    void ListFolder();
    // Fills what the listing left out of the entries it knew by kind alone, in one pass.
    void DescribeEntries() const;
    // The same for the entries of [first, last).
    void DescribeRange(size_t first, size_t last) const;
    void SortEntries();
    void StartWatching();
    void StopWatching();
    int IndexOf(const TFileInfo* entry) const;

    IDirectoryClient* client_;
    bool autoUpdate_ = false;
    bool includeParentDir_ = true;
    TSortMode sortMode_ = smName;
    TFileType fileType_{ftSystem, ftDirectory, ftNormal};
    bool assigning_ = false;
    bool changingLocation_ = false;
    QString location_;
    int listingError_ = 0;
    QString fileMask_ = QStringLiteral("*.*");
    TSortDirection sortDirection_ = sdAscending;
    // The blocks that hold the entries' names (declared first: destroyed after the entries).
    class NameBlocks;
    std::unique_ptr<NameBlocks> names_;
    // Fitted to its size when a re-read ends (a deque's blocks would waste 6 bytes an entry);
    // nobody holds an entry's pointer while the list is being read. Mutable because reading
    // an entry may first fill its fields: what a caller sees is the same as if it had been
    // filled at once.
    mutable std::vector<TFileInfo> entries_;
    // Entries still to describe, and the folder they were listed from.
    mutable int undescribed_ = 0;
    platform::FolderId listedFolder_;
    TShellChangeThread* watcher_ = nullptr;
};
