#include "main/Application.h"

#include "base/ApplicationException.h"

#include <exception>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        handleApplicationException(std::current_exception());
        return false;
    }
}
