#pragma once
// Folder enumeration with the search rules of the listing: an attribute mask, case-insensitive
// wildcards, attributes and packed DOS times from stat. Names are file-system bytes throughout;
// nothing here makes a QString per entry, so 100,000 entries list quickly.
#include "platform/HeldFolder.h"
#include "platform/Paths.h"
#include "platform/SearchRec.h"

#include <QByteArray>

#include <ctime>
#include <vector>

struct stat;

namespace platform {

// An entry is returned unless it carries a hidden, system, volume or directory bit that the
// search mask lacks (read-only and archive never keep an entry out).
constexpr bool passesSearchMask(quint32 attr, quint32 mask) {
    return (attr & (faHidden | faSysFile | faVolumeID | faDirectory) & ~mask) == 0;
}

// A wildcard pattern of a file mask: case-insensitive, '*' any run, '?' one
// character; "*" and "*.*" match every name (also names without a dot); a pattern ending in
// '.' matches names without an extension only. Names are UTF-8 (bytes of an invalid sequence
// count as one character each).
class WildcardPattern {
public:
    WildcardPattern() = default;
    explicit WildcardPattern(QByteArrayView pattern);

    bool matches(QByteArrayView name) const;
    bool matchesAll() const { return all_; }
    // An empty pattern finds nothing: an empty mask segment is no request for every name.
    bool isEmpty() const { return empty_; }

private:
    std::vector<char32_t> units_; // case-folded; '*' and '?' as themselves
    // For a pattern of '*' and plain ASCII characters ("*_.txt"), those characters: a name
    // whose last bytes are ASCII is decided by comparing them, without decoding the name.
    QByteArray asciiTail_;
    quint64 tailWord_ = 0; // a tail of up to 8 bytes as one word, as Words.h loads it
    bool all_ = false;
    bool empty_ = true;
    bool noExtension_ = false;
};

// Length in characters of the extension of `name`, the dot included: the part from the last
// '.' after the last '/'; 0 when there is none.
int extensionLength(QByteArrayView name);

// Packs a time as local time in DOS form (date high, time low, two-second steps); before 1980
// gives 1980-01-01 00:00:00, after 2107 gives 2107-12-31 23:59:58.
quint32 packDosTime(std::time_t t);
// The same for a broken-down local time (year as in struct tm: years since 1900).
quint32 packDosTime(const std::tm& local);
inline constexpr quint32 kDosTimeMin = 0x00210000u;
inline constexpr quint32 kDosTimeMax = 0xFF9FBF7Du;

// Attribute bits for a stat result and the entry's name. The one mapping of a file's kind and
// mode to attribute bits: the listing and the change watcher both use it.
quint32 attributesOf(const struct stat& st, QByteArrayView name);

// Stats `name` relative to `dirFd` as a listing describes an entry: following a link; a link
// that leads nowhere (dangling, a loop, a file in the middle of its path) is described by the
// link itself. 0 or the errno. The fault hooks are named by the caller (null: none), so that
// a watcher thread never takes a fault meant for a listing.
int statEntry(int dirFd, const char* name, struct stat& st, const char* statHook = "stat",
              const char* lstatHook = "lstat");

// Reads the entries of one folder. Each entry's name and, mostly, its kind are cheap to look
// at; describe() stats it (see statEntry). "." is never returned; ".." is not returned at "/".
class FolderReader {
public:
    // `folder`: file-system bytes, with or without a trailing '/'.
    explicit FolderReader(const QByteArray& folder);
    ~FolderReader();
    FolderReader(const FolderReader&) = delete;
    FolderReader& operator=(const FolderReader&) = delete;

    // 0 while all is well, else the errno of opening or of reading the folder.
    int error() const { return error_; }
    // Advances to the next entry; false at the end or on a read error (see error()).
    bool next();
    // The current entry's name; valid until next().
    QByteArrayView name() const { return name_; }
    // False only when the folder says the entry is neither a folder nor a link (no stat).
    bool maybeFolder() const { return kind_ == 0 || kind_ == faDirectory; }
    // The attribute bits known without a stat (kind and hidden; never read-only), or 0 when
    // only a stat can tell: the entry is a link or the file system gave no type.
    quint32 kindAttributes() const;
    // Fills Attr, Size, Time (not Name) of the current entry; false when it vanished.
    bool describe(TSearchRec& rec) const;
    // The folder read, to describe its entries later (see ListedFolder); zeros when unknown.
    const FolderId& identity() const { return identity_; }

private:
    void* dir_ = nullptr; // DIR*
    int error_ = 0;
    bool atRoot_ = false;
    quint32 kind_ = 0; // faDirectory, faArchive or faSysFile from the entry type; 0 unknown
    QByteArrayView name_;
    FolderId identity_;
};

// A folder listed earlier, opened again to describe entries that were listed by kind alone.
// The path is opened as the listing opened it, and used only when it still names the folder
// that was listed (same device and inode); no descriptor is kept beyond this object, so a
// tree of thousands of listings holds none.
class ListedFolder {
public:
    ListedFolder(const QByteArray& folder, const FolderId& listed);

    // Adds the read-only bit, Size and Time to `rec` (its Name and kind as listed). False, and
    // `rec` unchanged, when the entry is gone or is no longer of the kind listed: a name that
    // has become a link is not followed.
    bool describe(TSearchRec& rec) const;

private:
    FileHandle folder_; // not open when the folder is no longer the one listed
};

// Every entry of `folder` whose name matches `pattern` and which passes `mask`, in the order
// the folder gives them.
std::vector<TSearchRec> findAll(const QByteArray& folder, QByteArrayView pattern, quint32 mask);

// Looks one path up exactly (case-sensitive, no wildcards); true when it exists and passes
// `mask`. rec.Name becomes the last component.
bool findOne(const QByteArray& path, quint32 mask, TSearchRec& rec);

} // namespace platform
