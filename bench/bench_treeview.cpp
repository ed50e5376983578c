// The folder tree against the listing model alone: walking to a folder ten levels down (each
// level holding 1,000 subfolders) and opening a folder with 10,000 subfolders.
#include "filectrls/DirectoryTreeView.h"
#include "filectrls/FileIconProvider.h"
#include "platform/FsString.h"
#include "platform/Mounts.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <sys/stat.h>

#include <cstdlib>
#include <memory>

namespace {

constexpr int kLevels = 10;
constexpr int kPerLevel = 1000;
constexpr int kWide = 10000;

class OneVolume : public platform::MountSource {
public:
    explicit OneVolume(QByteArray path) : path_(std::move(path)) {}
    std::vector<platform::Volume> volumes() override { return {{path_, {}}}; }
    bool space(const QByteArray&, quint64& total, quint64& available) override {
        total = available = 1'000'000'000;
        return true;
    }

private:
    QByteArray path_;
};

// The folders, made once: deep/ holds d0000..d0999, deep/d0500 holds the same, and so on ten
// levels down; wide/big holds 10,000 subfolders.
struct Folders {
    QTemporaryDir dir;
    QByteArray deep;
    QByteArray wideParent;
    QByteArray big;
    std::vector<QByteArray> walked; // the ten folders a walk reads
    QByteArray target;

    Folders() {
        const QByteArray base = platform::toFsBytes(dir.path());
        deep = base + "/deep";
        ::mkdir(deep.constData(), 0755);
        QByteArray level = deep;
        for (int l = 0; l < kLevels; ++l) {
            walked.push_back(level);
            for (int i = 0; i < kPerLevel; ++i)
                ::mkdir((level + '/' + QByteArray::number(1000 + i)).constData(), 0755);
            level += "/1500";
        }
        target = level;
        wideParent = base + "/wide";
        big = wideParent + "/big";
        ::mkdir(wideParent.constData(), 0755);
        ::mkdir(big.constData(), 0755);
        for (int i = 0; i < kWide; ++i)
            ::mkdir((big + '/' + QByteArray::number(100000 + i)).constData(), 0755);
    }
};

Folders& folders() {
    static Folders f;
    return f;
}

// The node models' settings (no "..", folders only), without listing while configuring.
class QuietClient : public IDirectoryClient {
public:
    bool ready = false;
    bool EntryFound(const TSearchRec&) override { return true; }
    void ListingEnded() override {}
    bool ListingStarting() override { return ready; }
    void LocationChanged(const QString&) override {}
    void MaskChanged(const QString&) override {}
};

int listFolder(const QByteArray& folder) {
    QuietClient client;
    TDirectory model(&client);
    model.SetIncludeParentDir(false);
    model.SetFileType({ftSystem, ftDirectory});
    client.ready = true;
    model.SetLocation(platform::fromFsBytes(folder));
    return model.Count();
}

class BenchTree : public TDirectoryTreeView {
public:
    using TDirectoryTreeView::executeDelayedItemsLayout;
};

void BM_ListTenLevels(benchmark::State& state) {
    Folders& f = folders();
    for (auto _ : state) {
        int count = 0;
        for (const QByteArray& folder : f.walked)
            count += listFolder(folder);
        benchmark::DoNotOptimize(count);
    }
}

void BM_TreeWalkTenLevels(benchmark::State& state) {
    Folders& f = folders();
    platform::setMountSource(std::make_shared<OneVolume>(f.deep));
    BenchTree tree;
    tree.resize(250, 600);
    tree.show();
    const QString target = platform::fromFsBytes(f.target);
    for (auto _ : state) {
        state.PauseTiming();
        tree.SetRootDirectory(QString()); // drop the previous walk's nodes
        state.ResumeTiming();
        tree.SetDirectory(target);
        tree.executeDelayedItemsLayout();
    }
    if (tree.Directory() != target + u'/')
        state.SkipWithError("the walk did not reach its folder");
    platform::setMountSource(nullptr);
}

void BM_ListWideFolder(benchmark::State& state) {
    Folders& f = folders();
    for (auto _ : state)
        benchmark::DoNotOptimize(listFolder(f.big));
}

void BM_TreeExpandWideFolder(benchmark::State& state) {
    Folders& f = folders();
    BenchTree tree;
    tree.resize(250, 600);
    tree.show();
    int children = 0;
    for (auto _ : state) {
        state.PauseTiming();
        tree.SetRootDirectory(platform::fromFsBytes(f.wideParent));
        TDirectoryNode* big = tree.Root(0)->Item(0);
        state.ResumeTiming();
        tree.expand(tree.IndexOf(big));
        tree.executeDelayedItemsLayout();
        children = big->Count();
    }
    if (children != kWide)
        state.SkipWithError("the folder was not read");
}

BENCHMARK(BM_ListTenLevels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TreeWalkTenLevels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListWideFolder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TreeExpandWideFolder)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    folders();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    FreeSharedIconProvider();
    return 0;
}
