#include "platform/PageFile.h"

#include "platform/Fault.h"
#include "platform/Paths.h"

#include <QFile>
#include <QList>
#include <QSaveFile>

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

QByteArray folderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return ".";
    return slash == 0 ? QByteArray("/") : path.first(slash);
}

// Closes a descriptor on leaving the scope.
struct FdGuard {
    int fd = -1;
    ~FdGuard() {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

QByteArray fullPathOf(QByteArrayView path) {
    return normalizePath(path, currentFolder());
}

SaveStatus saveFileAtomically(QByteArrayView pathView, QByteArrayView bytes) {
    const QByteArray path = pathView.toByteArray(); // zero-terminated
    if (const int err = fault::take("page-open"))
        return createFailure(err);
    if (path.contains('\0'))
        return createFailure(EINVAL); // never write to a shorter path

    // What QSaveFile would find out without telling why: check it ourselves, with errno.
    struct stat old;
    const bool exists = ::stat(path.constData(), &old) == 0;
    if (exists) {
        if (S_ISDIR(old.st_mode))
            return createFailure(EISDIR);
        // As root QSaveFile would replace a read-only page and make it writable.
        if (!(old.st_mode & S_IWUSR))
            return createFailure(EACCES);
        if (::faccessat(AT_FDCWD, path.constData(), W_OK, AT_EACCESS) != 0 && errno == EACCES) {
            // Not ours to rewrite in place; replacing it still needs a writable folder.
            if (::faccessat(AT_FDCWD, folderOf(path).constData(), W_OK, AT_EACCESS) != 0)
                return createFailure(EACCES);
        }
    } else if (errno != ENOENT) {
        return createFailure(errno);
    } else {
        struct stat folder;
        if (::stat(folderOf(path).constData(), &folder) != 0)
            return createFailure(errno);
        if (!S_ISDIR(folder.st_mode))
            return createFailure(ENOTDIR);
    }

    // QSaveFile takes a QString; a folder whose bytes are not valid UTF-8 cannot be named that
    // way, so it is reached through a descriptor of the folder.
    FdGuard folderFd;
    QString name = QFile::decodeName(path);
    if (QFile::encodeName(name) != path) {
        const qsizetype slash = path.lastIndexOf('/');
        const QByteArray base = path.sliced(slash + 1);
        if (QFile::encodeName(QFile::decodeName(base)) != base)
            return createFailure(EILSEQ);
        folderFd.fd = ::open(folderOf(path).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folderFd.fd < 0)
            return createFailure(errno);
        name = QStringLiteral("/proc/self/fd/%1/").arg(folderFd.fd) + QFile::decodeName(base);
    }

    QSaveFile file(name);
    file.setDirectWriteFallback(true);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly))
        return createFailure(errno);
    if (exists && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
        // Keep the old owner and group where we may (root); otherwise the page becomes ours.
        if (::fchown(file.handle(), old.st_uid, old.st_gid) == 0)
            ::fchmod(file.handle(), old.st_mode & 07777);
    }

    if (!bytes.isEmpty()) {
        int err = fault::take("page-write");
        if (err == 0) {
            errno = 0;
            if (file.write(bytes.data(), bytes.size()) != bytes.size())
                err = errno ? errno : EIO;
        }
        if (err != 0) {
            file.cancelWriting();
            return writeFailure(err);
        }
    }
    int err = fault::take("page-flush");
    if (err == 0 && !file.flush())
        err = errno ? errno : EIO;
    if (err == 0)
        err = fault::take("page-commit");
    if (err != 0) {
        file.cancelWriting();
        return writeFailure(err);
    }
    errno = 0;
    if (!file.commit())
        return writeFailure(errno);
    return {};
}

} // namespace platform
