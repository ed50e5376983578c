#include "main/StatusTexts.h"

#include "platform/Errors.h"
#include "platform/FsString.h"
#include "resources/ResourceStrings.h"

namespace statustext {
namespace {

QByteArray shown(const QString& path) {
    return platform::displayName(path).toUtf8();
}

} // namespace

QString documentCount(int count) {
    const int tens = count % 100;
    const int units = count % 10;
    const char* word = rs::SDocumentMany;
    if (units == 1 && tens != 11)
        word = rs::SDocumentOne;
    else if (units >= 2 && units <= 4 && (tens < 12 || tens > 14))
        word = rs::SDocumentFew;
    return QString::number(count) + u' ' + rs::text(word);
}

QString pageWritten(const QString& page, int documents) {
    return QString::asprintf(rs::SPageWritten, shown(page).constData(),
                             documentCount(documents).toUtf8().constData());
}

QString pageFailed(const QByteArray& failedPath, const QString& folder, const QString& message) {
    const QString path = failedPath.isEmpty() ? folder : platform::fromFsBytes(failedPath);
    return QString::asprintf(rs::SPageFailed, shown(path).constData(), qUtf8Printable(message));
}

QString startFolderMissing(const QString& asked, const QString& opened) {
    return QString::asprintf(rs::SStartFolderMissing, shown(asked).constData(),
                             shown(opened).constData());
}

QString folderGone(const QString& gone, const QString& opened) {
    return QString::asprintf(rs::SFolderGone, shown(gone).constData(), shown(opened).constData());
}

QString folderUnreadable(const QString& folder, int error) {
    return QString::asprintf(rs::SFolderUnreadable, shown(folder).constData(),
                             qUtf8Printable(platform::systemErrorText(error)));
}

} // namespace statustext
