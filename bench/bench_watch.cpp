// docindex --watch as a whole process: how soon a new document is on its folder's page, and
// what the watch costs while nothing changes.
//
// The latency includes the quiet period that coalesces bursts (80 ms): that is its floor.
// The baseline for it is one `docindex --write` of the same folder, a process of its own.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string program() {
    return QCoreApplication::applicationDirPath().toStdString() + "/../main/docindex";
}

pid_t spawn(std::vector<std::string> arguments) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (std::string& a : arguments)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

int finish(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Waits (polling the disk every half millisecond) until the page holds `text`.
bool pageHolds(const std::string& page, const std::string& text) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (readFile(page).find(text) == std::string::npos) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return true;
}

// CPU time the process has used, in nanoseconds (every thread, from the scheduler).
long long cpuNanoseconds(pid_t pid) {
    long long sum = 0;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        long long ns = 0;
        std::ifstream(QString(tasks + '/' + task + "/schedstat").toStdString()) >> ns;
        sum += ns;
    }
    return sum;
}

struct Watched {
    QTemporaryDir dir;
    std::string root = dir.path().toStdString();
    pid_t pid = -1;

    explicit Watched(int documents) {
        for (int i = 0; i < documents; ++i)
            writeFile(root + "/old" + std::to_string(i) + "_.txt", "an older document\n");
        pid = spawn({program(), "--watch", "-q", root});
        pageHolds(root + "/index.htm", "</HTML>");
    }
    ~Watched() {
        ::kill(pid, SIGTERM);
        finish(pid);
    }
};

void BM_WatchCreateToPage(benchmark::State& state) {
    Watched watched(int(state.range(0)));
    std::vector<double> latencies;
    int n = 0;
    for (auto _ : state) {
        const std::string name = "new" + std::to_string(n++) + "_.txt";
        const auto start = Clock::now();
        writeFile(watched.root + "/" + name, "a new document\n");
        if (!pageHolds(watched.root + "/index.htm", name)) {
            state.SkipWithError("the page never showed the new document");
            return;
        }
        const double s = std::chrono::duration<double>(Clock::now() - start).count();
        latencies.push_back(s);
        state.SetIterationTime(s);
    }
    std::sort(latencies.begin(), latencies.end());
    state.counters["median_ms"] = latencies[latencies.size() / 2] * 1000;
}
BENCHMARK(BM_WatchCreateToPage)
    ->Arg(10)
    ->Arg(1000)
    ->UseManualTime()
    ->Iterations(30)
    ->Unit(benchmark::kMillisecond);

// Baseline: one page written by a process of its own.
void BM_WriteOnceProcess(benchmark::State& state) {
    Watched folder(0); // only for the documents and the folder; its watch stays idle
    for (int i = 0; i < state.range(0); ++i)
        writeFile(folder.root + "/d" + std::to_string(i) + "_.txt", "a document\n");
    for (auto _ : state) {
        if (finish(spawn({program(), "-q", folder.root})) != 0)
            state.SkipWithError("docindex failed");
    }
}
BENCHMARK(BM_WriteOnceProcess)->Arg(10)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(10);

// CPU over ten idle seconds of a watch of 50 folders.
void BM_WatchIdleCpu(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString();
    for (int i = 0; i < 50; ++i) {
        const std::string folder = root + "/f" + std::to_string(i);
        ::mkdir(folder.c_str(), 0755);
        writeFile(folder + "/a_.txt", "a document\n");
    }
    const pid_t pid = spawn({program(), "--watch", "-r", "-q", root});
    pageHolds(root + "/f49/index.htm", "</HTML>");
    // Past the last page of the walk the watch reads the events of its own saves once.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    for (auto _ : state) {
        const long long before = cpuNanoseconds(pid);
        std::this_thread::sleep_for(std::chrono::seconds(10));
        state.counters["cpu_ms_per_10s"] = double(cpuNanoseconds(pid) - before) / 1e6;
    }
    ::kill(pid, SIGTERM);
    state.counters["exit_code"] = finish(pid);
}
BENCHMARK(BM_WatchIdleCpu)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
