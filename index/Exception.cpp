#include "index/Exception.h"

#include "resources/ResourceStrings.h"

// Not inlined, so that the return address is the raising code's, not a copy of this body.
__attribute__((noinline)) Exception::Exception(QString message)
    : message_(std::move(message)), utf8_(message_.toUtf8()),
      raiseAddress_(__builtin_extract_return_addr(__builtin_return_address(0))) {}

Exception::~Exception() = default;

QString EInOutError::messageFor(int code) {
    switch (code) {
    case 2:
        return rs::text(rs::SFileNotFound);
    case 3:
        return rs::text(rs::SInvalidFileName);
    case 4:
        return rs::text(rs::STooManyOpenFiles);
    case 5:
        return rs::text(rs::SAccessDenied);
    case 100:
        return rs::text(rs::SEndOfFile);
    case 101:
        return rs::text(rs::SDiskFull);
    case 106:
        return rs::text(rs::SInvalidInput);
    default:
        return QString::asprintf(rs::SInOutError, code);
    }
}

__attribute__((noinline)) EInOutError::EInOutError(int code)
    : Exception(messageFor(code)), code_(code) {}

__attribute__((noinline)) EStreamError::EStreamError(QString message)
    : Exception(std::move(message)) {}

namespace {
// The two %s of a format filled with wide strings as they are: asprintf would go through UTF-8
// and turn the escapes of name bytes that are not UTF-8 into '?'.
QString formatTwo(const char* format, const QString& first, const QString& second) {
    QString text = QString::fromUtf8(format);
    const qsizetype at = text.indexOf(QLatin1String("%s"));
    if (at < 0)
        return text;
    text.replace(at, 2, first);
    const qsizetype next = text.indexOf(QLatin1String("%s"), at + first.size());
    if (next >= 0)
        text.replace(next, 2, second);
    return text;
}
} // namespace

__attribute__((noinline))
EFCreateError::EFCreateError(const QString& fullPath, const QString& systemText)
    : EStreamError(formatTwo(rs::SFCreateError, fullPath, systemText)) {}

__attribute__((noinline)) EWriteError::EWriteError() : EStreamError(rs::text(rs::SWriteError)) {}

__attribute__((noinline)) EListError::EListError(int index)
    : Exception(QString::asprintf(rs::SListIndexError, index)) {}

__attribute__((noinline))
EConvertError::EConvertError(const QString& sourceClass, const QString& targetClass)
    : Exception(QString::asprintf(rs::SAssignError, qUtf8Printable(sourceClass),
                                  qUtf8Printable(targetClass))) {}
