#pragma once
// Saving a whole file atomically: the old file stays exactly as it was unless the new content
// has been written completely. Failures come back as what went wrong and the errno behind it,
// so that the caller can raise its own exceptions. Fault hook names: "page-open" (creating),
// "page-write", "page-flush", "page-commit".
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

// Replaces the file at `path` (file-system bytes) with `bytes`. A target without its owner
// write bit is refused (also for root). Where the folder is not writable but the file is, the
// file is rewritten in place. The old file's mode, owner and group are kept where the process
// may keep them.
SaveStatus saveFileAtomically(QByteArrayView path, QByteArrayView bytes);

// The absolute form of `path`: relative paths resolved against the working folder, "." and
// ".." and doubled delimiters folded; symbolic links are not resolved.
QByteArray fullPathOf(QByteArrayView path);

} // namespace platform
