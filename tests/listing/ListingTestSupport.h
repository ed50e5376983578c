#pragma once
// Helpers for the listing tests: a temporary folder filled with files, folders, links and
// FIFOs of chosen sizes, modes and times.
#include "support/TempDir.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace listingtest {

class Folder {
public:
    Folder() : path_(QFile::encodeName(dir_.path())) {}

    bool isValid() const { return dir_.isValid(); }
    // The folder as file-system bytes and as a wide string, without a trailing '/'.
    const QByteArray& path() const { return path_; }
    QString location() const { return dir_.path(); }
    QByteArray operator/(QByteArrayView name) const { return path_ + '/' + name.toByteArray(); }

    // A file of `size` bytes (sparse beyond what is written).
    bool file(QByteArrayView name, qint64 size = 0, mode_t mode = 0644) const {
        const QByteArray p = *this / name;
        const int fd = ::open(p.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
        if (fd < 0)
            return false;
        const bool ok = ::ftruncate(fd, size) == 0;
        ::close(fd);
        return ok && ::chmod(p.constData(), mode) == 0;
    }
    bool folder(QByteArrayView name, mode_t mode = 0755) const {
        return ::mkdir((*this / name).constData(), mode) == 0;
    }
    bool fifo(QByteArrayView name) const { return ::mkfifo((*this / name).constData(), 0644) == 0; }
    bool symlink(QByteArrayView target, QByteArrayView name) const {
        return ::symlink(target.toByteArray().constData(), (*this / name).constData()) == 0;
    }
    // Sets the last-write time (seconds since the epoch).
    bool setTime(QByteArrayView name, std::time_t t) const {
        const timespec times[2] = {{t, 0}, {t, 0}};
        return ::utimensat(AT_FDCWD, (*this / name).constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
    }
    bool exists(QByteArrayView name) const {
        struct stat st;
        return ::lstat((*this / name).constData(), &st) == 0;
    }

private:
    TempDir dir_;
    QByteArray path_;
};

} // namespace listingtest
