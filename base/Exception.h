#pragma once
// The program's exceptions. Each carries its message, its class name as the program names it
// (not a mangled type name) and the code address where it was raised, which the start-up
// error box prints as an offset within the program file.
#include <QByteArray>
#include <QString>

#include <exception>

class Exception : public std::exception {
public:
    explicit Exception(QString message);
    ~Exception() override;

    const QString& Message() const { return message_; }
    virtual const char* className() const { return "Exception"; }
    // The code address inside the constructor's caller chain where the exception was made.
    const void* raiseAddress() const { return raiseAddress_; }
    const char* what() const noexcept override { return utf8_.constData(); }

    // What failed, for texts that name it (the command line's errors, the window's status
    // bar); the message itself stays unchanged. The path is file-system bytes, byte for
    // byte: the full path of the document, folder or page; empty when no file was involved.
    const QByteArray& FailedPath() const { return failedPath_; }
    void SetFailedPath(QByteArray path) { failedPath_ = std::move(path); }
    // The system's reason (strerror text) where the message does not carry it; else empty.
    const QString& Reason() const { return reason_; }
    void SetReason(QString reason) { reason_ = std::move(reason); }

private:
    QString message_;
    QByteArray failedPath_;
    QString reason_;
    QByteArray utf8_;
    const void* raiseAddress_;
};

// Input/output failure with a code of the message table ("File not found", ...).
class EInOutError : public Exception {
public:
    explicit EInOutError(int code);
    int ErrorCode() const { return code_; }
    const char* className() const override { return "EInOutError"; }
    // The message for a code: 2 "File not found", 3 "Invalid filename", ... else "I/O error %d".
    static QString messageFor(int code);

private:
    int code_;
};

class EStreamError : public Exception {
public:
    explicit EStreamError(QString message);
    const char* className() const override { return "EStreamError"; }
};

// "Cannot create file "%s". %s": the full output path and the system's text for the cause.
class EFCreateError : public EStreamError {
public:
    EFCreateError(const QString& fullPath, const QString& systemText);
    const char* className() const override { return "EFCreateError"; }
};

// "Stream write error".
class EWriteError : public EStreamError {
public:
    EWriteError();
    const char* className() const override { return "EWriteError"; }
};

// "List index out of bounds (%d)".
class EListError : public Exception {
public:
    explicit EListError(int index);
    const char* className() const override { return "EListError"; }
};

// "Cannot assign a %s to a %s".
class EConvertError : public Exception {
public:
    EConvertError(const QString& sourceClass, const QString& targetClass);
    const char* className() const override { return "EConvertError"; }
};
