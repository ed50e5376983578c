#pragma once
// --watch: write the pages, then keep them current until SIGINT or SIGTERM.
#include <cstdio>

namespace cli {

struct Options;

// Needs a QCoreApplication; runs its own event loop. Answers 0 when stopped by a signal, 1
// when nothing could be watched.
int runWatch(const Options& options, std::FILE* out, std::FILE* err);

} // namespace cli
