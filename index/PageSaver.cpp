#include "index/PageSaver.h"

#include "base/Exception.h"
#include "platform/Errors.h"
#include "platform/FsString.h"
#include "platform/PageFile.h"

QByteArray PageSaver::text(const QList<QByteArray>& lines) {
    qsizetype size = 0;
    for (const QByteArray& line : lines)
        size += line.size() + 2;
    QByteArray result;
    result.reserve(size);
    for (const QByteArray& line : lines) {
        result.append(line);
        result.append("\r\n", 2);
    }
    return result;
}

void PageSaver::Save(const QList<QByteArray>& lines, const QByteArray& path) {
    saveText(text(lines), path);
}

namespace {

void raiseOnFailure(const platform::SaveStatus& status, const QByteArray& path) {
    switch (status.failure) {
    case platform::SaveFailure::None:
        return;
    case platform::SaveFailure::Create: {
        EFCreateError error(platform::fromFsBytes(platform::fullPathOf(path)),
                            platform::systemErrorText(status.err));
        error.SetFailedPath(platform::fullPathOf(path));
        throw error;
    }
    case platform::SaveFailure::Write: {
        EWriteError error;
        error.SetFailedPath(platform::fullPathOf(path));
        error.SetReason(platform::systemErrorText(status.err));
        throw error;
    }
    }
}

} // namespace

void PageSaver::saveText(const QByteArray& text, const QByteArray& path) {
    raiseOnFailure(platform::saveFileAtomically(path, text), path);
}

void PageSaver::saveTextAt(const QByteArray& text, int folderFd, const QByteArray& name,
                           const QByteArray& path) {
    raiseOnFailure(platform::saveFileAt(folderFd, name, text), path);
}
