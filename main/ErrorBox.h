#pragma once
// How the program shows an exception that leaves one of its event handlers (the error box), and
// how it reports a failure while the main window is being built (the "Application Error" box).
// Both boxes go through replaceable functions, so that tests see the texts without a modal
// loop.
#include <QString>

#include <exception>
#include <functional>

class QWidget;

namespace errorbox {

// The error box's text: the message, with a full stop added when its last character sorts
// after "." by character code (letters and digits do; "!", ")" and '"' do not).
QString errorBoxText(const QString& message);

// The message an exception carries: our own exceptions' message, what() of any other
// std::exception ("Out of memory" for std::bad_alloc). False for anything thrown that is not
// an exception.
bool exceptionMessage(std::exception_ptr error, QString& message);

// The start-up failure text "Exception %s in module %s at %p.\r\n%s%s\r\n": class name, the
// module holding the raise address, that address as 8 upper-case hex digits of offset within
// the module, the message and a full stop when it does not end with one.
QString applicationErrorText(std::exception_ptr error);

// The modal critical box: empty title, one OK button. Replaceable (answers the previous one).
using ErrorBoxFunction = std::function<void(QWidget* parent, const QString& text)>;
ErrorBoxFunction setErrorBoxFunction(ErrorBoxFunction box);

// The box titled "Application Error", modal for the whole program. Replaceable.
using ApplicationErrorBoxFunction = std::function<void(const QString& title, const QString& text)>;
ApplicationErrorBoxFunction setApplicationErrorBoxFunction(ApplicationErrorBoxFunction box);

// The application's exception handler: the error box for an exception, the "Application Error" box
// for anything else thrown; nothing once the application is ending (the message then goes to
// stderr). The program goes on. Never throws.
void showException(std::exception_ptr error) noexcept;

// Makes showException the handler that runGuarded() hands exceptions to.
void installExceptionHandler();

// Shows the start-up failure box and answers the exit code 1. Never throws.
int reportStartupFailure(std::exception_ptr error) noexcept;

// Whether the application has been told to end (the main window closed, the event loop
// leaving, or Qt shutting down).
bool isApplicationEnding();
void setApplicationEnding(bool ending);

} // namespace errorbox
