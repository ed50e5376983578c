// The command-line parser on any argument list (the input's NUL bytes separate the arguments).
// Nothing may be written anywhere: every option spelling that holds a 'w' (--write, -w, -rw)
// is left out, so the runs end in help, version or a usage error, and never reach a folder.
#include "FuzzCheck.h"

#include "main/CommandLine.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

// A stream that collects what is printed to it.
struct Captured {
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* stream = nullptr;

    Captured() : stream(::open_memstream(&data, &size)) { FUZZ_CHECK(stream != nullptr); }
    ~Captured() { std::free(data); }
    QByteArray text() {
        std::fflush(stream);
        return QByteArray(data, qsizetype(size));
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QList<QByteArray> arguments = fuzz::fields(data, size);
    bool onlyFolders = false;
    arguments.removeIf([&](const QByteArray& a) {
        const bool drop = !onlyFolders && a.startsWith('-') && a.contains('w');
        onlyFolders = onlyFolders || a == "--";
        return drop;
    });

    Captured out, err;
    const int status = cli::run(arguments, out.stream, err.stream);
    const QByteArray printed = out.text();
    const QByteArray complaint = err.text();
    std::fclose(out.stream);
    std::fclose(err.stream);

    if (status == cli::kBadUsage) {
        FUZZ_CHECK(printed.isEmpty());
        FUZZ_CHECK(complaint.startsWith("docindex: "));
        FUZZ_CHECK(complaint.endsWith("\nTry 'docindex --help' for more information.\n"));
        return 0;
    }
    // Without --write only help and version succeed, and both are asked for by name.
    FUZZ_CHECK(status == cli::kAllWritten);
    FUZZ_CHECK(complaint.isEmpty());
    FUZZ_CHECK(printed.startsWith("Usage: docindex") || printed.startsWith("docindex "));
    FUZZ_CHECK(cli::isCommandLine(arguments));
    return 0;
}
