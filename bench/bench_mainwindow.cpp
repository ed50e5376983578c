// The main window at a folder of 1,000 documents: from construction to the list painted, and
// one click of the index button; each beside a baseline in the same run (the listing model
// alone listing that folder, and the index page writer alone writing its page).
#include "filectrls/Directory.h"
#include "filectrls/DirectoryTreeView.h"
#include "filectrls/FileIconProvider.h"
#include "filectrls/FileListView.h"
#include "filectrls/ShellChangeThread.h"
#include "index/IndexPageWriter.h"
#include "main/ErrorBox.h"
#include "main/MainWindow.h"
#include "platform/FsString.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kDocuments = 1000;

struct Folder {
    QTemporaryDir dir;
    QString path; // with a trailing '/'

    Folder() {
        path = dir.path() + QLatin1Char('/');
        const QByteArray base = platform::toFsBytes(path);
        for (int i = 0; i < kDocuments; ++i) {
            const QByteArray name = base + "doc" + QByteArray::number(10000 + i) + "_.txt";
            const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const QByteArray text = "Document " + QByteArray::number(i) + "\r\nsecond line\r\n";
            if (fd < 0 || ::write(fd, text.constData(), size_t(text.size())) != text.size())
                std::abort();
            ::close(fd);
        }
    }
};

Folder& folder() {
    static Folder f;
    return f;
}

// Sees the first paint of a widget.
class PaintSpy : public QObject {
public:
    bool painted = false;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

void waitFor(const bool& flag) {
    QElapsedTimer timer;
    timer.start();
    while (!flag && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (!flag)
        std::abort();
}

void BM_ListFolderBaseline(benchmark::State& state) {
    const QString path = folder().path;
    for (auto _ : state) {
        TDirectory model;
        model.SetFileMask(QStringLiteral("*_.txt"));
        model.SetLocation(path);
        benchmark::DoNotOptimize(model.Count());
    }
}

void BM_StartToListPainted(benchmark::State& state) {
    const QString path = folder().path;
    for (auto _ : state) {
        auto window = std::make_unique<TForm1>(path);
        PaintSpy spy;
        window->FileListView1()->viewport()->installEventFilter(&spy);
        window->show();
        waitFor(spy.painted);
        state.PauseTiming();
        if (window->FileListView1()->ItemCount() != kDocuments + 1)
            std::abort();
        window.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}

void BM_WriteBaseline(benchmark::State& state) {
    const QString path = folder().path;
    TDirectory model;
    model.SetFileMask(QStringLiteral("*_.txt"));
    model.SetLocation(path);
    QList<IndexEntry> entries;
    for (int i = 0; i < model.Count(); ++i) {
        IndexEntry entry = IndexEntry::fromSearchRec(*model.Entry(i));
        entry.name = platform::toFsBytes(model.EntryName(i));
        entries.append(entry);
    }
    const QByteArray bytes = platform::toFsBytes(path);
    for (auto _ : state)
        benchmark::DoNotOptimize(IndexPageWriter::write(bytes, path, entries));
}

void BM_Click(benchmark::State& state) {
    const QString path = folder().path;
    TForm1 window(path);
    window.show();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        window.BitBtn1()->click();
        state.PauseTiming();
        // The watcher's refresh after the new page belongs to the event loop, not to the click.
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    if (::access(platform::toFsBytes(path + QStringLiteral("index.htm")).constData(), F_OK) != 0)
        std::abort();
}

} // namespace

BENCHMARK(BM_ListFolderBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartToListPainted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Click)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    errorbox::installExceptionHandler();
    // A failure must end the benchmark, not wait on a box.
    errorbox::setErrorBoxFunction([](QWidget*, const QString& text) {
        std::fprintf(stderr, "bench_mainwindow: %s\n", qUtf8Printable(text));
        std::abort();
    });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    TShellChangeThread::StopAll();
    FreeSharedIconProvider();
    return 0;
}
