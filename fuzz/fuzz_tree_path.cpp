// The folder tree's walk of a path string: which root it starts from and the names below it.
// The input holds the roots, then the path last, separated by NUL bytes (UTF-8 or not).
#include "FuzzCheck.h"

#include "filectrls/FileInfo.h"
#include "platform/FsString.h"

namespace {

// The characters of the path the walk covers: the root's and every name's.
qsizetype coveredLength(QStringView path, const QList<QString>& roots, const TreePathWalk& walk) {
    if (!walk.components.isEmpty())
        return walk.components.back().data() + walk.components.back().size() - path.data();
    QStringView root = roots[walk.root];
    return root.size() > 1 && root.endsWith(u'/') ? root.size() - 1 : root.size();
}

bool begins(QStringView path, QStringView root) {
    if (root.size() > 1 && root.endsWith(u'/'))
        root.chop(1);
    return !root.isEmpty() && path.size() >= root.size() &&
           SameNameIgnoringCase(path.left(root.size()), root) &&
           (root.endsWith(u'/') || path.size() == root.size() || path[root.size()] == u'/');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QList<QByteArray> in = fuzz::fields(data, size);
    const QString path = platform::fromFsBytes(in.takeLast());
    QList<QString> roots;
    for (const QByteArray& root : in)
        roots.append(platform::fromFsBytes(root));

    const TreePathWalk walk = SplitTreePath(path, roots);
    if (walk.root < 0) {
        for (const QString& root : roots)
            FUZZ_CHECK(!begins(path, root));
        FUZZ_CHECK(walk.components.isEmpty());
        return 0;
    }
    FUZZ_CHECK(walk.root < roots.size());
    const QString& root = roots[walk.root];
    FUZZ_CHECK(begins(path, root));
    // The longest root that begins the path, the first of equals.
    auto length = [](QStringView r) {
        return r.size() > 1 && r.endsWith(u'/') ? r.size() - 1 : r.size();
    };
    for (qsizetype i = 0; i < roots.size(); ++i) {
        if (begins(path, roots[i]))
            FUZZ_CHECK(length(roots[i]) < length(root) ||
                       (length(roots[i]) == length(root) && i >= walk.root));
    }
    // Names are whole, non-empty components of the path, one '/' apart, after the root and
    // one '/'; the walk ends at the end of the path or at an empty component.
    const qsizetype rootEnd = length(root);
    qsizetype at = rootEnd + (rootEnd < path.size() && path[rootEnd] == u'/' ? 1 : 0);
    for (QStringView name : walk.components) {
        FUZZ_CHECK(!name.isEmpty() && !name.contains(u'/'));
        FUZZ_CHECK(name.data() == path.data() + at);
        at += name.size();
        if (at < path.size()) {
            FUZZ_CHECK(path[at] == u'/');
            ++at;
        }
    }
    FUZZ_CHECK(at == path.size() || path[at] == u'/');
    // Walking the part it covered gives the same walk.
    const qsizetype covered = coveredLength(path, roots, walk);
    const TreePathWalk again = SplitTreePath(QStringView(path).left(covered), roots);
    FUZZ_CHECK(again.root == walk.root);
    FUZZ_CHECK(again.components == walk.components);
    return 0;
}
