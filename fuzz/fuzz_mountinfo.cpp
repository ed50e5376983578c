// The mount table parser on any text in the form of /proc/self/mountinfo.
#include "FuzzCheck.h"

#include "platform/Mounts.h"

#include <set>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView text(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::vector<platform::Volume> volumes = platform::drivesFromMountInfo(text);
    std::set<QByteArray> paths;
    for (const platform::Volume& v : volumes) {
        // A drive is a place in the tree: an absolute path the system can be asked about.
        FUZZ_CHECK(v.mountPath.startsWith('/'));
        FUZZ_CHECK(!v.mountPath.contains('\0'));
        FUZZ_CHECK(v.label.isEmpty()); // labels come from elsewhere
        // A later mount on the same path hides the earlier one.
        FUZZ_CHECK(paths.insert(v.mountPath).second);
    }
    // Lines are independent: the table twice lists the same drives.
    const QByteArray twice = text.toByteArray() + '\n' + text.toByteArray();
    const std::vector<platform::Volume> again = platform::drivesFromMountInfo(twice);
    FUZZ_CHECK(again.size() == volumes.size());
    for (std::size_t i = 0; i < again.size(); ++i)
        FUZZ_CHECK(again[i].mountPath == volumes[i].mountPath);
    return 0;
}
