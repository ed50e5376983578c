// docindex: the window (docindex [FOLDER]) or, without a display, the command-line mode
// (docindex --write DIR...).
#include "main/CommandLine.h"
#include "main/WindowMode.h"

int main(int argc, char** argv) {
    // --- command-line mode: decided first, it needs no display ---
    if (cli::isCommandLine(argc, argv))
        return cli::runCommandLine(argc, argv);

    // --- window mode ---
    return runWindowMode(argc, argv);
}
