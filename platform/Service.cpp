#include "platform/Service.h"

#include "platform/HeldFolder.h"

#include <QByteArray>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/un.h>

namespace platform {

bool isJournalStream(std::FILE* stream) {
    const char* value = std::getenv("JOURNAL_STREAM");
    if (!value || !stream)
        return false;
    unsigned long long device = 0, inode = 0;
    char rest = 0;
    if (std::sscanf(value, "%llu:%llu%c", &device, &inode, &rest) != 2)
        return false;
    struct stat st {};
    const int fd = ::fileno(stream);
    return fd >= 0 && ::fstat(fd, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

// The few lines of the notification protocol, rather than libsystemd: one datagram to a Unix
// socket, and the program keeps running on a system without the library.
bool notifyServiceManager(QByteArrayView state) {
    const char* socketName = std::getenv("NOTIFY_SOCKET");
    if (!socketName || (socketName[0] != '/' && socketName[0] != '@'))
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t length = std::strlen(socketName);
    if (length >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, socketName, length);
    if (address.sun_path[0] == '@')
        address.sun_path[0] = '\0'; // an abstract name: no terminating zero counts
    const auto size =
        socklen_t(offsetof(sockaddr_un, sun_path) + length + (address.sun_path[0] == '\0' ? 0 : 1));
    const FileHandle sock(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sock.isOpen())
        return false;
    const ssize_t sent = ::sendto(sock.get(), state.data(), size_t(state.size()), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&address), size);
    return sent == ssize_t(state.size());
}

bool isOnReadOnlyMount(const QByteArray& path) {
    struct statvfs st {};
    return ::statvfs(path.constData(), &st) == 0 && (st.f_flag & ST_RDONLY) != 0;
}

} // namespace platform
