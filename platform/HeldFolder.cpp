#include "platform/HeldFolder.h"

#include "platform/Fault.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

FileHandle::~FileHandle() {
    if (fd_ >= 0)
        ::close(fd_);
}

int FileHandle::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

bool mayFollowLink(const struct stat& link, const struct stat& target) {
    return link.st_uid == ::geteuid() || link.st_uid == target.st_uid;
}

namespace {

int openRetrying(int atFd, const char* path, int flags) {
    int fd;
    do {
        fd = ::openat(atFd, path, flags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

int openUnderLinkRule(int atFd, const char* path, int flags, FileHandle& file) {
    int fd = openRetrying(atFd, path, flags | O_NOFOLLOW);
    if (fd >= 0) {
        file = FileHandle(fd);
        return 0;
    }
    // A final link gives ELOOP, or ENOTDIR when a folder was asked for.
    const int first = errno;
    if (first != ELOOP && first != ENOTDIR)
        return first;
    struct stat link, target, again;
    if (::fstatat(atFd, path, &link, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(link.st_mode))
        return first;
    fd = openRetrying(atFd, path, flags);
    if (fd < 0)
        return errno;
    FileHandle opened(fd);
    if (::fstat(fd, &target) != 0)
        return errno;
    // The link must still be the one whose owner was checked: a swap in between is refused.
    if (::fstatat(atFd, path, &again, AT_SYMLINK_NOFOLLOW) != 0 || again.st_ino != link.st_ino ||
        again.st_dev != link.st_dev || !mayFollowLink(link, target))
        return EACCES;
    file = std::move(opened);
    return 0;
}

int openFolder(int atFd, const QByteArray& path, bool followLink, FileHandle& folder) {
    fault::reach("folder-open");
    if (const int err = fault::take("folder-open"))
        return err;
    if (path.isEmpty() || path.contains('\0'))
        return path.isEmpty() ? ENOENT : EINVAL;
    constexpr int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (followLink)
        return openUnderLinkRule(atFd, path.constData(), flags, folder);
    const int fd = openRetrying(atFd, path.constData(), flags | O_NOFOLLOW);
    if (fd < 0)
        return errno;
    folder = FileHandle(fd);
    return 0;
}

int folderIdentityOf(int folderFd, FolderId& id) {
    struct stat st;
    if (::fstat(folderFd, &st) != 0)
        return errno;
    id = FolderId{quint64(st.st_dev), quint64(st.st_ino)};
    return 0;
}

int workingFolderError() {
    if (const int err = fault::take("getcwd"))
        return err;
    char buffer[PATH_MAX];
    // ERANGE: it exists, its path is only longer than a buffer can hold.
    return ::getcwd(buffer, sizeof buffer) || errno == ERANGE ? 0 : errno;
}

QByteArray heldFolderPath(int folderFd) {
    return "/proc/self/fd/" + QByteArray::number(folderFd);
}

} // namespace platform
