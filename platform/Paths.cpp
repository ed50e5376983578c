#include "platform/Paths.h"

#include "platform/Fault.h"

#include <QList>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

QByteArray normalizePath(QByteArrayView path, QByteArrayView cwd) {
    QByteArray joined;
    if (path.startsWith('/')) {
        joined = path.toByteArray();
    } else {
        joined = cwd.toByteArray();
        joined += '/';
        joined += path;
    }
    QList<QByteArray> parts;
    for (const QByteArray& part : joined.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.append(part);
    }
    QByteArray result;
    result.reserve(joined.size());
    for (const QByteArray& part : parts) {
        result += '/';
        result += part;
    }
    if (result.isEmpty() || path.endsWith('/'))
        result += '/';
    return result;
}

QByteArray currentFolder() {
    if (fault::take("getcwd") != 0)
        return QByteArrayLiteral("/");
    char buffer[PATH_MAX];
    if (!::getcwd(buffer, sizeof buffer))
        return QByteArrayLiteral("/");
    return QByteArray(buffer);
}

bool pathExists(const QByteArray& path) {
    struct stat st;
    if (fault::take("lstat") != 0)
        return false;
    return ::lstat(path.constData(), &st) == 0;
}

bool isFolder(const QByteArray& path) {
    struct stat st;
    if (fault::take("stat") != 0)
        return false;
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

int folderIdentity(const QByteArray& path, bool followLinks, FolderId& id) {
    struct stat st;
    if (int err = fault::take(followLinks ? "stat" : "lstat"))
        return err;
    const int rc = followLinks ? ::stat(path.constData(), &st) : ::lstat(path.constData(), &st);
    if (rc != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    id = FolderId{quint64(st.st_dev), quint64(st.st_ino)};
    return 0;
}

namespace {

int checkThenRename(const QByteArray& from, const QByteArray& to) {
    if (pathExists(to))
        return EEXIST;
    if (int err = fault::take("rename"))
        return err;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

} // namespace

int renameNoReplace(const QByteArray& from, const QByteArray& to) {
    int err = fault::take("renameat2");
    if (err == 0) {
        if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) ==
            0)
            return 0;
        err = errno;
    }
    if (err != EINVAL && err != ENOSYS)
        return err;

    // The file system does not know the flag (NFS, some FUSE servers).
    struct stat st;
    if (int lerr = fault::take("lstat"))
        return lerr;
    if (::lstat(from.constData(), &st) != 0)
        return errno;
    if (S_ISDIR(st.st_mode))
        return checkThenRename(from, to);

    // A hard link is refused when the name exists, so nothing can be replaced.
    err = fault::take("link");
    if (err == 0 && ::link(from.constData(), to.constData()) == 0) {
        err = fault::take("unlink");
        if (err == 0 && ::unlink(from.constData()) == 0)
            return 0;
        if (err == 0)
            err = errno;
        ::unlink(to.constData()); // keep one name only: undo the link
        return err;
    }
    if (err == 0)
        err = errno;
    // No hard links on this file system (FAT and the like): the check is all that is left.
    if (err == EPERM || err == EOPNOTSUPP || err == ENOSYS)
        return checkThenRename(from, to);
    return err;
}

} // namespace platform
