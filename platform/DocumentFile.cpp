#include "platform/DocumentFile.h"

#include "platform/Errors.h"
#include "platform/Fault.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {
namespace {

// glibc's fstat goes through fstatat(fd, "", AT_EMPTY_PATH), which makes the kernel copy and
// look up an empty path; the plain call is measurably cheaper per document where it exists.
int statOpenFile(int fd, struct stat* st) {
#if defined(SYS_fstat) && defined(__x86_64__)
    return int(::syscall(SYS_fstat, fd, st));
#else
    return ::fstat(fd, st);
#endif
}

IoStatus failure(int err, QByteArrayView path = {}) {
    return IoStatus{ioErrorCode(err, path), err};
}

} // namespace

DocumentFile::~DocumentFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

IoStatus DocumentFile::open(const QByteArray& name) {
    if (fd_ >= 0)
        close();
    if (const int err = fault::take("open"))
        return failure(err, name);
    if (name.contains('\0'))
        return IoStatus{3, EINVAL}; // no file has such a name; never open a shorter path
    int fd;
    do {
        // O_NONBLOCK: opening a FIFO without a writer must not hang; cleared once it is known
        // to be a regular file.
        fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return failure(errno, name);

    struct stat st;
    int err = fault::take("fstat");
    if (err == 0 && statOpenFile(fd, &st) != 0)
        err = errno;
    if (err == 0 && !S_ISREG(st.st_mode))
        err = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
    if (err != 0) {
        ::close(fd);
        return failure(err, name);
    }
    fd_ = fd;
    blockingSet_ = false;
    // A size of 0 says nothing (procfs and friends report 0 for files with content).
    unread_ = st.st_size > 0 ? qint64(st.st_size) : -1;
    ended_ = false;
    return {};
}

IoStatus DocumentFile::read(char* buffer, qsizetype size, qsizetype* count) {
    *count = 0;
    if (fd_ < 0)
        return failure(EBADF);
    if (ended_)
        return {}; // a short read took the last byte of the size seen at open: spare a call
    int err = fault::take("read");
    ssize_t n = 0;
    if (err == 0) {
        for (;;) {
            n = ::read(fd_, buffer, std::size_t(size));
            if (n >= 0)
                break;
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN && !blockingSet_) {
                // Regular files ignore O_NONBLOCK, so it is cleared only where a file system
                // honours it (one system call less per document).
                blockingSet_ = true;
                if (::fcntl(fd_, F_SETFL, 0) == 0) // O_NONBLOCK is the only such flag we set
                    continue;
            }
            err = errno;
            break;
        }
    }
    if (err == EPIPE)
        return {}; // a broken pipe is the end of the data
    if (err != 0)
        return failure(err);
    *count = n;
    if (unread_ >= 0) {
        if (n > unread_) {
            unread_ = -1; // grown since: read to the end as usual
        } else {
            unread_ -= n;
            ended_ = unread_ == 0 && n < size;
        }
    }
    return {};
}

IoStatus DocumentFile::close() {
    if (fd_ < 0)
        return failure(EBADF);
    const int fd = fd_;
    fd_ = -1;
    const int injected = fault::take("close");
    // The descriptor is released in any case; Linux must not retry a close.
    const int result = ::close(fd);
    if (injected)
        return failure(injected);
    if (result != 0 && errno != EINTR)
        return failure(errno);
    return {};
}

} // namespace platform
