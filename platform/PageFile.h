#pragma once
// Saving a whole file atomically: the old file stays exactly as it was unless the new content
// has been written completely. Failures come back as what went wrong and the errno behind it,
// so that the caller can raise its own exceptions. Fault hook names: "page-open" (creating),
// "page-reserve" (the direct write's reservation), "page-write", "page-flush", "page-commit".
#include <QByteArray>
#include <QByteArrayView>

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
