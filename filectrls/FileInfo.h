#pragma once
// A listed entry and the enumerations of the listing model.
#include "platform/SearchRec.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <initializer_list>
#include <utility>

enum TFileAttr : quint8 {
    ftReadOnly,
    ftHidden,
    ftSystem,
    ftVolumeID,
    ftDirectory,
    ftArchive,
    ftNormal
};

// A set of TFileAttr, bit i for the i-th value: bits 0 to 5 coincide with the attribute bits.
class TFileType {
public:
    constexpr TFileType() = default;
    constexpr TFileType(std::initializer_list<TFileAttr> attrs) {
        for (TFileAttr a : attrs)
            bits_ |= quint8(1u << a);
    }
    static constexpr TFileType fromBits(quint8 bits) {
        TFileType t;
        t.bits_ = bits;
        return t;
    }
    constexpr quint8 bits() const { return bits_; }
    constexpr bool contains(TFileAttr a) const { return bits_ & (1u << a); }
    constexpr TFileType with(TFileAttr a) const { return fromBits(quint8(bits_ | (1u << a))); }
    constexpr TFileType without(TFileAttr a) const { return fromBits(quint8(bits_ & ~(1u << a))); }
    friend constexpr bool operator==(TFileType, TFileType) = default;

private:
    quint8 bits_ = 0;
};

enum TSortMode : quint8 { smNone, smName, smSize, smType, smDate, smAttributes, smOwner, smGroup };
enum TSortDirection : quint8 { sdAscending, sdDescending };

// A search record followed by the caches of the icon provider and of the type text. Kept
// compact: a listing of 100,000 entries holds 100,000 of these (FileName stays empty except
// for drives).
// A listing's own records name their entries by views of its name blocks (see OwnedName); a
// copy of a record owns its name, so it stays valid after the listing is read again.
struct TFileInfo : TSearchRec {
    TFileInfo() = default;
    explicit TFileInfo(const TSearchRec& rec) : TSearchRec(rec) { Name = OwnedName(Name); }
    explicit TFileInfo(TSearchRec&& rec) : TSearchRec(std::move(rec)) {}
    TFileInfo(const TFileInfo& other) : TFileInfo(static_cast<const TSearchRec&>(other)) {
        ImageIndex = other.ImageIndex;
        described_ = other.described_;
        TypeName = other.TypeName;
    }
    TFileInfo& operator=(const TFileInfo& other) {
        if (this != &other)
            *this = TFileInfo(other);
        return *this;
    }
    TFileInfo(TFileInfo&&) noexcept = default;
    TFileInfo& operator=(TFileInfo&&) noexcept = default;
    ~TFileInfo() = default;

    // Icon index cache: -2 = not looked up yet.
    int ImageIndex = -2;

private:
    friend class TDirectory;
    // False while the listing knows the entry by name and kind alone: its model fills the
    // read-only bit, Size and Time before anyone else sees the record. Sits in padding.
    bool described_ = true;

public:
    // Type text cache (see FileTypeText); empty in every record the listing creates.
    QString TypeName;
};

// A new record for a search record: ImageIndex -2, TypeName empty.
TFileInfo NewFileInfo(const TSearchRec& rec);

// "Volume" (not cached), "Directory" or "File" (cached in TypeName), or the cached TypeName.
QString FileTypeText(TFileInfo& entry);

// The hint line of a name whose bytes are not UTF-8 (shown through the conversion code page).
QString NotUtf8NameHint();

// "R", "H", "S", "A" for the bits 0x01, 0x02, 0x04, 0x20, in this order.
QString AttributeLetters(quint32 attr);

// Path functions. A folder path is absolute and ends with '/'; the drive root is "/".
bool HasDriveLetter(QStringView s);
bool IsDriveRoot(QStringView path);
// Lexical: resolved against the current folder, "." ".." and doubled '/' folded, a trailing
// '/' kept as written; symbolic links are never resolved.
QString NormalizeLocation(const QString& dir);
// A drive entry for a mount path (with or without the trailing '/').
void FillDriveEntry(const QString& drive, TSearchRec& rec);

// Names that differ only in case (the tree's fallback when no name matches exactly).
bool SameNameIgnoringCase(QStringView a, QStringView b);

// How the folder tree walks a path: the root it starts from and the folder names below it.
// Of `roots` (a drive's mount path or the root folder each; an empty one is no root) the
// longest that begins `path` in whole components, ignoring case, wins (the first of equals).
// The names go up to the first empty one (the end, or a doubled '/').
struct TreePathWalk {
    qsizetype root = -1;           // index into `roots`, -1 when none begins the path
    QList<QStringView> components; // views into `path`
};
TreePathWalk SplitTreePath(QStringView path, const QList<QString>& roots);
