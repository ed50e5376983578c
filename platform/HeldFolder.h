#pragma once
// Folders held by a descriptor, and the one rule for symbolic links. The program may run as
// root over folders that other users can write and that change while it works, so everything
// below a folder is reached relative to its open descriptor (a folder swapped for a link
// between a check and a use is never entered), and a link is followed only when the running
// user owns it or the link's owner also owns what it points to.
#include "platform/Paths.h"

#include <QByteArray>

struct stat;

namespace platform {

// A descriptor closed when it goes out of scope.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    FileHandle(FileHandle&& other) noexcept : fd_(other.release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle();

    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    int release();

private:
    int fd_ = -1;
};

// True when a link described by `link` (lstat) may be followed to `target` (stat).
bool mayFollowLink(const struct stat& link, const struct stat& target);

// Opens `path` relative to `atFd` with `flags` without following a final symbolic link; when it
// is one, follows it under the link rule (EACCES otherwise), and only the very link checked (a
// swap in between gives EACCES). Answers 0 or the errno of the first try.
int openUnderLinkRule(int atFd, const char* path, int flags, FileHandle& file);

// Opens the folder `path` relative to `atFd` (AT_FDCWD for the working folder) for listing and
// for reaching what lies below it. A final symbolic link is followed only with `followLink`
// and under the link rule (EACCES otherwise); without it a link gives ELOOP or ENOTDIR.
// Answers 0 or the errno. Fault hook "folder-open", which is also a point for fault::onReach.
int openFolder(int atFd, const QByteArray& path, bool followLink, FileHandle& folder);

// The identity of an open folder, to walk a tree without loops; 0 or the errno.
int folderIdentityOf(int folderFd, FolderId& id);

// 0 while the working folder exists, else why it cannot be had (it was removed): a relative
// path must then not be taken as relative to "/".
int workingFolderError();

// A path that names the held folder itself (through /proc/self/fd), for code that lists by
// path: what it lists is the folder that was opened, whatever its path names now.
QByteArray heldFolderPath(int folderFd);

} // namespace platform
