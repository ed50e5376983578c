#pragma once
// Where an exception that leaves one of our event handlers goes. Exceptions must never unwind
// through Qt's frames: every handler of ours runs its body through runGuarded(), which hands
// anything thrown to the application's handler (the main window installs the error box).
#include <exception>
#include <functional>

using ApplicationExceptionHandler = std::function<void(std::exception_ptr)>;

// Installs the handler and answers the previous one. Without a handler, the message is
// written to stderr.
ApplicationExceptionHandler setApplicationExceptionHandler(ApplicationExceptionHandler handler);

// Hands an exception to the application's handler; never throws.
void handleApplicationException(std::exception_ptr error) noexcept;

template <typename Body> void runGuarded(Body&& body) noexcept {
    try {
        body();
    } catch (...) {
        handleApplicationException(std::current_exception());
    }
}
