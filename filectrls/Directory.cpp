#include "filectrls/Directory.h"

#include "base/ApplicationException.h"
#include "base/Exception.h"
#include "filectrls/ShellChangeThread.h"
#include "platform/Enumerate.h"
#include "platform/FsString.h"
#include "platform/Mounts.h"
#include "platform/Paths.h"
#include "platform/Words.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>
#include <QScopedValueRollback>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <numeric>
#include <optional>
#include <vector>

// ---------------------------------------------------------------------------------------------
// TPersistent

void TPersistent::Assign(const TPersistent& source) {
    source.AssignTo(*this);
}

void TPersistent::AssignTo(TPersistent& dest) const {
    throw EConvertError(ClassName(), dest.ClassName());
}

// ---------------------------------------------------------------------------------------------
// Name order

namespace {

template <typename T> int compareValues(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

// Precomputed keys for the locale's case-insensitive name comparison, one per entry. Under ICU
// with a real locale the collator's sort keys agree with its compare(); in the C locale Qt's
// keys are case-sensitive, so there the key is the case-folded name (compared as code points),
// which is the comparison itself. Folded keys live in one buffer, so a listing of 100,000
// names costs no allocation per name.
class NameKeys {
public:
    explicit NameKeys(size_t count) {
        const QLocale locale;
        folded_ = locale.language() == QLocale::C;
        if (folded_) {
            spans_.reserve(count);
            buffer_.reserve(qsizetype(count) * 16); // a guess at the names' length: few regrowths
        } else {
            collator_.emplace(locale);
            collator_->setCaseSensitivity(Qt::CaseInsensitive);
            keys_.reserve(count);
        }
    }

    void add(QByteArrayView name) {
        if (!folded_) {
            keys_.push_back(collator_->sortKey(platform::fromFsBytes(name)));
            return;
        }
        // Folded as ASCII while copied; a name with any other byte is folded again in full.
        const qsizetype start = buffer_.size();
        buffer_.resize(start + name.size());
        char* const out = buffer_.data() + start;
        unsigned bytes = 0;
        for (qsizetype i = 0; i < name.size(); ++i) {
            const auto c = static_cast<unsigned char>(name[i]);
            bytes |= c;
            out[i] = char(unsigned(c - 'A') < 26 ? c + 32 : c);
        }
        if (bytes >= 0x80) {
            buffer_.truncate(start);
            buffer_.append(platform::fromFsBytes(name).toCaseFolded().toUtf8());
        }
        spans_.push_back(Span{quint32(start), quint32(buffer_.size() - start)});
    }

    // True when keys are folded names compared byte by byte, which prefix() can stand for.
    bool folded() const { return folded_; }

    // A folded key's bytes.
    QByteArrayView key(size_t index) const {
        const Span span = spans_[index];
        return QByteArrayView(buffer_.constData() + span.start, span.length);
    }

    // Key bytes [skip, skip + 8) as a big-endian number, zero past the end: two keys whose
    // numbers differ compare as their numbers do (no key holds a zero byte), so a sort
    // compares numbers and reads the keys themselves only on a tie.
    quint64 prefix(size_t index, qsizetype skip) const {
        const QByteArrayView bytes = key(index);
        if (bytes.size() - skip >= 8) {
            const quint64 word = platform::words::load(bytes.data() + skip);
            return qFromBigEndian(word); // the key's bytes in order, most significant first
        }
        quint64 value = 0;
        for (qsizetype i = skip; i < skip + 8; ++i)
            value = (value << 8) | (i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u);
        return value;
    }

    int compare(size_t a, size_t b) const {
        if (!folded_) {
            const int r = keys_[a].compare(keys_[b]);
            return r < 0 ? -1 : (r > 0 ? 1 : 0);
        }
        const Span x = spans_[a], y = spans_[b];
        const int r = std::memcmp(buffer_.constData() + x.start, buffer_.constData() + y.start,
                                  std::min(x.length, y.length));
        if (r != 0)
            return r < 0 ? -1 : 1;
        return compareValues(x.length, y.length);
    }

private:
    struct Span {
        quint32 start;
        quint32 length;
    };
    bool folded_ = true;
    std::optional<QCollator> collator_;
    std::vector<QCollatorSortKey> keys_;
    QByteArray buffer_;
    std::vector<Span> spans_;
};

} // namespace

// Names of one listing packed into 4 KiB blocks the listing owns instead of one heap block
// each (a listing of 100,000 entries saved 40 bytes an entry). A name is a view of its block
// (QByteArray::fromRawData), valid until the listing is read again or destroyed: a record
// copied out of it owns its name (TFileInfo's copy), and so does whatever keeps a bare name
// longer (OwnedName). Writing to a name detaches it as for any raw-data array. Every name is
// followed by a '\0', as constData() promises.
class TDirectory::NameBlocks {
public:
    QByteArray add(QByteArrayView name) {
        const qsizetype need = name.size() + 1;
        if (need > kBlock / 8)
            return name.toByteArray(); // long names alone, so a block is never mostly waste
        if (blocks_.empty() || used_ + need > kBlock) {
            blocks_.push_back(std::make_unique_for_overwrite<char[]>(size_t(kBlock)));
            used_ = 0;
        }
        char* at = blocks_.back().get() + used_;
        platform::words::copyShort(at, name.data(), size_t(name.size()));
        at[name.size()] = '\0';
        used_ += need;
        return QByteArray::fromRawData(at, name.size());
    }

private:
    static constexpr qsizetype kBlock = 4096 - 16; // with malloc's header within one page
    std::vector<std::unique_ptr<char[]>> blocks_;
    qsizetype used_ = 0;
};

// ---------------------------------------------------------------------------------------------
// TDirectory

TDirectory::TDirectory(IDirectoryClient* client) : client_(client) {}

TDirectory::~TDirectory() {
    StopWatching();
}

void TDirectory::SetAutoUpdate(bool value) {
    if (value == autoUpdate_)
        return;
    autoUpdate_ = value;
    if (value)
        StartWatching();
    else
        StopWatching();
}

void TDirectory::SetIncludeParentDir(bool value) {
    if (value == includeParentDir_)
        return;
    includeParentDir_ = value;
    UpdateListing(true);
}

QString TDirectory::Location() const {
    return platform::withTrailingSlash(location_);
}

void TDirectory::SetLocation(const QString& value) {
    const QString location = value.isEmpty() ? QString() : NormalizeLocation(value);
    if (changingLocation_)
        return; // written again from inside the change it started: dropped
    location_ = location;
    const QScopedValueRollback changing(changingLocation_, true);
    if (autoUpdate_)
        StartWatching();
    UpdateListing(true);
    if (client_ && !assigning_)
        client_->LocationChanged(location_);
}

void TDirectory::SetFileType(TFileType value) {
    if (value == fileType_)
        return;
    fileType_ = value;
    UpdateListing(true);
}

void TDirectory::SetFileMask(const QString& value) {
    if (value == fileMask_)
        return;
    fileMask_ = value;
    UpdateListing(true);
    if (client_ && !assigning_)
        client_->MaskChanged(fileMask_);
}

void TDirectory::SetSortMode(TSortMode value) {
    if (value == sortMode_)
        return;
    sortMode_ = value;
    UpdateListing(false);
}

void TDirectory::SetSortDirection(TSortDirection value) {
    if (value == sortDirection_)
        return;
    sortDirection_ = value;
    UpdateListing(false);
}

int TDirectory::Count() const {
    return int(entries_.size());
}

TFileInfo* TDirectory::Entry(int index) {
    DescribeEntry(ListedRecord(index));
    return &entries_[size_t(index)];
}

const TFileInfo* TDirectory::Entry(int index) const {
    ListedEntry(index);
    DescribeEntry(&entries_[size_t(index)]);
    return &entries_[size_t(index)];
}

TFileInfo* TDirectory::ListedRecord(int index) {
    ListedEntry(index);
    return &entries_[size_t(index)];
}

const TSearchRec& TDirectory::ListedEntry(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(index);
    return entries_[size_t(index)];
}

QString TDirectory::EntryName(int index) const {
    return platform::fromFsBytes(ListedEntry(index).Name);
}

void TDirectory::UpdateListing(bool reread) {
    if (client_ && !client_->ListingStarting())
        return;
    try {
        if (reread) {
            ClearEntries();
            listingError_ = 0;
            if (location_.isEmpty())
                ListDrives();
            else
                ListFolder();
            entries_.shrink_to_fit();
        }
        if (sortMode_ != smNone)
            SortEntries();
    } catch (...) {
        // The list keeps what was added so far; the client still hears the end.
        if (client_)
            client_->ListingEnded();
        throw;
    }
    if (client_)
        client_->ListingEnded();
}

void TDirectory::Refresh() {
    UpdateListing(true);
}

void TDirectory::ClearEntries() {
    std::vector<TFileInfo>().swap(entries_);
    names_.reset(); // after the entries that view them
    undescribed_ = 0;
}

void TDirectory::AddEntry(TSearchRec&& rec, bool described) {
    if (client_ && !client_->EntryFound(rec))
        return;
    entries_.emplace_back(std::move(rec)).described_ = described;
    undescribed_ += described ? 0 : 1;
}

void TDirectory::ListDrives() {
    for (TSearchRec& rec : platform::listDrives())
        AddEntry(std::move(rec));
}

namespace {

// What the file type lets into a listing, as attribute masks.
struct ListingFilter {
    explicit ListingFilter(TFileType type, bool withParent)
        : wantFolders(type.contains(ftDirectory)),
          wantFiles(type.contains(ftArchive) || type.contains(ftNormal)),
          normal(type.contains(ftNormal)), includeParent(withParent),
          folderMask(faDirectory | (type.contains(ftSystem) ? faSysFile : 0) |
                     (type.contains(ftHidden) ? faHidden : 0)),
          fileMask(type.bits() & (faReadOnly | faHidden | faSysFile | faVolumeID | faArchive)) {}

    // Folders are never files: the file search mask lacks the directory bit.
    bool takesFolder(quint32 attr, QByteArrayView name) const {
        return wantFolders && platform::passesSearchMask(attr, folderMask) &&
               (includeParent || name != "..");
    }
    // Without ftNormal a file must also carry one of the asked-for attributes.
    bool takesFile(quint32 attr, bool extensionFits) const {
        return normal ? extensionFits : (extensionFits && (attr & fileMask) != 0);
    }
    // Only that last rule can need the read-only bit, which only a stat gives.
    bool needsMode() const { return !normal && (fileMask & faReadOnly); }

    bool wantFolders, wantFiles, normal, includeParent;
    quint32 folderMask, fileMask;
};

// A record found and whether it has been described (stat'ed) yet.
struct Found {
    TSearchRec rec;
    bool described;
};

// One ';'-separated part of the file mask and the files it found.
struct MaskSegment {
    platform::WildcardPattern pattern;
    int maskExtLen;
    std::vector<Found> found;
};

std::vector<MaskSegment> maskSegments(const QString& mask) {
    std::vector<MaskSegment> segments;
    for (const QString& part : mask.split(QLatin1Char(';'))) {
        const QByteArray bytes = platform::toFsBytes(part);
        // A segment naming another folder would search there; the listing stays in its own.
        segments.push_back(MaskSegment{bytes.contains('/') ? platform::WildcardPattern()
                                                           : platform::WildcardPattern(bytes),
                                       platform::extensionLength(bytes),
                                       {}});
    }
    return segments;
}

} // namespace

// The folders and the files of every mask segment come from one reading of the folder. An
// entry whose name matches no segment and which cannot be a folder is never stat'ed; the
// others are known by the kind the folder gives, and stat'ed at once only when that kind is
// unknown or a link (whose target decides), when the filter needs the mode, or when the client
// wants every field; the rest is filled on first need (DescribeEntries). Entries are offered
// in the listing's order all the same: the folders in the order found, then the files segment
// by segment (a file matching two segments twice).
void TDirectory::ListFolder() {
    const ListingFilter filter(fileType_, includeParentDir_);
    std::vector<MaskSegment> segments;
    if (filter.wantFiles)
        segments = maskSegments(fileMask_);
    const bool statAll = filter.needsMode() || (client_ && client_->WantsEntryDetails());
    std::vector<char> matched(segments.size());

    if (!names_)
        names_ = std::make_unique<NameBlocks>();
    platform::FolderReader reader(platform::toFsBytes(location_));
    listedFolder_ = reader.identity();
    while (reader.next()) {
        const QByteArrayView name = reader.name();
        bool any = filter.wantFolders && reader.maybeFolder();
        for (size_t i = 0; i < segments.size(); ++i) {
            matched[i] = segments[i].pattern.matches(name);
            any = any || matched[i];
        }
        if (!any)
            continue;
        Found entry{TSearchRec{}, true};
        entry.rec.Attr = statAll ? 0 : reader.kindAttributes();
        if (entry.rec.Attr != 0)
            entry.described = false;
        else if (!reader.describe(entry.rec))
            continue;
        entry.rec.Name = names_->add(name);
        if (entry.rec.Attr & faDirectory) {
            if (filter.takesFolder(entry.rec.Attr, name))
                AddEntry(std::move(entry.rec), entry.described);
            continue;
        }
        if (!platform::passesSearchMask(entry.rec.Attr, filter.fileMask))
            continue;
        const int extLen = platform::extensionLength(name);
        for (size_t i = 0; i < segments.size(); ++i) {
            const int maskExtLen = segments[i].maskExtLen;
            if (matched[i] &&
                filter.takesFile(entry.rec.Attr, maskExtLen != 4 || extLen == maskExtLen))
                segments[i].found.push_back(entry);
        }
    }
    // Room for every file at once: no regrowth, and nothing left for the final fitting to copy.
    size_t files = 0;
    for (const MaskSegment& segment : segments)
        files += segment.found.size();
    entries_.reserve(entries_.size() + files);
    for (MaskSegment& segment : segments) {
        for (Found& found : segment.found)
            AddEntry(std::move(found.rec), found.described);
        std::vector<Found>().swap(segment.found);
    }
    listingError_ = reader.error();
}

void TDirectory::DescribeEntries() const {
    DescribeRange(0, entries_.size());
}

// A view asks for the rows it paints, a screenful at a time: the entries are described in
// aligned blocks, so that the rows around the one asked for cost no further opening of the
// folder, and a folder of 100,000 entries is never stat'ed as a whole for one screen.
void TDirectory::DescribeEntry(const TFileInfo* entry) const {
    constexpr size_t kBlock = 64;
    if (undescribed_ == 0 || entries_.empty() || entry < entries_.data() ||
        entry >= entries_.data() + entries_.size() || entry->described_)
        return;
    const size_t first = size_t(entry - entries_.data()) / kBlock * kBlock;
    DescribeRange(first, std::min(first + kBlock, entries_.size()));
}

void TDirectory::DescribeRange(size_t first, size_t last) const {
    if (undescribed_ == 0)
        return;
    // An entry that is gone, or whose folder is no longer the one listed, keeps zeros.
    std::optional<platform::ListedFolder> folder;
    for (size_t i = first; i < last; ++i) {
        TFileInfo& entry = entries_[i];
        if (entry.described_)
            continue;
        if (!folder)
            folder.emplace(platform::toFsBytes(location_), listedFolder_);
        folder->describe(entry);
        entry.described_ = true;
        --undescribed_;
    }
}

namespace {

// The keys of one sort, in one compact array read in order: the entries themselves are
// scattered, and 100,000 of them do not fit a cache.
class SortKeys {
public:
    SortKeys(std::vector<TFileInfo>& entries, TSortMode mode) : names_(entries.size()) {
        if (mode == smType)
            types_ = std::make_unique<NameKeys>(entries.size());
        items_.resize(entries.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            TFileInfo& e = entries[i];
            // Drives sort by their root path, everything else by its name.
            names_.add((mode == smName && (e.Attr & faVolumeID)) ? e.FindName() : e.Name);
            if (types_)
                types_->add(platform::toFsBytes(FileTypeText(e)));
            qint64 value = 0;
            if (mode == smSize)
                value = e.Size;
            else if (mode == smDate)
                value = qint64(e.Time); // unsigned: 2044 and later after earlier
            else if (mode == smAttributes)
                value = qint64(e.Attr);
            items_[i] = Item{value, quint32(i), (e.Attr & faDirectory) != 0};
        }
    }

    struct Item {
        qint64 value; // size, time or attributes, by mode; by name the key's prefix()
        quint32 index;
        bool folder;
    };
    using ItemIt = std::vector<Item>::iterator;

    // Sorts the items, folders first in both directions; answers the new order as indexes.
    std::vector<quint32> order(const std::vector<TFileInfo>& entries, TSortMode mode,
                               bool descending) {
        const auto folders = std::stable_partition(items_.begin(), items_.end(),
                                                   [](const Item& item) { return item.folder; });
        auto less = [&](const Item& a, const Item& b) {
            int r = keyOrder(a, b, mode);
            if (descending)
                r = -r;
            if (r == 0 && mode != smName)
                r = names_.compare(a.index, b.index); // always ascending
            if (r == 0) // names equal but for case: Linux keeps both; a fixed order for them
                r = entries[a.index].Name.compare(entries[b.index].Name);
            return r < 0;
        };
        if (mode == smName) {
            usePrefixes(items_.begin(), folders);
            usePrefixes(folders, items_.end());
            sortByPrefix(items_.begin(), folders, descending, less);
            sortByPrefix(folders, items_.end(), descending, less);
        } else {
            std::sort(items_.begin(), folders, less);
            std::sort(folders, items_.end(), less);
        }
        std::vector<quint32> result(items_.size());
        for (size_t i = 0; i < items_.size(); ++i)
            result[i] = items_[i].index;
        return result;
    }

private:
    // By folded name, each item of a range sorted on its own gets its key's prefix past what
    // the range's keys share (names of one folder often begin alike); collation keys keep 0.
    void usePrefixes(ItemIt begin, ItemIt end) {
        if (!names_.folded() || begin == end)
            return;
        const QByteArrayView first = names_.key(begin->index);
        qsizetype skip = first.size();
        for (ItemIt it = begin; it != end && skip > 0; ++it) {
            const QByteArrayView key = names_.key(it->index);
            skip = std::min(skip, key.size());
            qsizetype same = 0;
            while (same < skip && key[same] == first[same])
                ++same;
            skip = same;
        }
        for (ItemIt it = begin; it != end; ++it)
            it->value = qint64(names_.prefix(it->index, skip));
    }

    // By name the prefixes decide most of the order: a stable radix sort by them (a byte that
    // every item shares costs one counting pass), then each run of equal prefixes by `less`.
    // The order `less` alone gives, with a fraction of its comparisons. Collation keys have no
    // prefix: all of them form one run.
    template <class Less>
    static void sortByPrefix(ItemIt first, ItemIt last, bool descending, const Less& less) {
        const size_t n = size_t(last - first);
        if (n < 2)
            return;
        std::vector<Item> scratch(n);
        Item* from = &*first;
        Item* to = scratch.data();
        for (int shift = 0; shift < 64; shift += 8) {
            const auto byte = [shift](const Item& item) {
                return size_t((quint64(item.value) >> shift) & 0xFF);
            };
            std::array<size_t, 257> start{};
            for (size_t i = 0; i < n; ++i)
                ++start[byte(from[i]) + 1];
            if (std::find(start.begin() + 1, start.end(), n) != start.end())
                continue; // the same byte in every prefix
            std::partial_sum(start.begin(), start.end(), start.begin());
            for (size_t i = 0; i < n; ++i)
                to[start[byte(from[i])]++] = from[i];
            std::swap(from, to);
        }
        if (from != &*first)
            std::copy(from, from + n, first);
        if (descending)
            std::reverse(first, last);
        for (ItemIt run = first; run != last;) {
            const qint64 prefix = run->value;
            const ItemIt end = std::find_if(
                run, last, [prefix](const Item& item) { return item.value != prefix; });
            if (end - run > 1)
                std::sort(run, end, less);
            run = end;
        }
    }

    int keyOrder(const Item& a, const Item& b, TSortMode mode) const {
        switch (mode) {
        case smName: // most names differ in their first bytes: no look into the key buffer
            if (a.value != b.value)
                return compareValues(quint64(a.value), quint64(b.value));
            return names_.compare(a.index, b.index);
        case smSize:
        case smAttributes:
            return compareValues(b.value, a.value); // the larger first
        case smDate:
            return compareValues(a.value, b.value); // the older first
        case smType:
            return types_->compare(a.index, b.index);
        case smNone:
        case smOwner:
        case smGroup:
            break;
        }
        return 0;
    }

    std::vector<Item> items_;
    NameKeys names_;
    std::unique_ptr<NameKeys> types_; // smType only
};

// Moves the entries into `order` (order[i] is the entry that goes to i) in place, cycle by
// cycle, so that no entry is copied.
void permute(std::vector<TFileInfo>& entries, const std::vector<quint32>& order) {
    std::vector<bool> placed(entries.size());
    for (size_t start = 0; start < entries.size(); ++start) {
        if (placed[start] || order[start] == start) {
            placed[start] = true;
            continue;
        }
        TFileInfo held = std::move(entries[start]);
        size_t current = start;
        for (;;) {
            placed[current] = true;
            const size_t source = order[current];
            if (source == start) {
                entries[current] = std::move(held);
                break;
            }
            entries[current] = std::move(entries[source]);
            current = source;
        }
    }
}

} // namespace

void TDirectory::SortEntries() {
    if (entries_.size() < 2)
        return;
    // These keys are what a listing by kind leaves out.
    if (sortMode_ == smSize || sortMode_ == smDate || sortMode_ == smAttributes)
        DescribeEntries();
    SortKeys keys(entries_, sortMode_);
    permute(entries_, keys.order(entries_, sortMode_, sortDirection_ == sdDescending));
}

void TDirectory::StartWatching() {
    StopWatching();
    if (location_.isEmpty())
        return;
    // An exception from a refresh goes to the application's handler; the watcher goes on.
    watcher_ = TShellChangeThread::Create(platform::toFsBytes(location_),
                                          [this] { runGuarded([this] { Refresh(); }); });
}

void TDirectory::StopWatching() {
    if (!watcher_)
        return;
    TShellChangeThread* watcher = watcher_;
    watcher_ = nullptr;
    watcher->Terminate(); // no callback reaches this model afterwards
}

std::shared_ptr<const void> TDirectory::TakeNames() {
    // The entries hold views into the storage: they go with it.
    entries_.clear();
    undescribed_ = 0;
    return std::shared_ptr<const NameBlocks>(std::move(names_));
}

int TDirectory::IndexOf(const TFileInfo* entry) const {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (&entries_[i] == entry)
            return int(i);
    return -1;
}

TRenameResult TDirectory::Rename(TFileInfo* entry, const QString& newName) {
    const int index = IndexOf(entry);
    if (index < 0)
        throw EListError(index);
    QByteArray folder = platform::toFsBytes(location_);
    if (!folder.endsWith('/'))
        folder += '/';
    QByteArray name = platform::toFsBytes(newName);
    while (name.endsWith('/'))
        name.chop(1);
    // A rename stays within the folder.
    if (name.isEmpty() || name == "." || name == ".." || name.contains('/'))
        return TRenameResult{nullptr, TRenameResult::RenameFailed};
    const QByteArray oldPath = folder + entry->Name;
    const QByteArray newPath = folder + name;
    auto takenByFile = [&] {
        return platform::pathExists(newPath) && !platform::isFolder(newPath);
    };
    if (takenByFile())
        return TRenameResult{nullptr, TRenameResult::NameTaken};
    if (const int err = platform::renameNoReplace(oldPath, newPath)) {
        // Created a moment after the check: still never replaced.
        if (err == EEXIST && takenByFile())
            return TRenameResult{nullptr, TRenameResult::NameTaken};
        return TRenameResult{nullptr, TRenameResult::RenameFailed};
    }
    TSearchRec found;
    if (platform::findOne(newPath, faAnyFile, found)) {
        if (!entries_[size_t(index)].described_)
            --undescribed_; // replaced by a complete record
        entries_[size_t(index)] = NewFileInfo(found);
        return TRenameResult{&entries_[size_t(index)], 0};
    }
    entry->Name = name;
    return TRenameResult{entry, 0};
}

void TDirectory::AssignTo(TPersistent& dest) const {
    auto* target = dynamic_cast<TDirectory*>(&dest);
    if (!target) {
        TPersistent::AssignTo(dest);
        return;
    }
    if (target == this)
        return;
    DescribeEntries(); // the copies are complete records
    target->assigning_ = true;
    try {
        target->ClearEntries();
        target->location_ = Location();
        target->fileMask_ = fileMask_;
        target->fileType_ = fileType_;
        target->sortMode_ = sortMode_;
        target->sortDirection_ = sortDirection_;
        const bool wasWatching = target->autoUpdate_;
        target->SetAutoUpdate(autoUpdate_);
        // Already watching: the setter does nothing, but the watcher must follow the location.
        if (wasWatching && autoUpdate_)
            target->StartWatching();
        target->includeParentDir_ = includeParentDir_;
        target->entries_.reserve(entries_.size());
        for (const TFileInfo& e : entries_)
            target->entries_.push_back(NewFileInfo(e));
    } catch (...) {
        target->assigning_ = false;
        try {
            target->UpdateListing(false);
        } catch (...) {
            // the first failure is the one reported
        }
        throw;
    }
    target->assigning_ = false;
    target->UpdateListing(false);
}
