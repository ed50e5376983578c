#pragma once
// Saving a whole file atomically: the old file stays exactly as it was unless the new content
// has been written completely. Failures come back as what went wrong and the errno behind it,
// so that the caller can raise its own exceptions.
#include <QByteArray>
#include <QByteArrayView>

#include <memory>
#include <sys/types.h>

namespace platform {

enum class SaveFailure {
    None,
    Create, // the file could not be created or replaced; nothing was written
    Write,  // writing, flushing or replacing failed; the old file is kept
};

struct SaveStatus {
    SaveFailure failure = SaveFailure::None;
    int err = 0;

    explicit operator bool() const { return failure == SaveFailure::None; }
};

// The steps of a save that change the disk, each answering 0 or the errno. The system's are
// the default; tests put in steps that fail, to show that a full disk or a refused rename
// keeps the old file and is reported as the right failure.
class PageSteps {
public:
    virtual ~PageSteps() = default;
    // openat: the unnamed file (name ".", O_TMPFILE), a temporary file (O_CREAT | O_EXCL)
    // where the file system has no unnamed files, or the page itself for a direct write.
    virtual int open(int folder, const char* name, int flags, int& fd) = 0;
    // The direct write's reservation of `size` bytes before anything is overwritten.
    virtual int reserve(int fd, off_t size) = 0;
    // All of `bytes` at `offset` (at the file position when offset < 0).
    virtual int write(int fd, QByteArrayView bytes, off_t offset) = 0;
    virtual int flush(int fd) = 0;
    // The unnamed file `fd` linked in as `name` (EEXIST when the name is taken).
    virtual int link(int fd, int folder, const char* name) = 0;
    // The temporary name renamed over the page.
    virtual int commit(int folder, const char* temp, const char* name) = 0;
};

class SystemPageSteps : public PageSteps {
public:
    int open(int folder, const char* name, int flags, int& fd) override;
    int reserve(int fd, off_t size) override;
    int write(int fd, QByteArrayView bytes, off_t offset) override;
    int flush(int fd) override;
    int link(int fd, int folder, const char* name) override;
    int commit(int folder, const char* temp, const char* name) override;
};

// Replaces the steps every later save takes (nullptr restores the system's); answers the
// previous ones. A save takes the steps once, when it starts.
std::shared_ptr<PageSteps> setPageSteps(std::shared_ptr<PageSteps> steps);

// Replaces the file `name` (one name, no '/') in the open folder `folderFd` with `bytes`. The
// new page is written as an unnamed file in that folder (O_TMPFILE), linked in and renamed
// over the name only once complete, so a run killed on the way leaves nothing; where the file
// system has no unnamed files, a temporary name (".index.htm.XXXX") is used instead. The name
// is never resolved: a symbolic link, device or FIFO standing there is itself replaced by the
// page and what it points to is never written. A page without its owner write bit is refused
// (also for root). Where the folder is not writable but the page (a regular file with no other
// names) is, it is rewritten in place after its new size has been reserved, so a full disk
// leaves it as it was. The old page's permission bits, and its owner and group where the
// process may set them, carry over.
SaveStatus saveFileAt(int folderFd, QByteArrayView name, QByteArrayView bytes);

// The same for a path (file-system bytes): its folder is opened first, following links the
// path names on its way there.
SaveStatus saveFileAtomically(QByteArrayView path, QByteArrayView bytes);

// The absolute form of `path`: relative paths resolved against the working folder, "." and
// ".." and doubled delimiters folded; symbolic links are not resolved.
QByteArray fullPathOf(QByteArrayView path);

} // namespace platform
