#include "index/LinkTargets.h"

#include "platform/Enumerate.h"
#include "platform/FsString.h"
#include "platform/HeldFolder.h"

#include <QSet>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

// A link's target is there when it names a regular file (through a link, too).
bool isRegularFile(int folderFd, const QByteArray& name) {
    struct stat st {};
    return ::fstatat(folderFd, name.constData(), &st, 0) == 0 && S_ISREG(st.st_mode);
}

bool isCompanion(QByteArrayView name) {
    return name.endsWith("_.txt.rtf") || name.endsWith("_.txt.txt");
}

} // namespace

int missingLinkTargetsAt(int folderFd, const QList<IndexEntry>& entries) {
    // One reading of the folder instead of a stat per link (10,000 documents have 20,000
    // links): its regular files are there, what it cannot type (a link, an unknown kind) is
    // stat'ed, and any other name is missing. A folder that cannot be read is stat'ed link by
    // link. No fault hooks: counting must not take a fault meant for the page.
    QSet<QByteArray> regular, unsure;
    bool listed = false;
    if (folderFd >= 0) {
        platform::FolderReader reader(platform::heldFolderPath(folderFd));
        while (reader.next()) {
            if (!isCompanion(reader.name()))
                continue;
            const quint32 kind = reader.kindAttributes();
            if (kind == 0)
                unsure.insert(reader.name().toByteArray());
            else if (!(kind & (faDirectory | faSysFile)))
                regular.insert(reader.name().toByteArray());
        }
        listed = reader.error() == 0;
    }
    int missing = 0;
    QByteArray name;
    for (const IndexEntry& entry : entries) {
        if (entry.kind != EntryKind::RegularFile)
            continue; // only documents get a row, and so links
        for (const char* extension : {".rtf", ".txt"}) {
            name = entry.name + extension;
            const bool there = listed ? regular.contains(name) ||
                                            (unsure.contains(name) && isRegularFile(folderFd, name))
                                      : isRegularFile(folderFd, name);
            missing += there ? 0 : 1;
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
