#pragma once
// Change notification for one folder (not its subtree), for the change watcher.
//
// inotify reports more than a listing can show (a `touch`, a `chmod` to the same mode, a
// rewrite that keeps the size), so its events are only hints: each one is checked against a
// snapshot of the entries' sizes and attribute bits, and only a real difference counts. Name
// changes (create, delete, renames in and out, also a rename onto an existing name) always
// count, and so does a lost event queue, and so does a change of the folder's own mode or
// owners (it may have become unreadable, or readable again). When the folder itself goes away the
// notifier reports one last change and ends.
//
// inotify is reached through the replaceable InotifyCalls (taken when the notifier is made);
// the other system calls ask the fault hook first, under the names "eventfd", "poll",
// "opendir" and "fstatat".
#include "platform/Inotify.h"
#include "platform/WakeEvent.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <atomic>
#include <memory>
#include <string>
#include <unordered_map>

namespace platform {

class ChangeNotifier {
public:
    enum class Wait {
        Changed, // something a listing shows has changed; call wait() again for the next one
        Gone,    // the folder went away (deleted, moved, unmounted): a last change, then the end
        Stopped, // requestStop() was called
        Failed,  // the wait itself failed; the notifier is of no further use
    };

    // Adds the watch at once, on the calling thread, so that no change made after the
    // constructor has returned is missed. isValid() is false when the folder cannot be
    // watched (missing, not a folder, no rights, too many watches); error() has the errno.
    explicit ChangeNotifier(QByteArrayView folder);
    ~ChangeNotifier();
    ChangeNotifier(const ChangeNotifier&) = delete;
    ChangeNotifier& operator=(const ChangeNotifier&) = delete;

    bool isValid() const { return inotifyFd_ >= 0; }
    int error() const { return error_; }

    // Blocks (without using the CPU) until a change, a stop request or the end. The first
    // call takes the snapshot; any event queued by then counts as a change, since it may
    // have happened after a listing read the folder but before the snapshot did. It also
    // makes the calling thread 10 steps nicer for good (watching is background work). Called
    // from one thread at a time.
    Wait wait();

    // From any thread, while the object exists: makes the current and every later wait()
    // answer Stopped at once.
    void requestStop();

private:
    struct Entry {
        qint64 size = 0;
        quint32 attr = 0;
    };
    enum class Drain { Quiet, Changed, Gone, Failed };

    // Who may read the folder itself: its mode bits and owners.
    struct Access {
        quint32 mode = 0;
        quint32 owner = 0;
        quint32 group = 0;
    };

    Drain drain(bool everyEventCounts);
    // Answers whether the folder's own rights have changed since the last look.
    bool recheckAccess();
    Access accessOf() const;
    bool takeSnapshot();
    // Re-reads one entry; answers whether what a listing shows of it has changed.
    bool recheck(const std::string& name);
    // Relative to `dirFd` when given (the snapshot's open folder: no path walk per entry),
    // else by the folder's path.
    bool statEntry(const std::string& name, Entry& entry, int dirFd = -1) const;

    // The folder is used by path: an open descriptor would keep a deleted folder alive and
    // hold back the kernel's report of its end.
    std::string folder_;
    std::shared_ptr<InotifyCalls> calls_ = inotifyCalls();
    int inotifyFd_ = -1;
    WakeEvent stopEvent_;
    int error_ = 0;
    bool primed_ = false;
    std::atomic<bool> stop_{false};
    std::unordered_map<std::string, Entry> snapshot_;
    Access access_;
};

} // namespace platform
