// Path normalization: the lexical normalizer and the listing's NormalizeLocation. The input is
// a path, then after a NUL byte the folder it is relative to.
#include "FuzzCheck.h"

#include "filectrls/FileInfo.h"
#include "platform/FsString.h"
#include "platform/Paths.h"

namespace {

// Absolute, no empty, "." or ".." component; a trailing '/' only for the root or when asked.
void checkNormal(const QByteArray& normal, bool trailingSlash) {
    FUZZ_CHECK(normal.startsWith('/'));
    FUZZ_CHECK(normal.endsWith('/') == (trailingSlash || normal == "/"));
    QList<QByteArray> parts = normal.split('/');
    parts.removeFirst();
    if (normal.endsWith('/'))
        parts.removeLast();
    for (const QByteArray& part : parts)
        FUZZ_CHECK(!part.isEmpty() && part != "." && part != "..");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QList<QByteArray> in = fuzz::fields(data, size);
    const QByteArray& path = in[0];
    const QByteArray cwd = '/' + (in.size() > 1 ? in[1] : QByteArray());

    const QByteArray normal = platform::normalizePath(path, cwd);
    checkNormal(normal, path.endsWith('/'));
    // Idempotent, and an absolute path does not depend on the folder.
    FUZZ_CHECK(platform::normalizePath(normal, "/elsewhere") == normal);
    if (path.startsWith('/'))
        FUZZ_CHECK(platform::normalizePath(path, "/elsewhere") == normal);
    // Never longer than the joined path (a component is only ever dropped).
    FUZZ_CHECK(normal.size() <= cwd.size() + 1 + path.size() + 1);

    // A name's bytes survive the trip through the listing's strings.
    const QString wide = platform::fromFsBytes(path);
    FUZZ_CHECK(platform::toFsBytes(wide) == path);
    const QString location = NormalizeLocation(wide);
    FUZZ_CHECK(NormalizeLocation(location) == location);
    if (path.isEmpty())
        FUZZ_CHECK(location == QStringLiteral("/"));
    else
        FUZZ_CHECK(platform::toFsBytes(location) ==
                   platform::normalizePath(path, platform::currentFolder()));
    return 0;
}
