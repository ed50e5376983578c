// docindex: the window (docindex [FOLDER]) or, without a display, the command-line mode
// (docindex --write DIR...).
#include "main/CommandLine.h"
#include "main/WindowLibrary.h"
#include "platform/Process.h"

int main(int argc, char** argv) {
    platform::openClosedStandardDescriptors();

    // --- command-line mode: decided first, it needs no display ---
    if (cli::isCommandLine(argc, argv))
        return cli::runCommandLine(argc, argv);

    // --- window mode: from its own library, which brings Qt Gui and Widgets ---
    return windowlib::runWindowMode(argc, argv);
}
