#include "base/ApplicationException.h"

#include "base/Exception.h"

#include <cstdio>
#include <utility>

namespace {
ApplicationExceptionHandler& currentHandler() {
    static ApplicationExceptionHandler handler;
    return handler;
}
} // namespace

ApplicationExceptionHandler setApplicationExceptionHandler(ApplicationExceptionHandler handler) {
    return std::exchange(currentHandler(), std::move(handler));
}

void handleApplicationException(std::exception_ptr error) noexcept {
    try {
        if (currentHandler()) {
            currentHandler()(error);
            return;
        }
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "docindex: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "docindex: unknown exception\n");
    }
}
