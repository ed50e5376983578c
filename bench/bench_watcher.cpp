// The change watcher: how soon a new file reaches the callback on the GUI thread, and that a
// watcher costs no CPU while nothing changes.
//
// Baselines in the same run: a bare inotify watch read on the same thread (the kernel's part
// of the latency), and the idle cost of the event loop without any watcher.
#include "filectrls/ShellChangeThread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

bool createFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

// Runs the GUI thread's events until `done` or a second has passed.
template <typename Done> bool runEventsUntil(Done done) {
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

// From the moment a file's creation has returned to the moment the callback runs on the GUI
// thread, which waits in its event loop meanwhile.
void BM_WatcherCreateToCallback(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString() + "/";
    int calls = 0;
    Clock::time_point calledAt;
    TShellChangeThread* watcher = TShellChangeThread::Create(QByteArray::fromStdString(root), [&] {
        ++calls;
        calledAt = Clock::now();
    });
    createFile(root + "primer");
    if (!runEventsUntil([&] { return calls >= 1; })) {
        state.SkipWithError("the watcher does not call back");
        watcher->Terminate();
        return;
    }
    int n = 0;
    double createSeconds = 0;
    for (auto _ : state) {
        const int before = calls;
        const auto start = Clock::now();
        createFile(root + "f" + std::to_string(n++));
        const auto created = Clock::now();
        createSeconds += seconds(created - start);
        if (!runEventsUntil([&] { return calls > before; })) {
            state.SkipWithError("a change was missed");
            break;
        }
        state.SetIterationTime(seconds(calledAt - created));
    }
    state.counters["create_call_ms"] = benchmark::Counter(
        createSeconds * 1000 / std::max<double>(1, n), benchmark::Counter::kDefaults);
    watcher->Terminate();
}
BENCHMARK(BM_WatcherCreateToCallback)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(200);

// Baseline: the kernel's part, a bare inotify watch read on the same thread.
void BM_BareInotifyCreateToEvent(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString() + "/";
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    inotify_add_watch(fd, root.c_str(), IN_CREATE);
    alignas(inotify_event) char buffer[4096];
    int n = 0;
    for (auto _ : state) {
        createFile(root + "f" + std::to_string(n++));
        const auto created = Clock::now();
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 1000);
        [[maybe_unused]] ssize_t got = ::read(fd, buffer, sizeof buffer);
        state.SetIterationTime(seconds(Clock::now() - created));
    }
    ::close(fd);
}
BENCHMARK(BM_BareInotifyCreateToEvent)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(200);

// Process CPU time over one idle second: the GUI thread in its event loop, and `watchers`
// watchers (0 = the baseline) waiting for a change that does not come.
void BM_IdleCpuPerSecond(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString() + "/";
    const int watcherCount = static_cast<int>(state.range(0));
    std::vector<TShellChangeThread*> watchers;
    int calls = 0;
    for (int i = 0; i < watcherCount; ++i)
        watchers.push_back(
            TShellChangeThread::Create(QByteArray::fromStdString(root), [&] { ++calls; }));
    // Let them take their snapshots first.
    createFile(root + "primer");
    runEventsUntil([&] { return calls >= watcherCount; });
    double cpu = 0;
    for (auto _ : state) {
        const double before = processCpuSeconds();
        QEventLoop loop;
        QTimer::singleShot(1000, &loop, &QEventLoop::quit);
        loop.exec();
        cpu += processCpuSeconds() - before;
    }
    state.counters["cpu_ms_per_idle_s"] =
        benchmark::Counter(cpu * 1000 / static_cast<double>(state.iterations()));
    state.counters["live_watchers"] = TShellChangeThread::LiveCount();
    for (TShellChangeThread* watcher : watchers)
        watcher->Terminate();
}
BENCHMARK(BM_IdleCpuPerSecond)
    ->Arg(0)
    ->Arg(1)
    ->Arg(8)
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

// From Terminate() to the thread having ended: the stop wakes the thread at once, and it
// closes its inotify instance.
void BM_WatcherStop(benchmark::State& state) {
    QTemporaryDir dir;
    const QByteArray root = dir.path().toLocal8Bit();
    for (auto _ : state) {
        state.PauseTiming();
        TShellChangeThread* watcher = TShellChangeThread::Create(root, [] {});
        std::this_thread::sleep_for(std::chrono::milliseconds(5)); // into its wait
        state.ResumeTiming();
        watcher->Terminate();
        while (TShellChangeThread::LiveCount() != 0)
            std::this_thread::yield();
    }
}
BENCHMARK(BM_WatcherStop)->Unit(benchmark::kMicrosecond)->Iterations(100);

// Baseline for the stop: closing a bare inotify instance, which waits for the kernel.
void BM_BareInotifyClose(benchmark::State& state) {
    QTemporaryDir dir;
    const QByteArray root = dir.path().toLocal8Bit();
    for (auto _ : state) {
        state.PauseTiming();
        const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        inotify_add_watch(fd, root.constData(), IN_CREATE);
        state.ResumeTiming();
        ::close(fd);
    }
}
BENCHMARK(BM_BareInotifyClose)->Unit(benchmark::kMicrosecond)->Iterations(100);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    QCoreApplication app(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    TShellChangeThread::StopAll();
    benchmark::Shutdown();
    return 0;
}
