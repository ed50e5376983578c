#pragma once
// The drive list: "/" first, then the mounted volumes a user would call drives (block devices,
// removable media, network shares), each with its label and space. The space of every volume
// is asked on a worker thread with a time limit, so a dead network mount never freezes the
// caller: it is listed with zero sizes and its stuck worker is left behind, detached.
#include "platform/SearchRec.h"

#include <QByteArray>

#include <chrono>
#include <memory>
#include <vector>

namespace platform {

struct Volume {
    QByteArray mountPath; // without a trailing '/' (except "/")
    QByteArray label;     // empty when the volume has none
};

// Where the volumes come from. Tests present their own volumes (and volumes that never answer)
// so that nothing depends on this machine's mounts.
class MountSource {
public:
    virtual ~MountSource() = default;
    // The volumes that count as drives, in any order; "/" may be among them.
    virtual std::vector<Volume> volumes() = 0;
    // Total and available bytes of a volume; may block. Runs on a worker thread.
    virtual bool space(const QByteArray& mountPath, quint64& total, quint64& available) = 0;
};

// The system's source: /proc/self/mountinfo, labels from /dev/disk/by-label, statvfs.
std::shared_ptr<MountSource> systemMountSource();
// Replaces the source (nullptr restores the system's); answers the previous one.
std::shared_ptr<MountSource> setMountSource(std::shared_ptr<MountSource> source);
std::shared_ptr<MountSource> mountSource();

// The drives among the lines of a mountinfo file (labels by device path).
std::vector<Volume> drivesFromMountInfo(QByteArrayView mountInfo);

// How long the space of the volumes is waited for (about one second by default).
std::chrono::milliseconds setSpaceTimeout(std::chrono::milliseconds timeout);

// Drive entries: Name = label if any, else the mount path; FileName = mount path with a
// trailing '/'; Size / Time = total / available bytes in units of 1,000,000; Attr = faVolumeID.
// "/" comes first, the others follow ordered by mount path. All volumes are asked at once, so
// the whole list takes at most about one time limit.
std::vector<TSearchRec> listDrives();

// The entry for one mount path (with or without the trailing '/'). A path that is neither a
// known volume nor answers the space query gets Attr 0 (and Name = the path).
void fillDriveEntry(const QByteArray& drive, TSearchRec& rec);

} // namespace platform
