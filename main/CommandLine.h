#pragma once
// The command-line mode: index pages written without a window (docindex --write DIR...),
// and kept current (--watch).
// Qt Core only: it runs where there is no display.
#include <QByteArray>
#include <QList>

#include <cstdio>

namespace cli {

// Exit codes.
inline constexpr int kAllWritten = 0;
inline constexpr int kSomeFailed = 1;
inline constexpr int kBadUsage = 2;

// Whether the arguments (without the program name) ask for the command-line mode: anything
// but the window's own `[FOLDER]` (with the toolkit's display options). Every other form,
// also a wrong one, is the command line's to run or to refuse, so bad usage never waits for
// a display.
bool isCommandLine(const QList<QByteArray>& arguments);
bool isCommandLine(int argc, char** argv);

// Runs the mode; needs a QCoreApplication. Arguments are the raw bytes of argv without the
// program name, so folder names that are not UTF-8 still reach their folders. Reports go to
// `out` (one line per page, the page itself with --stdout, help, version) and `err`.
int run(const QList<QByteArray>& arguments, std::FILE* out, std::FILE* err);

// From main(): creates the QCoreApplication and runs the mode.
int runCommandLine(int argc, char** argv);

} // namespace cli
