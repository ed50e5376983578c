#pragma once
// From errno to what the user is told: the code of the input/output message table ("File not
// found" is 2, ...) and the system's own text for an error.
#include <QByteArrayView>
#include <QString>

namespace platform {

// The message-table code for a failure of a call on `path`: ENOENT is 2 when the path's parent
// folder exists and 3 when it does not; ENOTDIR 3; EACCES, EPERM, EROFS, EISDIR 5; EMFILE,
// ENFILE 4; ENAMETOOLONG 206; ELOOP 1921; EIO 30; ENOSPC 112; anything else 31.
int ioErrorCode(int err, QByteArrayView path = {});

// strerror(err) in the user's language, without trailing spaces, control characters and
// full stops.
QString systemErrorText(int err);

} // namespace platform
