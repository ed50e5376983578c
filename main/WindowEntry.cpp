// The one symbol the window's library exports; the program file finds it with dlsym.
#include "main/WindowLibrary.h"
#include "main/WindowMode.h"

#include <QtGlobal>

#include <type_traits>

extern "C" Q_DECL_EXPORT int docindex_runWindowMode(int argc, char** argv) {
    return runWindowMode(argc, argv);
}

// The program file calls the entry through this type: keep them in step.
static_assert(std::is_same_v<decltype(&docindex_runWindowMode), windowlib::Entry>);
