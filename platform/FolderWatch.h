#pragma once
// Change notification for many folders through one inotify instance, for keeping pages
// current: unlike ChangeNotifier (one folder, only what a listing shows) it reports every
// event about a name, also a rewrite that keeps the size, since that changes a caption.
// The caller waits on fd() (poll or an event loop's socket notifier) and then calls read().
// The inotify calls are the ones installed when the watch is made (platform/Inotify.h).
#include "platform/Inotify.h"

#include <QByteArray>
#include <QByteArrayView>

#include <memory>
#include <vector>

namespace platform {

class FolderWatch {
public:
    struct Event {
        enum Kind {
            Entry,        // a file in the folder: created, removed, renamed, written, chmod
            SubfolderIn,  // a folder created in it or moved into it
            SubfolderOut, // a subfolder removed or moved away
            Moved,        // the watched folder itself was renamed or moved
            Gone,         // the watch has ended (folder deleted, unmounted)
            Overflow,     // events were lost: everything must be looked at again
        };
        Kind kind = Entry;
        int watch = -1;
        QByteArray name; // for Entry, SubfolderIn and SubfolderOut
    };

    FolderWatch();
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // False when no inotify instance could be had (error(): EMFILE past the per-user limit
    // of instances).
    bool isValid() const { return fd_ >= 0; }
    int error() const { return error_; }
    // Readable while events wait.
    int fd() const { return fd_; }

    // Watches `folder`; a folder already watched (also under another name) answers its
    // existing watch. A symbolic link is followed only when asked. Answers -1 with errno in
    // `err` (ENOSPC: the per-user limit of watches, fs.inotify.max_user_watches).
    int add(QByteArrayView folder, bool followLink, int& err);
    void remove(int watch);

    // Appends every queued event, without blocking. False when reading failed (errno in
    // error()).
    bool read(std::vector<Event>& events);

private:
    std::shared_ptr<InotifyCalls> calls_ = inotifyCalls();
    int fd_ = -1;
    int error_ = 0;
};

} // namespace platform
