#include "index/PageSaver.h"

#include "index/Exception.h"
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

void PageSaver::saveText(const QByteArray& text, const QByteArray& path) {
    const platform::SaveStatus status = platform::saveFileAtomically(path, text);
    switch (status.failure) {
    case platform::SaveFailure::None:
        return;
    case platform::SaveFailure::Create:
        throw EFCreateError(platform::fromFsBytes(platform::fullPathOf(path)),
                            platform::systemErrorText(status.err));
    case platform::SaveFailure::Write:
        throw EWriteError();
    }
}
