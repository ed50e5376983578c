#include "main/ErrorBox.h"

#include "base/ApplicationException.h"
#include "base/Exception.h"
#include "base/ResourceStrings.h"
#include "platform/Module.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <typeinfo>
#include <utility>

namespace errorbox {
namespace {

bool applicationEnding = false;

void defaultErrorBox(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Critical, QString(), text, QMessageBox::Ok, parent);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

void defaultApplicationErrorBox(const QString& title, const QString& text) {
    // The text also goes to stderr: a start from a terminal or a desktop session's log keeps it.
    std::fprintf(stderr, "%s: %s", qUtf8Printable(title), qUtf8Printable(text));
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

ErrorBoxFunction& errorBoxFunction() {
    static ErrorBoxFunction box = defaultErrorBox;
    return box;
}

ApplicationErrorBoxFunction& applicationErrorBoxFunction() {
    static ApplicationErrorBoxFunction box = defaultApplicationErrorBox;
    return box;
}

QString demangled(const char* name) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> plain(
        abi::__cxa_demangle(name, nullptr, nullptr, &status), std::free);
    return QString::fromUtf8(status == 0 && plain ? plain.get() : name);
}

// Class name, raise address and message of whatever was thrown.
struct Described {
    QString className;
    const void* raiseAddress = nullptr;
    QString message;
};

Described describe(std::exception_ptr error) {
    Described d;
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        d.className = QString::fromUtf8(e.className());
        d.raiseAddress = e.raiseAddress();
        d.message = e.Message();
    } catch (const std::exception& e) {
        d.className = demangled(typeid(e).name());
        exceptionMessage(std::current_exception(), d.message);
    } catch (...) {
        const std::type_info* type = abi::__cxa_current_exception_type();
        d.className = type ? demangled(type->name()) : QStringLiteral("unknown");
    }
    return d;
}

void releaseGrabs() {
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    if (QWidget* grabber = QWidget::keyboardGrabber())
        grabber->releaseKeyboard();
}

} // namespace

QString errorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

bool exceptionMessage(std::exception_ptr error, QString& message) {
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        message = e.Message();
    } catch (const std::bad_alloc&) {
        message = rs::text(rs::SOutOfMemory);
    } catch (const std::exception& e) {
        message = QString::fromUtf8(e.what());
    } catch (...) {
        return false;
    }
    return true;
}

QString applicationErrorText(std::exception_ptr error) {
    const Described d = describe(error);
    const platform::ModulePosition where = platform::modulePositionOf(d.raiseAddress);
    QString module = where.found ? where.moduleName : platform::programFileName();
    // The window's own library is part of the program: name the program, as the user knows it.
    if (where.found &&
        module == platform::modulePositionOf(reinterpret_cast<const void*>(&applicationErrorText))
                      .moduleName)
        module = platform::programFileName();
    // The offset of an unknown address is meaningless; print zero rather than a random value.
    const std::uintptr_t offset = where.found ? where.offset : 0;
    const QString hex =
        QStringLiteral("%1").arg(quint64(offset), 8, 16, QLatin1Char('0')).toUpper();
    const bool fullStop = !d.message.isEmpty() && d.message.back() != QLatin1Char('.');
    return rs::format(rs::SExceptionInModule,
                      {d.className, module, hex, d.message, fullStop ? "." : ""});
}

ErrorBoxFunction setErrorBoxFunction(ErrorBoxFunction box) {
    return std::exchange(errorBoxFunction(), box ? std::move(box) : defaultErrorBox);
}

ApplicationErrorBoxFunction setApplicationErrorBoxFunction(ApplicationErrorBoxFunction box) {
    return std::exchange(applicationErrorBoxFunction(),
                         box ? std::move(box) : defaultApplicationErrorBox);
}

void showException(std::exception_ptr error) noexcept {
    try {
        QString message;
        if (!exceptionMessage(error, message)) {
            // Not an exception at all: the "Application Error" box, and the program goes on.
            const QString text = applicationErrorText(error);
            if (isApplicationEnding())
                std::fprintf(stderr, "docindex: %s", qUtf8Printable(text));
            else
                applicationErrorBoxFunction()(rs::text(rs::SApplicationError), text);
            return;
        }
        const QString text = errorBoxText(message);
        if (isApplicationEnding() || !qobject_cast<QApplication*>(QCoreApplication::instance())) {
            std::fprintf(stderr, "docindex: %s\n", qUtf8Printable(text));
            return;
        }
        releaseGrabs();
        errorBoxFunction()(QApplication::activeWindow(), text);
    } catch (...) {
        // A failing box must not take the program down; there is nowhere left to report to.
        std::fprintf(stderr, "docindex: an error could not be shown\n");
    }
}

void installExceptionHandler() {
    setApplicationExceptionHandler([](std::exception_ptr error) { showException(error); });
}

int reportStartupFailure(std::exception_ptr error) noexcept {
    try {
        applicationErrorBoxFunction()(rs::text(rs::SApplicationError), applicationErrorText(error));
    } catch (...) {
        std::fprintf(stderr, "docindex: the start failed\n");
    }
    return 1;
}

bool isApplicationEnding() {
    return applicationEnding || QCoreApplication::closingDown();
}

void setApplicationEnding(bool ending) {
    applicationEnding = ending;
}

} // namespace errorbox
