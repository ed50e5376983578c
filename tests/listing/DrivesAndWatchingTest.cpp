// The drive list through the model, and the model's watcher: refreshes on change, and an
// exception from a refresh goes to the application's handler while watching goes on.
#include "base/ApplicationException.h"
#include "base/Exception.h"
#include "filectrls/Directory.h"
#include "filectrls/ShellChangeThread.h"
#include "listing/ListingTestSupport.h"
#include "platform/FsString.h"
#include "platform/Mounts.h"
#include "support/Fakes.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

TEST(ListingDrivesModel, EmptyLocationListsDrivesByRootPath) {
    auto volumes = std::make_shared<fakes::Mounts>(
        std::vector<platform::Volume>{{"/z", "Alpha"}, {"/a", "Zeta"}, {"/m/stuck", ""}, {"/", ""}},
        2'000'000, 1'000'000);
    volumes->stuck = "/m/stuck";
    const auto previous = platform::setMountSource(volumes);
    const auto timeout = platform::setSpaceTimeout(std::chrono::milliseconds(100));
    const int watchers = TShellChangeThread::LiveCount();
    {
        TDirectory d;
        d.SetAutoUpdate(true);
        d.SetLocation(QString());
        EXPECT_EQ(TShellChangeThread::LiveCount(), watchers); // drives are never watched
        QStringList names, roots;
        for (int i = 0; i < d.Count(); ++i) {
            names << d.EntryName(i);
            roots << platform::fromFsBytes(d.Entry(i)->FindName());
            EXPECT_EQ(d.Entry(i)->Attr, faVolumeID);
            EXPECT_EQ(FileTypeText(*d.Entry(i)), QStringLiteral("Volume"));
        }
        EXPECT_EQ(roots, (QStringList{"/", "/a/", "/m/stuck/", "/z/"}));
        EXPECT_EQ(names, (QStringList{"/", "Zeta", "/m/stuck", "Alpha"}));
        EXPECT_EQ(d.Entry(1)->Size, 2);
        EXPECT_EQ(d.Entry(1)->Time, 1u);
        EXPECT_EQ(d.Entry(2)->Size, 0); // did not answer in time
        // Descending by name: drives too, still by root path.
        d.SetSortDirection(sdDescending);
        EXPECT_EQ(d.EntryName(0), QStringLiteral("Alpha"));
    }
    volumes->release();
    platform::setSpaceTimeout(timeout);
    platform::setMountSource(previous);
}

class Client : public IDirectoryClient {
public:
    bool EntryFound(const TSearchRec&) override { return true; }
    void ListingEnded() override {
        ++ended;
        if (throwOnEnd)
            throw EInOutError(5);
    }
    bool ListingStarting() override { return true; }
    void LocationChanged(const QString&) override {}
    void MaskChanged(const QString&) override {}
    int ended = 0;
    bool throwOnEnd = false;
};

TEST(ListingWatching, RefreshFailureIsReportedAndWatchingGoesOn) {
    listingtest::Folder dir;
    int reported = 0;
    QString message;
    const auto previous = setApplicationExceptionHandler([&](std::exception_ptr error) {
        ++reported;
        try {
            std::rethrow_exception(error);
        } catch (const Exception& e) {
            message = e.Message();
        } catch (...) {
        }
    });
    Client client;
    {
        TDirectory d(&client);
        d.SetLocation(dir.location());
        d.SetAutoUpdate(true);
        client.throwOnEnd = true;
        ASSERT_TRUE(dir.file("first"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return reported >= 1; }, 5000));
        EXPECT_EQ(message, QStringLiteral("File access denied"));
        client.throwOnEnd = false;
        ASSERT_TRUE(dir.file("second"));
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                for (int i = 0; i < d.Count(); ++i)
                    if (d.Entry(i)->Name == "second")
                        return true;
                return false;
            },
            5000));
        EXPECT_EQ(reported, 1);
    }
    setApplicationExceptionHandler(previous);
}

TEST(ListingWatching, NewLocationMovesTheWatcher) {
    listingtest::Folder first, second;
    Client client;
    TDirectory d(&client);
    d.SetAutoUpdate(true);
    d.SetLocation(first.location());
    d.SetLocation(second.location());
    const int before = client.ended;
    ASSERT_TRUE(second.file("new"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return client.ended > before; }, 5000));
    ASSERT_EQ(d.Count(), 2); // "..", "new"
}

// Assigning into a model that already watches moves its watcher to the copied folder.
TEST(ListingWatching, AssignMovesTheTargetsWatcher) {
    listingtest::Folder first, second;
    Client client;
    TDirectory target(&client);
    target.SetAutoUpdate(true);
    target.SetLocation(first.location());
    TDirectory source;
    source.SetAutoUpdate(true);
    source.SetLocation(second.location());
    target.Assign(source);
    const int before = client.ended;
    ASSERT_TRUE(second.file("new"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return client.ended > before; }, 5000));
}

} // namespace
