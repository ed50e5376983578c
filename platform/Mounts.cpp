#include "platform/Mounts.h"

#include "platform/Paths.h"
#include "platform/Replaceable.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string_view>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>

namespace platform {
namespace {

// mountinfo escapes blanks and backslashes as \ooo.
QByteArray unescapeOctal(QByteArrayView field) {
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1], b = field[i + 2], d = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && d >= '0' && d <= '7') {
                out += char(((a - '0') << 6) | ((b - '0') << 3) | (d - '0'));
                i += 3;
                continue;
            }
        }
        out += c;
    }
    return out;
}

// udev escapes characters of labels as \xNN.
QByteArray unescapeHex(QByteArrayView name) {
    QByteArray out;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x') {
            bool ok = false;
            const int value = name.sliced(i + 2, 2).toByteArray().toInt(&ok, 16);
            if (ok) {
                out += char(value);
                i += 3;
                continue;
            }
        }
        out += name[i];
    }
    return out;
}

// File systems that are never drives: the kernel's own views, memory, containers, snaps.
bool isPseudoType(QByteArrayView type) {
    static const std::set<std::string_view> pseudo{
        "proc",      "sysfs",      "devtmpfs",    "devpts",          "tmpfs",         "ramfs",
        "cgroup",    "cgroup2",    "overlay",     "squashfs",        "securityfs",    "pstore",
        "debugfs",   "tracefs",    "mqueue",      "hugetlbfs",       "autofs",        "binfmt_misc",
        "configfs",  "fusectl",    "bpf",         "efivarfs",        "nsfs",          "rpc_pipefs",
        "selinuxfs", "fuse.lxcfs", "fuse.portal", "fuse.gvfsd-fuse", "fuse.snapfuse", "nfsd",
        "aufs",      "shiftfs"};
    return pseudo.count(std::string_view(type.data(), size_t(type.size()))) != 0;
}

bool isNetworkType(QByteArrayView type) {
    static const std::set<std::string_view> network{"nfs",   "nfs4",      "cifs",  "smb3",
                                                    "smbfs", "ncpfs",     "afs",   "9p",
                                                    "ceph",  "glusterfs", "davfs", "zfs"};
    return network.count(std::string_view(type.data(), size_t(type.size()))) != 0 ||
           type.startsWith("fuse.") || type == "fuseblk";
}

bool isSystemPath(QByteArrayView path) {
    for (QByteArrayView prefix :
         {QByteArrayView("/proc"), QByteArrayView("/sys"), QByteArrayView("/dev"),
          QByteArrayView("/run"), QByteArrayView("/snap"), QByteArrayView("/var/lib/docker")}) {
        if (path == prefix || (path.startsWith(prefix) && path[prefix.size()] == '/'))
            return !path.startsWith("/run/media/"); // udisks mounts removable media there
    }
    return false;
}

std::vector<Volume> parseMountInfo(const QByteArray& text,
                                   const std::vector<std::pair<QByteArray, QByteArray>>& labels) {
    std::vector<Volume> found;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf(QByteArrayLiteral("-"));
        if (fields.size() < 7 || dash < 6 || dash + 2 >= fields.size())
            continue;
        const QByteArray root = unescapeOctal(fields[3]);
        const QByteArray mountPath = unescapeOctal(fields[4]);
        const QByteArray& type = fields[dash + 1];
        const QByteArray source = unescapeOctal(fields[dash + 2]);
        // A damaged line may name no place: a relative path, or a NUL byte ("\000").
        if (!mountPath.startsWith('/') || mountPath.contains('\0'))
            continue;
        if (isPseudoType(type) || isSystemPath(mountPath))
            continue;
        // A bind mount of a folder or file is not a volume (btrfs names its subvolumes there).
        if (root != "/" && type != "btrfs")
            continue;
        if (!source.startsWith("/dev/") && !isNetworkType(type))
            continue;
        Volume volume{mountPath, {}};
        for (const auto& [device, label] : labels)
            if (device == source)
                volume.label = label;
        // A later mount on the same path hides the earlier one.
        std::erase_if(found, [&](const Volume& v) { return v.mountPath == mountPath; });
        found.push_back(volume);
    }
    return found;
}

std::vector<std::pair<QByteArray, QByteArray>> systemLabels() {
    std::vector<std::pair<QByteArray, QByteArray>> labels;
    const QDir dir(QStringLiteral("/dev/disk/by-label"));
    const QStringList names = dir.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QString target = QFileInfo(dir.filePath(name)).canonicalFilePath();
        if (!target.isEmpty())
            labels.emplace_back(QFile::encodeName(target), unescapeHex(QFile::encodeName(name)));
    }
    return labels;
}

class SystemMountSource : public MountSource {
public:
    std::vector<Volume> volumes() override {
        QFile file(QStringLiteral("/proc/self/mountinfo"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return parseMountInfo(file.readAll(), systemLabels());
    }
    bool space(const QByteArray& mountPath, quint64& total, quint64& available) override {
        struct statvfs st;
        if (::statvfs(mountPath.constData(), &st) != 0)
            return false;
        total = quint64(st.f_blocks) * st.f_frsize;
        available = quint64(st.f_bavail) * st.f_frsize;
        return true;
    }
};

Replaceable<MountSource, SystemMountSource>& currentSource() {
    static Replaceable<MountSource, SystemMountSource> source;
    return source;
}
std::atomic<long long> spaceTimeoutMs{1000};

// One space query on a worker; the caller waits for it until a deadline and otherwise leaves
// it behind (the worker owns its share of the state and of the source).
struct SpaceQuery {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool ok = false;
    quint64 total = 0;
    quint64 available = 0;
};

std::shared_ptr<SpaceQuery> startSpaceQuery(std::shared_ptr<MountSource> source,
                                            const QByteArray& path) {
    auto query = std::make_shared<SpaceQuery>();
    try {
        std::thread([query, source = std::move(source), path] {
            quint64 total = 0, available = 0;
            const bool ok = source->space(path, total, available);
            std::lock_guard lock(query->mutex);
            query->ok = ok;
            query->total = total;
            query->available = available;
            query->finished = true;
            query->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        std::lock_guard lock(query->mutex);
        query->finished = true; // no thread to be had: listed without sizes
    }
    return query;
}

// Fills the entries of `volumes` (known tells whether each is a volume of the source).
std::vector<TSearchRec> describe(const std::vector<Volume>& volumes,
                                 const std::vector<bool>& known) {
    const std::shared_ptr<MountSource> source = mountSource();
    std::vector<std::shared_ptr<SpaceQuery>> queries;
    queries.reserve(volumes.size());
    for (const Volume& v : volumes)
        queries.push_back(startSpaceQuery(source, v.mountPath));
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(spaceTimeoutMs.load());
    std::vector<TSearchRec> entries;
    entries.reserve(volumes.size());
    for (size_t i = 0; i < volumes.size(); ++i) {
        SpaceQuery& q = *queries[i];
        std::unique_lock lock(q.mutex);
        q.done.wait_until(lock, deadline, [&] { return q.finished; });
        TSearchRec rec;
        rec.FileName = withTrailingSlash(volumes[i].mountPath);
        rec.Name = volumes[i].label.isEmpty() ? volumes[i].mountPath : volumes[i].label;
        if (q.finished && q.ok) {
            rec.Size = qint64(q.total / 1000000);
            rec.Time = quint32(std::min<quint64>(q.available / 1000000, 0xFFFFFFFFu));
        }
        rec.Attr = (known[i] || (q.finished && q.ok)) ? faVolumeID : 0;
        if (rec.Attr == 0)
            rec.Name = rec.FileName; // nothing answered for it: named by its path
        entries.push_back(std::move(rec));
    }
    return entries;
}

} // namespace

std::shared_ptr<MountSource> systemMountSource() {
    return std::make_shared<SystemMountSource>();
}

std::shared_ptr<MountSource> setMountSource(std::shared_ptr<MountSource> source) {
    return currentSource().set(std::move(source));
}

std::shared_ptr<MountSource> mountSource() {
    return currentSource().get();
}

std::vector<Volume> drivesFromMountInfo(QByteArrayView mountInfo) {
    return parseMountInfo(mountInfo.toByteArray(), {});
}

std::chrono::milliseconds setSpaceTimeout(std::chrono::milliseconds timeout) {
    return std::chrono::milliseconds(spaceTimeoutMs.exchange(timeout.count()));
}

std::vector<TSearchRec> listDrives() {
    std::vector<Volume> volumes = mountSource()->volumes();
    for (Volume& v : volumes)
        v.mountPath = withoutTrailingSlash(v.mountPath);
    auto root = std::find_if(volumes.begin(), volumes.end(),
                             [](const Volume& v) { return v.mountPath == "/"; });
    Volume rootVolume{QByteArrayLiteral("/"), {}};
    if (root != volumes.end()) {
        rootVolume = *root;
        volumes.erase(root);
    }
    std::sort(volumes.begin(), volumes.end(),
              [](const Volume& a, const Volume& b) { return a.mountPath < b.mountPath; });
    volumes.insert(volumes.begin(), rootVolume);
    return describe(volumes, std::vector<bool>(volumes.size(), true));
}

void fillDriveEntry(const QByteArray& drive, TSearchRec& rec) {
    Volume volume{withoutTrailingSlash(drive), {}};
    bool known = volume.mountPath == "/";
    for (const Volume& v : mountSource()->volumes()) {
        if (withoutTrailingSlash(v.mountPath) == volume.mountPath) {
            volume.label = v.label;
            known = true;
        }
    }
    rec = describe({volume}, {known}).front();
}

} // namespace platform
