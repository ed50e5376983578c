#include "platform/DocumentFile.h"

#include "platform/Errors.h"
#include "platform/Fault.h"
#include "platform/HeldFolder.h"

#include <algorithm>
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
    return openAt(AT_FDCWD, name);
}

IoStatus DocumentFile::openAt(int folderFd, const QByteArray& name) {
    if (fd_ >= 0)
        close();
    // ENOENT of a name in a folder we hold: the folder exists, so the file is not found.
    const QByteArrayView codePath = folderFd == AT_FDCWD ? QByteArrayView(name) : "./x";
    if (const int err = fault::take("open"))
        return failure(err, codePath);
    if (name.contains('\0'))
        return IoStatus{3, EINVAL}; // no file has such a name; never open a shorter path
    // O_NONBLOCK: opening a FIFO without a writer must not hang, nor may a read block later.
    FileHandle file;
    if (const int err = openUnderLinkRule(folderFd, name.constData(),
                                          O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, file))
        return failure(err, codePath);

    struct stat st;
    int err = fault::take("fstat");
    if (err == 0 && statOpenFile(file.get(), &st) != 0)
        err = errno;
    if (err == 0 && !S_ISREG(st.st_mode))
        err = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
    if (err == 0 && qint64(st.st_size) > kMaxSize)
        err = EFBIG;
    if (err != 0)
        return failure(err, codePath);
    fd_ = file.release();
    // A size of 0 says nothing (procfs and friends report 0 for files with content).
    unread_ = st.st_size > 0 ? qint64(st.st_size) : -1;
    budget_ = std::min(qint64(st.st_size) + kGrowthAllowed, kMaxSize);
    ended_ = false;
    return {};
}

IoStatus DocumentFile::read(char* buffer, qsizetype size, qsizetype* count) {
    *count = 0;
    if (fd_ < 0)
        return failure(EBADF);
    if (ended_ || budget_ <= 0)
        return {}; // the data has ended, or the document has grown past what we read of it
    size = qsizetype(std::min<qint64>(size, budget_));
    int err = fault::take("read");
    ssize_t n = 0;
    if (err == 0) {
        // EAGAIN stays a failure: a file that would block is not a document.
        do {
            n = ::read(fd_, buffer, std::size_t(size));
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            err = errno;
    }
    if (err == EPIPE)
        return {}; // a broken pipe is the end of the data
    if (err != 0)
        return failure(err);
    *count = n;
    budget_ -= n;
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
