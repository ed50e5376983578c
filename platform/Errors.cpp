#include "platform/Errors.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace platform {
namespace {

// True when the folder that would hold `path` exists. A path without a delimiter lives in the
// working folder, which exists.
bool parentFolderExists(QByteArrayView path) {
    qsizetype end = path.size();
    while (end > 0 && path[end - 1] == '/')
        --end;
    const qsizetype slash = path.first(end).lastIndexOf('/');
    if (slash < 0)
        return !path.isEmpty();
    QByteArray parent = slash == 0 ? QByteArray("/") : path.first(slash).toByteArray();
    struct stat st;
    return ::stat(parent.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

int ioErrorCode(int err, QByteArrayView path) {
    switch (err) {
    case ENOENT:
        return parentFolderExists(path) ? 2 : 3;
    case ENOTDIR:
        return 3;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return 5;
    case EMFILE:
    case ENFILE:
        return 4;
    case ENAMETOOLONG:
        return 206;
    case ELOOP:
        return 1921;
    case EIO:
        return 30;
    case ENOSPC:
        return 112;
    default:
        return 31;
    }
}

QString systemErrorText(int err) {
    char buffer[256];
    // The GNU strerror_r answers a pointer that may or may not be the buffer.
    const char* text = strerror_r(err, buffer, sizeof buffer);
    qsizetype n = qsizetype(std::strlen(text));
    while (n > 0) {
        const auto c = static_cast<unsigned char>(text[n - 1]);
        if (c == ' ' || c == '.' || c < 0x20 || c == 0x7F)
            --n;
        else
            break;
    }
    return QString::fromLocal8Bit(text, n);
}

} // namespace platform
