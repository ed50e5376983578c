#include "platform/PageFile.h"

#include "platform/Fault.h"
#include "platform/HeldFolder.h"
#include "platform/Paths.h"
#include "platform/Replaceable.h"

#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

SaveStatus createFailure(int err) {
    return SaveStatus{SaveFailure::Create, err ? err : EACCES};
}
SaveStatus writeFailure(int err) {
    return SaveStatus{SaveFailure::Write, err ? err : EIO};
}

// The old page's mode, and its owner and group where we may give them: as root the page stays
// its owner's; a group member keeps a shared folder's group and its group write bit.
void keepOwnerAndMode(int fd, const struct stat& old) {
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
        if (::fchown(fd, old.st_uid, old.st_gid) != 0)
            (void)::fchown(fd, uid_t(-1), old.st_gid); // not ours to give away: the group only
    }
    ::fchmod(fd, old.st_mode & 0777);
}

QByteArray temporaryName(const QByteArray& name) {
    return '.' + name + '.' +
           QByteArray::number(QRandomGenerator::global()->generate() & 0xFFFFFF, 36);
}

// The written file `fd` gets the name `name` in `folder`, replacing what is there (a link is
// replaced, never followed). A fresh page is linked as itself. Over an old one it is linked as
// ".index.htm.new" and renamed at once, a link being unable to replace a name: one fixed name,
// so that what a run killed between those two calls left is replaced by the next save (and a
// saver beside us that took the name only makes us link again).
int linkIn(PageSteps& steps, int folder, int fd, const QByteArray& name, bool exists) {
    if (!exists) {
        const int err = steps.link(fd, folder, name.constData());
        if (err != EEXIST)
            return err;
    }
    const QByteArray temp = '.' + name + ".new";
    for (int attempt = 0;; ++attempt) {
        int err = steps.link(fd, folder, temp.constData());
        if (err == EEXIST && attempt < 100) {
            ::unlinkat(folder, temp.constData(), 0);
            continue;
        }
        if (err == 0)
            err = steps.commit(folder, temp.constData(), name.constData());
        if (err == ENOENT && attempt < 100)
            continue;
        if (err != 0)
            ::unlinkat(folder, temp.constData(), 0);
        return err;
    }
}

SaveStatus replaceByRename(PageSteps& steps, int folder, const QByteArray& name,
                           const struct stat* old, bool exists, QByteArrayView bytes) {
    // Unnamed until complete, so a run killed on the way leaves nothing behind.
    QByteArray temp;
    int fd = -1;
    int err = steps.open(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, fd);
    const bool unnamed = err == 0;
    // EOPNOTSUPP: the file system has no unnamed files (EISDIR: the kernel has none at all).
    if (err == EOPNOTSUPP || err == EISDIR) {
        for (int attempt = 0;; ++attempt) {
            temp = temporaryName(name);
            err = steps.open(folder, temp.constData(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, fd);
            if (err != EEXIST || attempt == 100)
                break;
        }
    }
    if (err != 0)
        return createFailure(err);
    FileHandle file(fd);
    if (old)
        keepOwnerAndMode(fd, *old);
    err = steps.write(fd, bytes, -1);
    if (err == 0)
        err = steps.flush(fd);
    if (unnamed) {
        if (err == 0)
            err = linkIn(steps, folder, fd, name, exists);
        return err == 0 ? SaveStatus{} : writeFailure(err);
    }
    if (err == 0)
        err = steps.commit(folder, temp.constData(), name.constData());
    if (err != 0) {
        ::unlinkat(folder, temp.constData(), 0);
        return writeFailure(err);
    }
    return {};
}

// The folder may not be written, the file may: it is rewritten in place. Its new size is
// reserved first, so that a full disk fails before a byte of the old page is overwritten.
SaveStatus rewriteInPlace(PageSteps& steps, int folder, const QByteArray& name,
                          QByteArrayView bytes) {
    int fd = -1;
    if (const int err = steps.open(folder, name.constData(),
                                   O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, fd))
        return createFailure(err);
    FileHandle file(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return createFailure(errno);
    // A device or FIFO is never a page; nor is a file with other names, which may lie
    // outside the folder.
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1)
        return createFailure(EACCES);
    if (!bytes.isEmpty()) {
        if (const int err = steps.reserve(fd, off_t(bytes.size())))
            return writeFailure(err);
    }
    int err = steps.write(fd, bytes, 0);
    if (err == 0 && ::ftruncate(fd, off_t(bytes.size())) != 0)
        err = errno;
    if (err == 0)
        err = steps.flush(fd);
    return err == 0 ? SaveStatus{} : writeFailure(err);
}

Replaceable<PageSteps, SystemPageSteps>& currentSteps() {
    static Replaceable<PageSteps, SystemPageSteps> steps;
    return steps;
}

} // namespace

int SystemPageSteps::open(int folder, const char* name, int flags, int& fd) {
    fd = ::openat(folder, name, flags, 0666);
    return fd >= 0 ? 0 : errno;
}

int SystemPageSteps::reserve(int fd, off_t size) {
    if (::fallocate(fd, 0, 0, size) == 0)
        return 0;
    if (errno == EOPNOTSUPP) // the file system cannot reserve: the portable way
        return ::posix_fallocate(fd, 0, size);
    return errno;
}

int SystemPageSteps::write(int fd, QByteArrayView bytes, off_t offset) {
    const char* p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n =
            offset < 0 ? ::write(fd, p, size_t(left)) : ::pwrite(fd, p, size_t(left), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        p += n;
        left -= n;
        if (offset >= 0)
            offset += n;
    }
    return 0;
}

int SystemPageSteps::flush(int fd) {
    return ::fdatasync(fd) == 0 || errno == EINVAL ? 0 : errno; // EINVAL: cannot be synced
}

int SystemPageSteps::link(int fd, int folder, const char* name) {
    // Through /proc, as linking a descriptor itself (AT_EMPTY_PATH) needs a privilege.
    const QByteArray proc = "/proc/self/fd/" + QByteArray::number(fd);
    if (::linkat(AT_FDCWD, proc.constData(), folder, name, AT_SYMLINK_FOLLOW) == 0)
        return 0;
    const int err = errno;
    if (err == ENOENT && ::access("/proc/self/fd", F_OK) != 0) // no /proc mounted
        return ::linkat(fd, "", folder, name, AT_EMPTY_PATH) == 0 ? 0 : errno;
    return err;
}

int SystemPageSteps::commit(int folder, const char* temp, const char* name) {
    return ::renameat(folder, temp, folder, name) == 0 ? 0 : errno;
}

std::shared_ptr<PageSteps> setPageSteps(std::shared_ptr<PageSteps> steps) {
    return currentSteps().set(std::move(steps));
}

QByteArray fullPathOf(QByteArrayView path) {
    return normalizePath(path, currentFolder());
}

SaveStatus saveFileAt(int folderFd, QByteArrayView nameView, QByteArrayView bytes) {
    const QByteArray name = nameView.toByteArray(); // zero-terminated
    if (name.isEmpty() || name.contains('\0') || name.contains('/') || name == "." || name == "..")
        return createFailure(EINVAL); // never write to another name than the one asked for

    // The name itself, never what it may link to: whatever stands there is replaced.
    struct stat old;
    const int looked =
        ::fstatat(folderFd, name.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
    fault::reach("page-name"); // what stands there may change now: nothing below depends on it
    if (looked != 0) {
        if (looked != ENOENT)
            return createFailure(looked);
        return replaceByRename(*currentSteps().get(), folderFd, name, nullptr, false, bytes);
    }
    if (S_ISDIR(old.st_mode))
        return createFailure(EISDIR);
    if (!S_ISREG(old.st_mode)) // a link, a device, a FIFO: its name is replaced, nothing else
        return replaceByRename(*currentSteps().get(), folderFd, name, nullptr, true, bytes);
    // As root a read-only page would be replaced and made writable.
    if (!(old.st_mode & S_IWUSR))
        return createFailure(EACCES);
    if (::faccessat(folderFd, ".", W_OK | X_OK, AT_EACCESS) != 0) {
        if (::faccessat(folderFd, name.constData(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
            return createFailure(errno); // EROFS on a read-only file system
        return rewriteInPlace(*currentSteps().get(), folderFd, name, bytes);
    }
    return replaceByRename(*currentSteps().get(), folderFd, name, &old, true, bytes);
}

SaveStatus saveFileAtomically(QByteArrayView pathView, QByteArrayView bytes) {
    const QByteArray path = pathView.toByteArray();
    if (path.contains('\0'))
        return createFailure(EINVAL); // never write to a shorter path
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return saveFileAt(AT_FDCWD, path, bytes);
    // The folder as the caller names it (a link to it is the caller's choice); O_PATH, as
    // saving needs only the right to search it.
    const QByteArray folderPath = slash == 0 ? QByteArray("/") : path.first(slash);
    if (const int err = fault::take("folder-open"))
        return createFailure(err);
    FileHandle folder(::open(folderPath.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isOpen())
        return createFailure(errno);
    return saveFileAt(folder.get(), path.sliced(slash + 1), bytes);
}

} // namespace platform
