#include "base/Exception.h"

#include "base/ResourceStrings.h"

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
        return rs::format(rs::SInOutError, {code});
    }
}

__attribute__((noinline)) EInOutError::EInOutError(int code)
    : Exception(messageFor(code)), code_(code) {}

__attribute__((noinline)) EStreamError::EStreamError(QString message)
    : Exception(std::move(message)) {}

__attribute__((noinline))
EFCreateError::EFCreateError(const QString& fullPath, const QString& systemText)
    : EStreamError(rs::format(rs::SFCreateError, {fullPath, systemText})) {}

__attribute__((noinline)) EWriteError::EWriteError() : EStreamError(rs::text(rs::SWriteError)) {}

__attribute__((noinline)) EListError::EListError(int index)
    : Exception(rs::format(rs::SListIndexError, {index})) {}

__attribute__((noinline))
EConvertError::EConvertError(const QString& sourceClass, const QString& targetClass)
    : Exception(rs::format(rs::SAssignError, {sourceClass, targetClass})) {}
