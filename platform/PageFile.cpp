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

// Links followed from one name to the file, as the kernel allows.
constexpr int kMaxLinkHops = 40;

SaveStatus createFailure(int err) {
    return SaveStatus{SaveFailure::Create, err ? err : EACCES};
}
SaveStatus writeFailure(int err) {
    return SaveStatus{SaveFailure::Write, err ? err : EIO};
}

bool sameInode(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Follows `name` in `folder` while it is a symbolic link the rule lets us follow; leaves the
// folder and name of the file itself (which may not exist yet) in `folder`/`name`, and its
// lstat in `st` with `exists`. 0 or the errno.
int resolvePage(FileHandle& hop, int& folder, QByteArray& name, struct stat& st, bool& exists) {
    for (int hops = 0;; ++hops) {
        if (::fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            exists = false;
            return errno == ENOENT ? 0 : errno;
        }
        exists = true;
        if (!S_ISLNK(st.st_mode))
            return 0;
        if (hops == kMaxLinkHops)
            return ELOOP;
        // Our own link is followed even when dangling; another user's only to their own file
        // (a dangling one they planted would lead anywhere).
        struct stat target;
        const bool reached = ::fstatat(folder, name.constData(), &target, 0) == 0;
        if (st.st_uid != ::geteuid() && !(reached && mayFollowLink(st, target)))
            return EACCES;
        char text[4096];
        const ssize_t n = ::readlinkat(folder, name.constData(), text, sizeof text);
        if (n <= 0 || n == sizeof text)
            return n < 0 ? errno : ENAMETOOLONG;
        struct stat again;
        if (::fstatat(folder, name.constData(), &again, AT_SYMLINK_NOFOLLOW) != 0 ||
            !sameInode(again, st))
            return EACCES; // swapped while it was checked
        const QByteArray link(text, n);
        const qsizetype slash = link.lastIndexOf('/');
        name = link.sliced(slash + 1);
        if (name.isEmpty() || name == "." || name == "..")
            return EISDIR;
        if (slash >= 0) {
            const QByteArray dir = slash == 0 ? QByteArray("/") : link.first(slash);
            const int fd = ::openat(folder, dir.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0)
                return errno;
            hop = FileHandle(fd);
            folder = fd;
        }
    }
}

// The old page kept its owner, group and mode: the new one takes them where we may.
void keepOwnerAndMode(int fd, const struct stat& old) {
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
        if (::fchown(fd, old.st_uid, old.st_gid) != 0)
            return; // not ours to give away: the page becomes the writer's, as an editor's save
    }
    ::fchmod(fd, old.st_mode & 0777);
}

SaveStatus replaceByRename(PageSteps& steps, int folder, const QByteArray& name,
                           const struct stat* old, QByteArrayView bytes) {
    QByteArray temp;
    FileHandle file;
    for (int attempt = 0; !file.isOpen(); ++attempt) {
        temp = '.' + name + '.' +
               QByteArray::number(QRandomGenerator::global()->generate() & 0xFFFFFF, 36);
        int fd = -1;
        const int err = steps.open(folder, temp.constData(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, fd);
        if (err == 0)
            file = FileHandle(fd);
        else if (err != EEXIST || attempt == 100)
            return createFailure(err);
    }
    if (old)
        keepOwnerAndMode(file.get(), *old);
    int err = steps.write(file.get(), bytes, -1);
    if (err == 0)
        err = steps.flush(file.get());
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
    if (!S_ISREG(st.st_mode))
        return createFailure(EACCES); // a device or FIFO is never a page
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
    QByteArray name = nameView.toByteArray(); // zero-terminated
    if (name.isEmpty() || name.contains('\0') || name.contains('/'))
        return createFailure(EINVAL); // never write to another name than the one asked for

    FileHandle hop;
    int folder = folderFd;
    struct stat old;
    bool exists = false;
    if (const int err = resolvePage(hop, folder, name, old, exists))
        return createFailure(err);
    if (exists) {
        if (S_ISDIR(old.st_mode))
            return createFailure(EISDIR);
        // As root a read-only page would be replaced and made writable.
        if (!(old.st_mode & S_IWUSR))
            return createFailure(EACCES);
        if (::faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0) {
            if (::faccessat(folder, name.constData(), W_OK, AT_EACCESS) != 0)
                return createFailure(EACCES);
            return rewriteInPlace(*currentSteps().get(), folder, name, bytes);
        }
    }
    return replaceByRename(*currentSteps().get(), folder, name, exists ? &old : nullptr, bytes);
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
