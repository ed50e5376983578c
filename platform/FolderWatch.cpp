#include "platform/FolderWatch.h"

#include <cstdint>
#include <sys/inotify.h>
#include <unistd.h>

namespace platform {
namespace {

// IN_MODIFY as well as IN_CLOSE_WRITE: a writer that keeps its file open still gets its page
// current. IN_EXCL_UNLINK keeps writes to deleted but still open files quiet.
constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_ONLYDIR |
                                IN_EXCL_UNLINK;
constexpr uint32_t kCameIn = IN_CREATE | IN_MOVED_TO;
constexpr uint32_t kWentOut = IN_DELETE | IN_MOVED_FROM;

} // namespace

FolderWatch::FolderWatch() {
    fd_ = calls_->init(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0)
        error_ = errno;
}

FolderWatch::~FolderWatch() {
    if (fd_ >= 0)
        ::close(fd_);
}

int FolderWatch::add(QByteArrayView folder, bool followLink, int& err) {
    const QByteArray path = folder.toByteArray();
    const int wd = calls_->addWatch(fd_, path.constData(),
                                    kWatchMask | (followLink ? 0u : uint32_t(IN_DONT_FOLLOW)));
    err = wd < 0 ? errno : 0;
    return wd;
}

void FolderWatch::remove(int watch) {
    ::inotify_rm_watch(fd_, watch);
}

bool FolderWatch::read(std::vector<Event>& events) {
    const int err = drainInotify(*calls_, fd_, [&](const InotifyEvent& e) {
        Event out;
        out.watch = e.watch;
        if (e.mask & IN_Q_OVERFLOW) {
            out.kind = Event::Overflow;
        } else if (e.mask & IN_IGNORED) {
            out.kind = Event::Gone;
        } else if (e.mask & IN_MOVE_SELF) {
            out.kind = Event::Moved;
        } else if (e.name.isEmpty()) {
            return; // the folder's own mode or times: not part of any page
        } else {
            out.name = e.name.toByteArray();
            if (!(e.mask & IN_ISDIR))
                out.kind = Event::Entry;
            else if (e.mask & kCameIn)
                out.kind = Event::SubfolderIn;
            else if (e.mask & kWentOut)
                out.kind = Event::SubfolderOut;
            else
                return; // a subfolder's mode or times
        }
        events.push_back(std::move(out));
    });
    if (err != 0)
        error_ = err;
    return err == 0;
}

} // namespace platform
