// The command-line parser on any argument list (the input's NUL bytes separate the arguments).
// Only the parser and the mode decision run: any option now means writing pages, so running
// the whole command line on random arguments could write into real folders.
#include "FuzzCheck.h"

#include "main/CommandLine.h"
#include "main/CommandLineOptions.h"
#include "platform/CodePage.h"

#include <QCoreApplication>

#include <algorithm>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QList<QByteArray> arguments = fuzz::fields(data, size);
    cli::Options options;
    const QByteArray complaint = cli::parse(arguments, options);
    // A complaint is one line, printed after "docindex: ".
    FUZZ_CHECK(!complaint.contains('\n'));
    // Every folder is one of the arguments, byte for byte (names need not be UTF-8).
    for (const QByteArray& dir : options.dirs)
        FUZZ_CHECK(arguments.contains(dir));
    if (!complaint.isEmpty())
        return 0;
    if (options.help || options.version)
        return 0;
    // What the parser accepts is something to write, never the working folder or "/" by way
    // of an empty name, and a mode the program can run without a display.
    FUZZ_CHECK(options.write);
    FUZZ_CHECK(!options.dirs.isEmpty());
    FUZZ_CHECK(std::none_of(options.dirs.begin(), options.dirs.end(),
                            [](const QByteArray& d) { return d.isEmpty(); }));
    FUZZ_CHECK(cli::isCommandLine(arguments));
    if (options.codePage != 0)
        FUZZ_CHECK(platform::isSupportedCodePage(options.codePage));
    if (options.toStdout)
        FUZZ_CHECK(options.dirs.size() == 1 && !options.recursive && !options.watch);
    return 0;
}
