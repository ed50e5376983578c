#include "platform/ChangeNotifier.h"

#include "platform/Enumerate.h"
#include "platform/Fault.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// Everything that can change a listing of the folder. IN_CLOSE_WRITE is a hint for writes
// made through a mapping (no IN_MODIFY); IN_EXCL_UNLINK keeps writes to deleted but still
// open files quiet.
constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF |
                                IN_ONLYDIR | IN_EXCL_UNLINK;
constexpr uint32_t kNameEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr uint32_t kEndEvents = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

int failWith(int err) {
    errno = err;
    return -1;
}

// Watching is background work: the snapshot of a large folder (a stat per entry) and the later
// checks yield to the program's drawing and to other programs. Lowered once, for the thread's
// life: an unprivileged thread could not raise it again.
void lowerThreadPriority() {
    constexpr int kBackground = 10, kLowest = 19;
    const auto self = static_cast<id_t>(::gettid());
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, self);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, self, std::min(now + kBackground, kLowest));
}

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

ChangeNotifier::ChangeNotifier(QByteArrayView folder) {
    if (folder.isEmpty()) {
        error_ = ENOENT;
        return;
    }
    const QByteArray path = folder.toByteArray();
    const int fd = calls_->init(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) {
        error_ = errno;
        return;
    }
    const int wd = calls_->addWatch(fd, path.constData(), kWatchMask);
    if (wd < 0 || !stopEvent_.isValid()) {
        error_ = wd < 0 ? errno : stopEvent_.error();
        ::close(fd);
        return;
    }
    inotifyFd_ = fd;
    folder_ = withTrailingSlash(path).toStdString();
}

ChangeNotifier::~ChangeNotifier() {
    closeFd(inotifyFd_);
}

void ChangeNotifier::requestStop() {
    stop_.store(true, std::memory_order_release);
    stopEvent_.signal();
}

ChangeNotifier::Wait ChangeNotifier::wait() {
    if (!isValid())
        return Wait::Failed;
    if (!primed_) {
        primed_ = true;
        lowerThreadPriority();
        takeSnapshot();
        switch (drain(true)) {
        case Drain::Quiet:
            break;
        case Drain::Changed:
            return stop_.load(std::memory_order_acquire) ? Wait::Stopped : Wait::Changed;
        case Drain::Gone:
            return Wait::Gone;
        case Drain::Failed:
            return Wait::Failed;
        }
    }
    for (;;) {
        if (stop_.load(std::memory_order_acquire))
            return Wait::Stopped;
        pollfd fds[2] = {{inotifyFd_, POLLIN, 0}, {stopEvent_.fd(), POLLIN, 0}};
        int ready = -1;
        if (int err = fault::take("poll"))
            ready = failWith(err);
        else
            ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            error_ = errno;
            return Wait::Failed;
        }
        if (fds[1].revents != 0 || stop_.load(std::memory_order_acquire))
            return Wait::Stopped;
        if (fds[0].revents & (POLLERR | POLLNVAL)) {
            error_ = EIO;
            return Wait::Failed;
        }
        switch (drain(false)) {
        case Drain::Quiet:
            break;
        case Drain::Changed:
            return Wait::Changed;
        case Drain::Gone:
            return Wait::Gone;
        case Drain::Failed:
            return Wait::Failed;
        }
    }
}

// Reads every queued event (so a burst becomes one change) and weighs each against the
// snapshot, which it keeps up to date.
ChangeNotifier::Drain ChangeNotifier::drain(bool everyEventCounts) {
    bool changed = false;
    bool gone = false;
    bool overflow = false;
    const int err = drainInotify(*calls_, inotifyFd_, [&](const InotifyEvent& event) {
        if (event.mask & IN_Q_OVERFLOW) {
            changed = overflow = true;
        } else if (event.mask & kEndEvents) {
            changed = gone = true;
        } else if (!event.name.isEmpty()) {
            const bool differs = recheck(std::string(event.name.data(), size_t(event.name.size())));
            if (everyEventCounts || (event.mask & kNameEvents) || differs)
                changed = true;
        } else if (event.mask & IN_ATTRIB) {
            // The folder's own times or rights: only a change of who may read it counts.
            if (recheckAccess() || everyEventCounts)
                changed = true;
        }
    });
    if (err != 0) {
        error_ = err;
        return Drain::Failed;
    }
    if (gone)
        return Drain::Gone;
    if (overflow)
        takeSnapshot(); // events were lost: the old snapshot cannot be trusted
    return changed ? Drain::Changed : Drain::Quiet;
}

bool ChangeNotifier::recheckAccess() {
    const Access before = access_;
    access_ = accessOf();
    return access_.mode != before.mode || access_.owner != before.owner ||
           access_.group != before.group;
}

ChangeNotifier::Access ChangeNotifier::accessOf() const {
    struct stat info;
    if (::stat(folder_.c_str(), &info) != 0)
        return {};
    return {info.st_mode & 07777, info.st_uid, info.st_gid};
}

bool ChangeNotifier::takeSnapshot() {
    snapshot_.clear();
    access_ = accessOf();
    DIR* dir = nullptr;
    if (int err = fault::take("opendir"))
        errno = err;
    else
        dir = ::opendir(folder_.c_str());
    // Without a snapshot every event for an entry counts as a change: nothing is missed.
    if (!dir)
        return false;
    while (dirent* item = ::readdir(dir)) {
        const char* name = item->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        Entry entry;
        if (statEntry(name, entry, ::dirfd(dir)))
            snapshot_.insert_or_assign(std::string(name), entry);
    }
    ::closedir(dir);
    return true;
}

bool ChangeNotifier::recheck(const std::string& name) {
    Entry now;
    const bool present = statEntry(name, now);
    const auto known = snapshot_.find(name);
    if (!present) {
        if (known == snapshot_.end())
            return false;
        snapshot_.erase(known);
        return true;
    }
    if (known == snapshot_.end()) {
        snapshot_.emplace(name, now);
        return true;
    }
    const bool differs = known->second.size != now.size || known->second.attr != now.attr;
    known->second = now;
    return differs;
}

bool ChangeNotifier::statEntry(const std::string& name, Entry& entry, int dirFd) const {
    const std::string path = dirFd >= 0 ? name : folder_ + name;
    struct stat info;
    // Described as the listing describes it, so that whatever it would list is watched: a
    // dangling link, a loop of links.
    if (platform::statEntry(dirFd >= 0 ? dirFd : AT_FDCWD, path.c_str(), info, "fstatat",
                            nullptr) != 0)
        return false;
    entry.attr = attributesOf(info, name);
    entry.size = S_ISDIR(info.st_mode) ? 0 : static_cast<qint64>(info.st_size);
    return true;
}

} // namespace platform
