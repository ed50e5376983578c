#pragma once
// The window mode as the program file sees it. The window's code (Qt Gui and Widgets) lives in a
// private library loaded only when the window opens, so that the command line starts with Qt
// Core alone.

namespace windowlib {

// The library's file, in <program folder>/../lib/docindex/, and its one exported entry, which
// runs runWindowMode(argc, argv).
inline constexpr char kFileName[] = "docindex-window.so";
inline constexpr char kEntry[] = "docindex_runWindowMode";
using Entry = int (*)(int argc, char** argv);

// Loads the library and runs the window mode from it; 1 with a message on stderr when the
// library cannot be loaded.
int runWindowMode(int argc, char** argv);

} // namespace windowlib
