#include "main/StatusTexts.h"

#include "base/ResourceStrings.h"
#include "platform/Errors.h"
#include "platform/FsString.h"

namespace statustext {
namespace {

QString shown(const QString& path) {
    return platform::displayName(path);
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
    return rs::format(rs::SPageWritten, {shown(page), documentCount(documents)});
}

QString pageFailed(const QByteArray& failedPath, const QString& folder, const QString& message) {
    const QString path = failedPath.isEmpty() ? folder : platform::fromFsBytes(failedPath);
    return rs::format(rs::SPageFailed, {shown(path), message});
}

QString startFolderMissing(const QString& asked, const QString& opened) {
    return rs::format(rs::SStartFolderMissing, {shown(asked), shown(opened)});
}

QString folderGone(const QString& gone, const QString& opened) {
    return rs::format(rs::SFolderGone, {shown(gone), shown(opened)});
}

QString folderUnreadable(const QString& folder, int error) {
    return rs::format(rs::SFolderUnreadable, {shown(folder), platform::systemErrorText(error)});
}

} // namespace statustext
