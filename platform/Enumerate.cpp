#include "platform/Enumerate.h"

#include "platform/Fault.h"
#include "platform/FsString.h"
#include "platform/Paths.h"
#include "platform/Words.h"

#include <QChar>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

char32_t fold(char32_t c) {
    if (c < 0x80)
        return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    if (c >= 0xDC80 && c <= 0xDCFF)
        return c;
    return QChar::toCaseFolded(c);
}

// Decodes and folds `name` into `out`; answers the number of characters.
qsizetype decodeFolded(QByteArrayView name, char32_t* out) {
    const auto* s = reinterpret_cast<const unsigned char*>(name.data());
    const qsizetype n = name.size();
    qsizetype count = 0;
    for (qsizetype i = 0; i < n;)
        out[count++] = fold(nextNameCharacter(s, n, i));
    return count;
}

bool matchUnits(const char32_t* p, size_t pn, const char32_t* s, size_t sn) {
    constexpr size_t none = size_t(-1);
    size_t pi = 0, si = 0, starP = none, starS = 0;
    while (si < sn) {
        if (pi < pn && p[pi] == U'*') {
            starP = pi++;
            starS = si;
        } else if (pi < pn && (p[pi] == U'?' || p[pi] == s[si])) {
            ++pi;
            ++si;
        } else if (starP != none) {
            pi = starP + 1;
            si = ++starS;
        } else {
            return false;
        }
    }
    while (pi < pn && p[pi] == U'*')
        ++pi;
    return pi == pn;
}

// Local time is converted through the UTC offset, cached per quarter hour: glibc's
// localtime_r takes a lock and re-checks TZ on every call, which would dominate a listing.
// A quarter hour is cached only when both its ends have the same offset, so a change of
// daylight saving time inside it is always converted exactly.
class LocalTimeCache {
public:
    quint32 pack(std::time_t t) {
        const std::time_t bucket = floorDiv(t, 900);
        Slot& slot = slots_[size_t(bucket) & (kSlots - 1)];
        if (!slot.valid || slot.bucket != bucket) {
            std::tm a{}, b{};
            const std::time_t start = bucket * 900;
            if (!localtime_r(&start, &a) || !localtime_r(&t, &b))
                return kDosTimeMin;
            const std::time_t end = start + 899;
            std::tm c{};
            if (!localtime_r(&end, &c) || a.tm_gmtoff != c.tm_gmtoff)
                return packDosTime(b); // a change of offset inside: exact, uncached
            slot = Slot{bucket, a.tm_gmtoff, true};
        }
        return packCivil(t + slot.offset);
    }
    // Each listing starts afresh, so a change of TZ between listings takes effect.
    void reset() {
        for (Slot& slot : slots_)
            slot.valid = false;
    }

private:
    static constexpr size_t kSlots = 64;
    struct Slot {
        std::time_t bucket = 0;
        long offset = 0;
        bool valid = false;
    };
    static std::time_t floorDiv(std::time_t a, std::time_t b) {
        return a >= 0 ? a / b : -((-a + b - 1) / b);
    }
    // Days since 1970-01-01 to a civil date (proleptic Gregorian).
    static quint32 packCivil(std::time_t local) {
        const std::time_t days = floorDiv(local, 86400);
        const long secs = long(local - days * 86400);
        const std::time_t z = days + 719468;
        const std::time_t era = (z >= 0 ? z : z - 146096) / 146097;
        const long doe = long(z - era * 146097);
        const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
        const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
        const long mp = (5 * doy + 2) / 153;
        std::tm tm{};
        tm.tm_mday = int(doy - (153 * mp + 2) / 5 + 1);
        tm.tm_mon = int(mp < 10 ? mp + 3 : mp - 9) - 1;
        const std::time_t year = yoe + era * 400 + (tm.tm_mon <= 1 ? 1 : 0);
        if (year < 1980)
            return kDosTimeMin;
        if (year > 2107)
            return kDosTimeMax;
        tm.tm_year = int(year - 1900);
        tm.tm_hour = int(secs / 3600);
        tm.tm_min = int(secs / 60 % 60);
        tm.tm_sec = int(secs % 60);
        return packDosTime(tm);
    }

    Slot slots_[kSlots];
};

thread_local LocalTimeCache localTimes;

quint32 hiddenBit(QByteArrayView name) {
    return name.startsWith('.') && name != "." && name != ".." ? faHidden : 0;
}

// The kind an entry type tells without a stat; 0 for a link or an unknown type.
quint32 kindOf(unsigned char type) {
    switch (type) {
    case DT_DIR:
        return faDirectory;
    case DT_REG:
        return faArchive;
    case DT_LNK:
    case DT_UNKNOWN:
        return 0;
    default:
        return faSysFile; // device, FIFO, socket
    }
}

void describeStat(const struct stat& st, QByteArrayView name, TSearchRec& rec, bool cached) {
    rec.Attr = attributesOf(st, name);
    rec.Size = S_ISDIR(st.st_mode) ? 0 : qint64(st.st_size);
    rec.Time = cached ? localTimes.pack(st.st_mtim.tv_sec) : packDosTime(st.st_mtim.tv_sec);
}

} // namespace

WildcardPattern::WildcardPattern(QByteArrayView pattern) {
    if (pattern.isEmpty())
        return;
    empty_ = false;
    if (pattern == "*" || pattern == "*.*") {
        all_ = true;
        return;
    }
    while (pattern.endsWith('.')) {
        pattern.chop(1);
        noExtension_ = true;
    }
    units_.resize(size_t(pattern.size()));
    units_.resize(size_t(decodeFolded(pattern, units_.data())));
    if (units_.size() > 1 && units_[0] == U'*' &&
        std::all_of(units_.begin() + 1, units_.end(),
                    [](char32_t c) { return c < 0x80 && c != U'*' && c != U'?'; })) {
        for (auto it = units_.begin() + 1; it != units_.end(); ++it)
            asciiTail_.append(char(*it));
        if (asciiTail_.size() <= 8)
            std::memcpy(&tailWord_, asciiTail_.constData(), size_t(asciiTail_.size()));
    }
}

namespace {

// The word's bytes, all ASCII, with 'A'..'Z' folded to 'a'..'z'. No byte carries into the
// next: each is below 0x80 and has at most 0x3F added.
constexpr std::uint64_t foldAsciiWord(std::uint64_t word) {
    using words::kHighs, words::kOnes;
    const std::uint64_t fromA = (word + kOnes * (0x80 - 'A')) & kHighs;
    const std::uint64_t pastZ = (word + kOnes * (0x80 - 'Z' - 1)) & kHighs;
    return word | ((fromA & ~pastZ) >> 2);
}

} // namespace

bool WildcardPattern::matches(QByteArrayView name) const {
    if (empty_)
        return false;
    if (all_)
        return true;
    if (noExtension_ && name.contains('.'))
        return false;
    if (const qsizetype k = asciiTail_.size(); k > 0) {
        // An ASCII byte is always a character of its own, and a name needs as many bytes at
        // least as it has characters.
        if (name.size() < k)
            return false;
        if (k <= 8) {
            std::uint64_t word = 0;
            words::copyShort(&word, name.data() + name.size() - k, size_t(k));
            if (words::isAscii(word))
                return foldAsciiWord(word) == tailWord_;
        }
        const QByteArrayView tail = name.last(k);
        bool ascii = true, equal = true;
        for (qsizetype i = 0; i < k && ascii; ++i) {
            const char32_t c = static_cast<unsigned char>(tail[i]);
            ascii = c < 0x80;
            equal = equal && fold(c) == char32_t(asciiTail_[i]);
        }
        if (ascii)
            return equal;
    }
    char32_t local[256];
    std::vector<char32_t> heap;
    char32_t* units = local;
    if (name.size() > qsizetype(std::size(local))) {
        heap.resize(size_t(name.size()));
        units = heap.data();
    }
    const qsizetype n = decodeFolded(name, units);
    return matchUnits(units_.data(), units_.size(), units, size_t(n));
}

int extensionLength(QByteArrayView name) {
    // One scan back from the end: the extension is near it, a '/' before it ends the search.
    qsizetype dot = name.size() - 1;
    while (dot >= 0 && name[dot] != '.' && name[dot] != '/')
        --dot;
    if (dot < 0 || name[dot] == '/')
        return 0;
    // Characters as the matcher counts them: a byte that is not UTF-8 is one character (a
    // cp1251 'ё' alone is a continuation byte, which must still count); ASCII, byte by byte.
    const auto* bytes = reinterpret_cast<const unsigned char*>(name.data());
    if (std::all_of(bytes + dot, bytes + name.size(), [](unsigned char c) { return c < 0x80; }))
        return int(name.size() - dot);
    int chars = 0;
    for (qsizetype i = dot; i < name.size(); ++chars)
        nextNameCharacter(bytes, name.size(), i);
    return chars;
}

quint32 packDosTime(const std::tm& local) {
    const int year = local.tm_year + 1900;
    if (year < 1980)
        return kDosTimeMin;
    if (year > 2107)
        return kDosTimeMax;
    return (quint32(year - 1980) << 25) | (quint32(local.tm_mon + 1) << 21) |
           (quint32(local.tm_mday) << 16) | (quint32(local.tm_hour) << 11) |
           (quint32(local.tm_min) << 5) | quint32(local.tm_sec / 2);
}

quint32 packDosTime(std::time_t t) {
    std::tm local{};
    if (!localtime_r(&t, &local))
        return t < 0 ? kDosTimeMin : kDosTimeMax;
    return packDosTime(local);
}

int statEntry(int dirFd, const char* name, struct stat& st, const char* statHook,
              const char* lstatHook) {
    int err = statHook ? fault::take(statHook) : 0;
    if (err == 0 && ::fstatat(dirFd, name, &st, 0) == 0)
        return 0;
    if (err == 0)
        err = errno;
    if (err != ENOENT && err != ELOOP && err != ENOTDIR)
        return err;
    if (const int injected = lstatHook ? fault::take(lstatHook) : 0)
        return injected;
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    return S_ISLNK(st.st_mode) ? 0 : err; // not a link: it was the stat that saw the truth
}

quint32 attributesOf(const struct stat& st, QByteArrayView name) {
    quint32 attr = 0;
    if (S_ISDIR(st.st_mode))
        attr |= faDirectory;
    else if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))
        attr |= faArchive;
    else
        attr |= faSysFile; // device, FIFO, socket
    attr |= hiddenBit(name);
    if (!(st.st_mode & S_IWUSR))
        attr |= faReadOnly;
    return attr;
}

FolderReader::FolderReader(const QByteArray& folder) {
    localTimes.reset();
    if (int err = fault::take("opendir")) {
        error_ = err;
        return;
    }
    const QByteArray path = folder.isEmpty() ? QByteArray(".") : folder;
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error_ = errno;
        return;
    }
    // The root is the one folder whose ".." is itself; readdir still returns one there.
    struct stat self {
    }, parent{};
    if (::fstat(fd, &self) == 0) {
        identity_ = FolderId{quint64(self.st_dev), quint64(self.st_ino)};
        atRoot_ = ::fstatat(fd, "..", &parent, 0) == 0 && self.st_dev == parent.st_dev &&
                  self.st_ino == parent.st_ino;
    }
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        error_ = errno;
        ::close(fd);
        return;
    }
    dir_ = dir;
}

FolderReader::~FolderReader() {
    if (dir_)
        ::closedir(static_cast<DIR*>(dir_));
}

bool FolderReader::next() {
    if (!dir_)
        return false;
    for (;;) {
        if (const int err = fault::take("readdir")) {
            error_ = err;
            return false;
        }
        errno = 0;
        const dirent* entry = ::readdir(static_cast<DIR*>(dir_));
        if (!entry) {
            error_ = errno; // 0 at the end of the folder
            return false;
        }
        const char* n = entry->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0 && atRoot_)))
            continue;
        // The name ends within its record: no call to the C library's strlen per entry.
        const char* const recordEnd = reinterpret_cast<const char*>(entry) + entry->d_reclen;
        name_ = QByteArrayView(n, qsizetype(words::lengthBefore(n, recordEnd)));
        kind_ = kindOf(entry->d_type);
        return true;
    }
}

quint32 FolderReader::kindAttributes() const {
    return kind_ == 0 ? 0 : kind_ | hiddenBit(name_);
}

bool FolderReader::describe(TSearchRec& rec) const {
    struct stat st;
    if (!dir_ || statEntry(::dirfd(static_cast<DIR*>(dir_)), name_.data(), st) != 0)
        return false;
    describeStat(st, name_, rec, true);
    return true;
}

ListedFolder::ListedFolder(const QByteArray& folder, const FolderId& listed) {
    localTimes.reset();
    const QByteArray path = folder.isEmpty() ? QByteArray(".") : folder;
    FileHandle fd(::open(path.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat self;
    if (fd.isOpen() && ::fstat(fd.get(), &self) == 0 &&
        listed == FolderId{quint64(self.st_dev), quint64(self.st_ino)})
        folder_ = std::move(fd);
}

bool ListedFolder::describe(TSearchRec& rec) const {
    struct stat st;
    if (!folder_.isOpen() ||
        ::fstatat(folder_.get(), rec.Name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    TSearchRec now;
    describeStat(st, rec.Name, now, true);
    const quint32 kindBits = faDirectory | faArchive | faSysFile;
    if (S_ISLNK(st.st_mode) || (now.Attr & kindBits) != (rec.Attr & kindBits))
        return false;
    rec.Attr |= now.Attr & faReadOnly;
    rec.Size = now.Size;
    rec.Time = now.Time;
    return true;
}

std::vector<TSearchRec> findAll(const QByteArray& folder, QByteArrayView pattern, quint32 mask) {
    std::vector<TSearchRec> found;
    const WildcardPattern wildcard(pattern);
    if (wildcard.isEmpty())
        return found;
    FolderReader reader(folder);
    while (reader.next()) {
        if (!wildcard.matches(reader.name()))
            continue;
        TSearchRec rec;
        if (!reader.describe(rec) || !passesSearchMask(rec.Attr, mask))
            continue;
        rec.Name = reader.name().toByteArray();
        found.push_back(std::move(rec));
    }
    return found;
}

bool findOne(const QByteArray& path, quint32 mask, TSearchRec& rec) {
    const QByteArray p = withoutTrailingSlash(path);
    if (p.isEmpty())
        return false;
    struct stat st;
    if (statEntry(AT_FDCWD, p.constData(), st) != 0)
        return false;
    const qsizetype slash = p.lastIndexOf('/');
    const QByteArray name = (slash >= 0 && p.size() > 1) ? p.mid(slash + 1) : p;
    TSearchRec found;
    describeStat(st, name, found, false);
    if (!passesSearchMask(found.Attr, mask))
        return false;
    found.Name = name;
    rec = std::move(found);
    return true;
}

} // namespace platform
