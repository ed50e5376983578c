// The index page of a folder of 10,000 documents of two short lines each, against baselines
// that only open, read and close the same files and write one file of the page's size: one by
// plain system calls, one through io_uring as the page does it (openat -> read -> close linked,
// 128 documents a batch). Goal: the page within 1.2 times the io_uring baseline.
// BM_IndexPage_PlainReads is the page with the batches switched off.
#include "index/IndexPageWriter.h"
#include "platform/CodePage.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <liburing.h>
#include <memory>
#include <unistd.h>

namespace {

constexpr int kDocuments = 10000;

// DOCINDEX_BENCH_DIR chooses the file system the folder lives on (default: the temporary
// folder).
QString benchParent() {
    const QByteArray parent = qgetenv("DOCINDEX_BENCH_DIR");
    return parent.isEmpty() ? QDir::tempPath() : QFile::decodeName(parent);
}

struct Folder {
    QTemporaryDir dir{benchParent() + QStringLiteral("/bench_index-XXXXXX")};
    QByteArray path; // with a trailing '/'
    QList<QByteArray> names;
    QList<IndexEntry> entries;
    qsizetype pageSize = 0;

    Folder() {
        path = QFile::encodeName(dir.path()) + '/';
        entries.append(IndexEntry{"..", EntryKind::Parent});
        for (int i = 0; i < kDocuments; ++i) {
            const QByteArray name =
                "document" + QByteArray::number(i).rightJustified(5, '0') + "_.txt";
            const QByteArray text = "Law number " + QByteArray::number(i) +
                                    " on things\r\nadopted in the year 1999\r\n";
            const int fd = ::open((path + name).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || ::write(fd, text.constData(), std::size_t(text.size())) != text.size())
                std::abort();
            ::close(fd);
            names.append(name);
            entries.append(IndexEntry{name, EntryKind::RegularFile});
        }
        pageSize =
            IndexPageWriter::build({AT_FDCWD, path, QFile::decodeName(path)}, entries).text.size();
    }
};

Folder& folder() {
    static Folder* f = new Folder; // lives until exit; the folder is removed in main
    return *f;
}

void BM_IndexPage(benchmark::State& state) {
    Folder& f = folder();
    platform::setConversionCodePage(1251);
    const QString location = QFile::decodeName(f.path);
    for (auto _ : state) {
        const int documents = IndexPageWriter::write(f.path, location, f.entries);
        if (documents != kDocuments)
            state.SkipWithError("wrong number of rows");
    }
    state.counters["documents"] = kDocuments;
}

// Opens, reads through a 128-byte buffer and closes every document, then writes one file of
// the page's size: rewritten in place, or (`fresh`) as a new file, as an atomic save must.
void baseline(benchmark::State& state, bool fresh) {
    Folder& f = folder();
    const QByteArray page(f.pageSize, 'x');
    const QByteArray out = f.path + "baseline.htm";
    for (auto _ : state) {
        qint64 total = 0;
        char buffer[128];
        for (const QByteArray& name : f.names) {
            const int fd = ::open((f.path + name).constData(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                std::abort();
            ssize_t n;
            while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
                total += n;
            ::close(fd);
        }
        benchmark::DoNotOptimize(total);
        if (fresh)
            ::unlink(out.constData());
        const int fd = ::open(out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, page.constData(), std::size_t(page.size())) != page.size())
            std::abort();
        ::close(fd);
    }
}

// The same reads through io_uring, relative to the open folder, then one new file.
void BM_Baseline_Uring_WriteOneNewFile(benchmark::State& state) {
    Folder& f = folder();
    const QByteArray page(f.pageSize, 'x');
    const QByteArray out = f.path + "baseline.htm";
    constexpr unsigned kBatch = 128;
    io_uring ring;
    if (io_uring_queue_init(kBatch * 3, &ring, 0) < 0 ||
        io_uring_register_files_sparse(&ring, kBatch) < 0) {
        state.SkipWithError("no io_uring");
        return;
    }
    const int dirFd = ::open(f.path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::unique_ptr<char[]> buffers(new char[kBatch * 4096]);
    for (auto _ : state) {
        qint64 total = 0;
        for (qsizetype first = 0; first < f.names.size(); first += kBatch) {
            const unsigned n = unsigned(std::min<qsizetype>(kBatch, f.names.size() - first));
            for (unsigned i = 0; i < n; ++i) {
                io_uring_sqe* sqe = io_uring_get_sqe(&ring);
                io_uring_prep_openat_direct(sqe, dirFd, f.names[first + i].constData(), O_RDONLY, 0,
                                            i);
                sqe->flags |= IOSQE_IO_LINK;
                sqe = io_uring_get_sqe(&ring);
                io_uring_prep_read(sqe, int(i), buffers.get() + i * 4096, 4096, 0);
                sqe->flags |= IOSQE_FIXED_FILE | IOSQE_IO_HARDLINK;
                sqe = io_uring_get_sqe(&ring);
                io_uring_prep_close_direct(sqe, i);
            }
            io_uring_submit_and_wait(&ring, n * 3);
            io_uring_cqe* cqe;
            unsigned head, seen = 0;
            io_uring_for_each_cqe(&ring, head, cqe) {
                total += cqe->res;
                ++seen;
            }
            io_uring_cq_advance(&ring, seen);
        }
        benchmark::DoNotOptimize(total);
        ::unlinkat(dirFd, "baseline.htm", 0);
        const int fd = ::openat(dirFd, "baseline.htm", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, page.constData(), std::size_t(page.size())) != page.size())
            std::abort();
        ::close(fd);
    }
    ::close(dirFd);
    io_uring_queue_exit(&ring);
}

void BM_IndexPage_PlainReads(benchmark::State& state) {
    ::setenv("DOCINDEX_PLAIN_READS", "1", 1);
    BM_IndexPage(state);
    ::unsetenv("DOCINDEX_PLAIN_READS");
}

void BM_Baseline_RewriteOneFile(benchmark::State& state) {
    baseline(state, false);
}
void BM_Baseline_WriteOneNewFile(benchmark::State& state) {
    baseline(state, true);
}

BENCHMARK(BM_Baseline_RewriteOneFile)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Baseline_WriteOneNewFile)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Baseline_Uring_WriteOneNewFile)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_IndexPage)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_IndexPage_PlainReads)->Unit(benchmark::kMillisecond)->MinTime(1.0);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete &folder();
    return 0;
}
