// The file list with a folder of 100,000 entries: from setting Location to the view ready and
// painted, against the listing alone; painting one screen of rows; icon look-ups per key.
#include "filectrls/FileIconProvider.h"
#include "filectrls/FileListView.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kEntries = 100'000;

// Counts the look-ups that reach the MIME database and the theme.
class CountingProvider : public TWindowsFileIconProvider {
public:
    CountingProvider() : TWindowsFileIconProvider(iscSmall) {}
    static inline int lookups = 0;

protected:
    bool FindDefaultIcon(const QString& key, QIcon& icon) override {
        ++lookups;
        return TWindowsFileIconProvider::FindDefaultIcon(key, icon);
    }
};

TFileIconProvider* createCounting(TIconScale) {
    return new CountingProvider;
}

// A folder of kEntries empty files with a handful of extensions (one key each), made once.
QString bigFolder() {
    static QTemporaryDir dir;
    static const bool made = [] {
        const char* exts[] = {".txt", ".doc", ".pdf", ".png", ".htm", ".rtf", ".odt", ".csv"};
        for (int i = 0; i < kEntries; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "%s/document_%06d_%s", qPrintable(dir.path()), i,
                          exts[i % 8]);
            const int fd = ::open(name, O_CREAT | O_WRONLY, 0644);
            if (fd >= 0)
                ::close(fd);
        }
        return true;
    }();
    (void)made;
    return dir.path();
}

void ListingAlone(benchmark::State& state) {
    const QString folder = bigFolder();
    for (auto _ : state) {
        TDirectory dir;
        dir.SetLocation(folder);
        // With every field filled, as the view's listing has them.
        benchmark::DoNotOptimize(dir.Count() > 0 ? dir.Entry(0)->Size : 0);
    }
    state.counters["entries"] = kEntries;
}
BENCHMARK(ListingAlone)->Unit(benchmark::kMillisecond)->Iterations(5);

void ViewReadyAndPainted(benchmark::State& state) {
    const QString folder = bigFolder();
    TFileListView view;
    view.SetViewStyle(state.range(0) ? vsReport : vsList);
    view.resize(800, 600);
    view.show();
    QApplication::processEvents();
    for (auto _ : state) {
        view.Directory().SetLocation(folder);
        QApplication::processEvents(); // the delayed layout of the rows
        view.viewport()->repaint();
        benchmark::DoNotOptimize(view.ItemCount());
    }
    state.SetLabel(state.range(0) ? "report" : "list");
}
BENCHMARK(ViewReadyAndPainted)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(5);

void PaintOneScreen(benchmark::State& state) {
    const QString folder = bigFolder();
    TFileListView view;
    view.SetViewStyle(state.range(0) ? vsReport : vsList);
    view.resize(800, 600);
    view.show();
    view.Directory().SetLocation(folder);
    view.setColumnWidth(0, 220);
    QApplication::processEvents();
    view.viewport()->repaint(); // icons looked up once
    const int rows =
        view.viewport()->height() / view.visualRect(view.model()->index(0, 0)).height();
    for (auto _ : state)
        view.viewport()->repaint();
    state.counters["rows"] = rows;
    state.SetLabel(state.range(0) ? "report" : "list");
}
BENCHMARK(PaintOneScreen)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Scrolls through the whole list painting every screen: look-ups must stay at one per key.
void IconLookupsPerKey(benchmark::State& state) {
    const QString folder = bigFolder();
    TFileListView view;
    view.SetViewStyle(vsReport);
    view.resize(800, 600);
    view.show();
    view.Directory().SetLocation(folder);
    QApplication::processEvents();
    const int before = CountingProvider::lookups;
    int screens = 0;
    for (auto _ : state) {
        for (int row = 0; row < view.ItemCount(); row += 2000) {
            view.scrollTo(view.model()->index(row, 0), QAbstractItemView::PositionAtTop);
            view.viewport()->repaint();
            ++screens;
        }
        view.Directory().Refresh(); // fresh entries: the key cache answers
    }
    state.counters["lookups"] = CountingProvider::lookups - before;
    state.counters["screens"] = screens;
}
BENCHMARK(IconLookupsPerKey)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    // With a real theme where one is installed, as on a desktop.
    if (QDir(QStringLiteral("/usr/share/icons/Adwaita")).exists())
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    FileIconProviderClass = createCounting;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("theme: %s, look-ups in total: %d\n", qPrintable(QIcon::themeName()),
                CountingProvider::lookups);
    FreeSharedIconProvider();
    return 0;
}
