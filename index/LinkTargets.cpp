#include "index/LinkTargets.h"

#include "platform/Enumerate.h"
#include "platform/FsString.h"
#include "platform/HeldFolder.h"

#include <fcntl.h>
#include <sys/stat.h>

int missingLinkTargetsAt(int folderFd, const QList<IndexEntry>& entries) {
    int missing = 0;
    QByteArray name;
    for (const IndexEntry& entry : entries) {
        if (entry.kind != EntryKind::RegularFile)
            continue; // only documents get a row, and so links
        const QByteArray& document = entry.name;
        for (const char* extension : {".rtf", ".txt"}) {
            name = document + extension;
            struct stat st {};
            // No fault hooks: counting must not take a fault meant for the page.
            if (platform::statEntry(folderFd, name.constData(), st, nullptr, nullptr) != 0 ||
                !S_ISREG(st.st_mode))
                ++missing;
        }
    }
    return missing;
}

int missingLinkTargets(const QString& folder, const QList<IndexEntry>& entries) {
    const QByteArray path = platform::withoutTrailingSlash(platform::toFsBytes(folder));
    platform::FileHandle held;
    if (!path.isEmpty() && platform::openFolder(AT_FDCWD, path, true, held) != 0)
        return missingLinkTargetsAt(-1, entries); // every stat fails: all missing
    return missingLinkTargetsAt(path.isEmpty() ? AT_FDCWD : held.get(), entries);
}
