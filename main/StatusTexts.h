#pragma once
// The window's status bar texts: what a click wrote, what failed, and where the window went
// instead of the folder asked for. Paths are shown as the user reads names (see
// platform::displayName); the Russian texts live with the other resource strings.
#include <QByteArray>
#include <QString>

namespace statustext {

// "1 документ", "2 документа", "5 документов", "21 документ", "111 документов".
QString documentCount(int count);
// After a click: the page written and the number of its documents.
QString pageWritten(const QString& page, int documents);
// After a failed click: the full path of what failed (the folder when the failure names
// nothing) and the message of the error box.
QString pageFailed(const QByteArray& failedPath, const QString& folder, const QString& message);
// The start folder did not exist; `opened` is the ancestor the window opened instead.
QString startFolderMissing(const QString& asked, const QString& opened);
// The folder shown is gone; the window went up to `opened`.
QString folderGone(const QString& gone, const QString& opened);
// The folder could not be read (errno `error`): the list shows nothing of it.
QString folderUnreadable(const QString& folder, int error);

} // namespace statustext
