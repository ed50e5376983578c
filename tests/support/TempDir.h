#pragma once
// A temporary folder that leaves nothing behind: QTemporaryDir gives up on names that are not
// UTF-8 (it names files through QString), so whatever it leaves is removed by file-system bytes.
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <ftw.h>

namespace docfiles {

// Removes a folder and everything in it by file-system bytes, links not followed.
inline void removeTree(const QByteArray& path) {
    ::nftw(
        path.constData(),
        [](const char* p, const struct stat*, int, FTW*) {
            ::remove(p);
            return 0;
        },
        16, FTW_DEPTH | FTW_PHYS);
}

} // namespace docfiles

class TempDir : public QTemporaryDir {
public:
    using QTemporaryDir::QTemporaryDir;
    ~TempDir() {
        if (isValid() && autoRemove() && !remove())
            docfiles::removeTree(QFile::encodeName(path()));
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};
