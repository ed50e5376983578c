// Listing 100,000 files: the model against `find DIR -maxdepth 1 -printf '%s %T@ %m\n'` on the
// same folder, in the same run. Also reports the memory an entry takes beyond its name.
//
// The time compared is CPU time (user + system; for find that of the child process): on a
// shared machine wall time mostly measures the other loads. Wall time is a counter.
#include "filectrls/Directory.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int kFiles = 100000;

// Half documents (*_.txt), half other files, names in no particular order and mixed case.
class BenchFolder {
public:
    BenchFolder() {
        path_ = QFile::encodeName(dir_.path());
        quint32 x = 2463534242u;
        for (int i = 0; i < kFiles; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            char name[64];
            static const char* const stems[] = {"Закон", "decree", "Order", "письмо", "Act"};
            std::snprintf(name, sizeof name, "%s_%08x_%d%s", stems[x % 5], x, i,
                          (i % 2) ? "_.txt" : ".dat");
            const QByteArray p = path_ + '/' + name;
            const int fd = ::open(p.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd >= 0) {
                if (::write(fd, "text\r\n", 6) != 6)
                    std::perror("write");
                ::close(fd);
            }
        }
    }
    const QByteArray& path() const { return path_; }
    QString location() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QByteArray path_;
};

BenchFolder& folder() {
    static BenchFolder f;
    return f;
}

double seconds(const timeval& t) {
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

double processCpu() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void BM_Find(benchmark::State& state) {
    const QByteArray dir = folder().path();
    for (auto _ : state) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        char* argv[] = {const_cast<char*>("find"),
                        const_cast<char*>(dir.constData()),
                        const_cast<char*>("-maxdepth"),
                        const_cast<char*>("1"),
                        const_cast<char*>("-printf"),
                        const_cast<char*>("%s %T@ %m\n"),
                        nullptr};
        pid_t pid = 0;
        if (posix_spawnp(&pid, "find", &actions, nullptr, argv, environ) != 0) {
            state.SkipWithError("find cannot be started");
            break;
        }
        int status = 0;
        struct rusage usage {};
        wait4(pid, &status, 0, &usage);
        posix_spawn_file_actions_destroy(&actions);
        state.SetIterationTime(seconds(usage.ru_utime) + seconds(usage.ru_stime));
    }
    state.counters["entries"] = kFiles;
}

// With `details`, every entry's size, time and mode are filled as a view needs them (find
// prints them too); without, the listing stats only what it must.
void listWith(benchmark::State& state, const QString& mask, const QLocale& locale,
              bool details = false) {
    const QLocale saved;
    QLocale::setDefault(locale);
    const QString location = folder().location();
    int count = 0;
    for (auto _ : state) {
        const double started = processCpu();
        TDirectory d;
        d.SetFileMask(mask);
        d.SetLocation(location);
        count = d.Count();
        if (details && count > 0)
            benchmark::DoNotOptimize(d.Entry(0)->Size);
        benchmark::DoNotOptimize(count);
        state.SetIterationTime(processCpu() - started);
    }
    state.counters["entries"] = count;
    QLocale::setDefault(saved);
}

void BM_ListAllByName(benchmark::State& state) {
    listWith(state, QStringLiteral("*.*"), QLocale::c());
}
void BM_ListAllByNameWithDetails(benchmark::State& state) {
    listWith(state, QStringLiteral("*.*"), QLocale::c(), true);
}
void BM_ListDocumentsByName(benchmark::State& state) {
    listWith(state, QStringLiteral("*_.txt"), QLocale::c());
}
void BM_ListAllByNameRussian(benchmark::State& state) {
    listWith(state, QStringLiteral("*.*"), QLocale(QLocale::Russian, QLocale::Russia));
}
void BM_ListDocumentsByNameRussian(benchmark::State& state) {
    listWith(state, QStringLiteral("*_.txt"), QLocale(QLocale::Russian, QLocale::Russia));
}

// Heap kept by a listing, per entry, less the name's own bytes.
void BM_MemoryPerEntry(benchmark::State& state) {
    const QString location = folder().location();
    double beyondName = 0;
    for (auto _ : state) {
        malloc_trim(0);
        const size_t before = mallinfo2().uordblks;
        auto d = std::make_unique<TDirectory>();
        d->SetLocation(location);
        const size_t after = mallinfo2().uordblks;
        qint64 nameBytes = 0;
        for (int i = 0; i < d->Count(); ++i)
            nameBytes += d->Entry(i)->Name.size();
        beyondName = (double(after - before) - double(nameBytes)) / d->Count();
        benchmark::DoNotOptimize(d);
    }
    state.counters["bytes_beyond_name"] = beyondName;
    state.counters["sizeof_TFileInfo"] = double(sizeof(TFileInfo));
}

} // namespace

BENCHMARK(BM_Find)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);
BENCHMARK(BM_ListAllByName)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);
BENCHMARK(BM_ListAllByNameWithDetails)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(8);
BENCHMARK(BM_ListDocumentsByName)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);
BENCHMARK(BM_ListAllByNameRussian)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);
BENCHMARK(BM_ListDocumentsByNameRussian)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(8);
BENCHMARK(BM_MemoryPerEntry)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    folder(); // made before the timings
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
