#pragma once
// Running under a service manager (systemd): whether an output stream is the journal, so that
// lines can carry syslog priorities, and the notifications of readiness and status through
// NOTIFY_SOCKET. Both are no-ops wherever the program is started by hand.
#include <QByteArrayView>

#include <cstdio>

namespace platform {

// True when `stream` is the journal's own stream: JOURNAL_STREAM ("DEVICE:INODE") names the
// file that the stream's descriptor is. A variable inherited by a process whose output went
// elsewhere (a shell started from a unit, a redirect) names another file and does not count.
bool isJournalStream(std::FILE* stream);

// Sends `state` (newline-separated assignments such as "READY=1\nSTATUS=...") to the service
// manager's socket named by NOTIFY_SOCKET (a path, or an abstract name when it begins with
// '@'). False when there is none or it cannot be reached; nothing else depends on it.
bool notifyServiceManager(QByteArrayView state);

// True when `path` lies on a mount that is read-only here. A hardened service sees the folder
// it was given writable only through a bind mount made when it started; a folder that was
// replaced since then (removed and made again, or renamed into place) is outside that mount.
bool isOnReadOnlyMount(const QByteArray& path);

} // namespace platform
