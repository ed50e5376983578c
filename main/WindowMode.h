#pragma once
// The window mode: docindex [FOLDER].
#include <QString>

// With the application object in place: builds the main window with its tree at
// `startFolder`, runs the event loop and answers the exit code (0 after the window closed, 1
// when the window could not be built, after the "Application Error" box). Stops the change
// watchers and frees the shared icons before it returns, while the application object lives.
int runMainWindow(const QString& startFolder);

// The whole window mode from main(): refuses to start without a display (QApplication would
// abort), creates the application object, reads the FOLDER argument and runs the window.
int runWindowMode(int argc, char** argv);

// Whether the toolkit will find a display: false when the platform needs an X or Wayland
// display and the environment names none.
bool displayAvailable(int argc, char** argv);
