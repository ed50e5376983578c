#pragma once
// A document opened for reading: only regular files; a folder, a device, a FIFO or a socket
// is refused with code 5 before anything is read (a FIFO would block, a device would read
// without end). It stays O_NONBLOCK: a file that would block (a kernel trace pipe) fails with
// EAGAIN instead of hanging, and reading stops at the size seen at open plus kGrowthAllowed, so
// a file that keeps growing is read within bounds. A symbolic link is followed only under the
// link rule of HeldFolder.h (code 5 otherwise). A document larger than kMaxSize is refused
// (EFBIG) and none is read beyond it. Every failure comes back as the message-table
// code of Errors.h and the errno behind it. Each call asks the fault hook first ("open",
// "fstat", "read", "close").
#include <QByteArray>
#include <QByteArrayView>

namespace platform {

struct IoStatus {
    int code = 0; // message-table code, 0 for success
    int err = 0;  // the errno behind it, for diagnostics

    explicit operator bool() const { return code == 0; }
};

class DocumentFile {
public:
    DocumentFile() = default;
    DocumentFile(const DocumentFile&) = delete;
    DocumentFile& operator=(const DocumentFile&) = delete;
    // Closes a file still open, ignoring a failure.
    ~DocumentFile();

    bool isOpen() const { return fd_ >= 0; }

    // What a document may grow by while it is read.
    static constexpr qint64 kGrowthAllowed = 1 << 20;
    // The largest document: a larger one is refused at open with EFBIG, so that the memory a
    // page takes is bounded whatever lies in the folder (a caption is a document's whole text).
    static constexpr qint64 kMaxSize = qint64(16) << 20;

    // Opens `path` (file-system bytes) for reading; an open file is closed first.
    IoStatus open(const QByteArray& path);
    // The same for `name` relative to the open folder `folderFd`.
    IoStatus openAt(int folderFd, const QByteArray& name);

    // Reads up to `size` bytes; `*count` is the number read, 0 at the end of the data (a broken
    // pipe counts as the end too).
    IoStatus read(char* buffer, qsizetype size, qsizetype* count);

    // Closes the file; it counts as closed also when the close reports a failure.
    IoStatus close();

private:
    int fd_ = -1;
    qint64 unread_ = -1; // bytes left by the size seen at open; -1 when not known
    qint64 budget_ = 0;  // bytes that may still be read: the size at open plus the growth
    bool ended_ = false; // a short read reached that size: the data has ended
};

} // namespace platform
