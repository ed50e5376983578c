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
    // openat: the temporary file (O_CREAT | O_EXCL), or the page itself for a direct write.
    virtual int open(int folder, const char* name, int flags, int& fd) = 0;
    // The direct write's reservation of `size` bytes before anything is overwritten.
    virtual int reserve(int fd, off_t size) = 0;
    // All of `bytes` at `offset` (at the file position when offset < 0).
    virtual int write(int fd, QByteArrayView bytes, off_t offset) = 0;
    virtual int flush(int fd) = 0;
    // The temporary file renamed over the page.
    virtual int commit(int folder, const char* temp, const char* name) = 0;
};

class SystemPageSteps : public PageSteps {
public:
    int open(int folder, const char* name, int flags, int& fd) override;
    int reserve(int fd, off_t size) override;
    int write(int fd, QByteArrayView bytes, off_t offset) override;
    int flush(int fd) override;
    int commit(int folder, const char* temp, const char* name) override;
};

// Replaces the steps every later save takes (nullptr restores the system's); answers the
// previous ones. A save takes the steps once, when it starts.
std::shared_ptr<PageSteps> setPageSteps(std::shared_ptr<PageSteps> steps);

// Replaces the file `name` (one name, no '/') in the open folder `folderFd` with `bytes`: a
// temporary file in the same folder, renamed over the old one. A target without its owner
// write bit is refused (also for root). A target that is a symbolic link is written through
// only under the link rule (HeldFolder.h), else refused with EACCES and left as it is. Where
// the folder is not writable but the file is, the file is rewritten in place after its new
// size has been reserved, so a full disk leaves it as it was. The old file's mode, owner and
// group are kept where the process may keep them.
SaveStatus saveFileAt(int folderFd, QByteArrayView name, QByteArrayView bytes);

// The same for a path (file-system bytes): its folder is opened first, following links the
// path names on its way there.
SaveStatus saveFileAtomically(QByteArrayView path, QByteArrayView bytes);

// The absolute form of `path`: relative paths resolved against the working folder, "." and
// ".." and doubled delimiters folded; symbolic links are not resolved.
QByteArray fullPathOf(QByteArrayView path);

} // namespace platform
