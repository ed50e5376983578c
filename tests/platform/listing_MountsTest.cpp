// The drive list: which mounts are drives, their entries, and a volume that never answers.
#include "platform/Mounts.h"

#include "support/Fakes.h"

#include <QList>
#include <gtest/gtest.h>

namespace {

TEST(ListingMounts, PicksTheVolumesAUserCallsDrives) {
    const QByteArray mountInfo =
        "22 27 0:21 / /proc rw - proc proc rw\n"
        "23 27 0:22 / /sys rw - sysfs sysfs rw\n"
        "24 27 0:6 / /dev rw - devtmpfs devtmpfs rw\n"
        "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
        "28 27 0:25 / /run rw shared:5 - tmpfs tmpfs rw\n"
        "29 27 8:17 / /media/user/USB\\040STICK\\047s rw shared:7 - vfat /dev/sdb1 rw\n"
        "30 27 0:40 / /mnt/share rw - nfs4 server:/export rw\n"
        "31 27 7:0 / /snap/core/1 ro - squashfs /dev/loop0 ro\n"
        "32 27 0:41 / /home/user/remote rw - fuse.sshfs user@host:/ rw\n"
        "33 27 8:33 / /run/media/user/CARD rw - exfat /dev/sdc1 rw\n"
        "34 28 0:42 / /run/user/1000/gvfs rw - fuse.gvfsd-fuse gvfsd-fuse rw\n"
        "35 27 254:0 /var/lib/x/hosts /etc/hosts rw - ext4 /dev/vda rw\n" // bind of a file
        "36 27 0:43 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n"
        "37 27 0:44 / /var/lib/docker/overlay2/x/merged rw - overlay overlay rw\n"
        "38 27 8:2 /@home /home rw - btrfs /dev/sda2 rw\n" // a btrfs subvolume
        "39 27 0:45 / /tmp rw - tmpfs tmpfs rw\n"
        "40 27 8:3 / mnt/relative rw - ext4 /dev/sda3 rw\n" // damaged: no place
        "41 27 8:4 / /mnt/nul\\000x rw - ext4 /dev/sda4 rw\n"
        "garbage line\n";
    QList<QByteArray> paths;
    for (const platform::Volume& v : platform::drivesFromMountInfo(mountInfo))
        paths.append(v.mountPath);
    EXPECT_EQ(paths, (QList<QByteArray>{"/", "/media/user/USB STICK's", "/mnt/share",
                                        "/home/user/remote", "/run/media/user/CARD", "/home"}));
}

class ListingDrives : public ::testing::Test {
protected:
    void SetUp() override {
        // "/mnt/dead" never answers until released; "/mnt/c" refuses: no sizes, still a drive.
        source_ =
            std::make_shared<fakes::Mounts>(std::vector<platform::Volume>{{"/mnt/b", ""},
                                                                          {"/", "System"},
                                                                          {"/media/a/", "STICK"},
                                                                          {"/mnt/dead", ""},
                                                                          {"/mnt/c", ""}},
                                            64'123'456'789ull, 5'999'999ull);
        source_->stuck = "/mnt/dead";
        source_->refuses = [](const QByteArray& path) {
            return path == "/mnt/c" || path.startsWith("/nowhere");
        };
        previous_ = platform::setMountSource(source_);
        timeout_ = platform::setSpaceTimeout(std::chrono::milliseconds(150));
    }
    void TearDown() override {
        source_->release();
        platform::setSpaceTimeout(timeout_);
        platform::setMountSource(previous_);
    }
    std::shared_ptr<fakes::Mounts> source_;
    std::shared_ptr<platform::MountSource> previous_;
    std::chrono::milliseconds timeout_{};
};

TEST_F(ListingDrives, RootFirstThenByMountPath) {
    const auto started = std::chrono::steady_clock::now();
    const std::vector<TSearchRec> drives = platform::listDrives();
    // The dead volume costs one time limit, not a hang (generous bound: no timing goal).
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));

    struct Expect {
        const char* name;
        const char* fileName;
        qint64 size;
        quint32 time;
    } const expected[] = {
        {"System", "/", 64123, 5},         {"STICK", "/media/a/", 64123, 5},
        {"/mnt/b", "/mnt/b/", 64123, 5},   {"/mnt/c", "/mnt/c/", 0, 0},
        {"/mnt/dead", "/mnt/dead/", 0, 0}, // did not answer in time
    };
    ASSERT_EQ(drives.size(), std::size(expected));
    for (size_t i = 0; i < drives.size(); ++i) {
        EXPECT_EQ(drives[i].Name, expected[i].name) << i;
        EXPECT_EQ(drives[i].FileName, expected[i].fileName) << i;
        EXPECT_EQ(drives[i].Size, expected[i].size) << i;
        EXPECT_EQ(drives[i].Time, expected[i].time) << i;
        EXPECT_EQ(drives[i].Attr, faVolumeID) << i;
    }
}

TEST_F(ListingDrives, FillDriveEntry) {
    TSearchRec rec;
    platform::fillDriveEntry("/media/a", rec);
    EXPECT_EQ(rec.Name, "STICK");
    EXPECT_EQ(rec.FileName, "/media/a/");
    EXPECT_EQ(rec.Attr, faVolumeID);
    EXPECT_EQ(rec.Size, 64123);

    platform::fillDriveEntry("/mnt/dead/", rec);
    EXPECT_EQ(rec.Attr, faVolumeID); // a known volume, merely silent
    EXPECT_EQ(rec.Size, 0);
    EXPECT_EQ(rec.Name, "/mnt/dead");

    // Not a volume and no answer: named by its path, no volume bit.
    platform::fillDriveEntry("/nowhere", rec);
    EXPECT_EQ(rec.Attr, 0u);
    EXPECT_EQ(rec.Name, "/nowhere/");
    EXPECT_EQ(rec.FileName, "/nowhere/");
}

TEST(ListingMountsSystem, RootIsAlwaysFirst) {
    const std::vector<TSearchRec> drives = platform::listDrives();
    ASSERT_FALSE(drives.empty());
    EXPECT_EQ(drives.front().FileName, "/");
    EXPECT_EQ(drives.front().Attr, faVolumeID);
    EXPECT_GT(drives.front().Size, 0);
}

} // namespace
