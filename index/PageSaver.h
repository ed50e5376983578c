#pragma once
// Saves a page: every line followed by CR LF, no byte-order mark, written in one piece. The
// old file is replaced only once the new one is complete. Raises EFCreateError when the file
// cannot be created or replaced and EWriteError when writing fails; both name the page
// (FailedPath) and a write error carries the system's reason.
#include <QByteArray>
#include <QList>

class PageSaver {
public:
    // The page's bytes: each line followed by CR LF.
    static QByteArray text(const QList<QByteArray>& lines);
    // Saves the lines to `path` (file-system bytes).
    static void Save(const QList<QByteArray>& lines, const QByteArray& path);
    // Saves a page already joined by text().
    static void saveText(const QByteArray& text, const QByteArray& path);
    // Saves it as `name` in the open folder `folderFd`; `path` is its full path, for errors.
    static void saveTextAt(const QByteArray& text, int folderFd, const QByteArray& name,
                           const QByteArray& path);
};
