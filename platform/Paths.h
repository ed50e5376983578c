#pragma once
// Paths as file-system bytes: lexical normalization, exact existence checks and a rename that
// never replaces anything.
#include <QByteArray>

namespace platform {

// A folder path ending in exactly the '/' it needs: one is added where missing; an empty path
// stays empty. For QByteArray (file-system bytes) and QString alike.
template <typename Path> Path withTrailingSlash(Path path) {
    if (!path.isEmpty() && !path.endsWith('/'))
        path += '/';
    return path;
}
// The trailing '/'s removed; the root "/" stays itself.
template <typename Path> Path withoutTrailingSlash(Path path) {
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

// Lexical: a relative path is resolved against `cwd`; ".", ".." and doubled '/' are folded
// (".." at the root stays at the root); a trailing '/' is kept exactly when `path` ends with
// one. Symbolic links are never resolved.
QByteArray normalizePath(QByteArrayView path, QByteArrayView cwd);

// The current folder, "/" when it cannot be read (fault hook "getcwd").
QByteArray currentFolder();

// Exact (case-sensitive) checks. pathExists does not follow a final symbolic link, so a
// dangling link exists (fault hook "lstat"); isFolder follows it (fault hook "stat").
bool pathExists(const QByteArray& path);
bool isFolder(const QByteArray& path);

// A folder's identity, to walk a tree without loops.
struct FolderId {
    quint64 device = 0;
    quint64 inode = 0;
    friend bool operator==(const FolderId&, const FolderId&) = default;
    friend bool operator<(const FolderId& a, const FolderId& b) {
        return a.device != b.device ? a.device < b.device : a.inode < b.inode;
    }
};
// 0 when `path` is a folder (with followLinks, a link to one counts too), else the errno
// (ENOTDIR for anything that is not a folder). Fault hooks "stat" and "lstat".
int folderIdentity(const QByteArray& path, bool followLinks, FolderId& id);

// Renames `from` to `to` without ever replacing an existing file or folder, also one created
// a moment before: renameat2 with RENAME_NOREPLACE; where the file system refuses the flag,
// link + unlink for files and check-then-rename for folders. 0, or the errno (EEXIST when the
// name is taken). Fault hooks: "renameat2", "link", "unlink", "rename", "lstat".
int renameNoReplace(const QByteArray& from, const QByteArray& to);

} // namespace platform
