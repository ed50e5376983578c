// docindex: the window (docindex [FOLDER]) or, without a display, the command-line mode
// (docindex --write DIR...).
#include "main/WindowMode.h"

int main(int argc, char** argv) {
    // --- command-line mode: decided first, it needs no display ---

    // --- window mode ---
    return runWindowMode(argc, argv);
}
