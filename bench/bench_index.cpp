// The index page of a folder of 10,000 documents of two short lines each, against a baseline
// that only opens, reads and closes the same files and writes one file of the page's size.
// Goal: the page within 1.5 times the baseline.
#include "index/IndexPageWriter.h"
#include "platform/CodePage.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
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
        entries.append(IndexEntry{QStringLiteral(".."), EntryKind::Parent});
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
            entries.append(IndexEntry{QString::fromLatin1(name), EntryKind::RegularFile});
        }
        pageSize = IndexPageWriter::pageBytes(QFile::decodeName(path), entries).size();
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
        const int documents = IndexPageWriter::write(location, f.entries);
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

void BM_Baseline_RewriteOneFile(benchmark::State& state) {
    baseline(state, false);
}
void BM_Baseline_WriteOneNewFile(benchmark::State& state) {
    baseline(state, true);
}

BENCHMARK(BM_Baseline_RewriteOneFile)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Baseline_WriteOneNewFile)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_IndexPage)->Unit(benchmark::kMillisecond)->MinTime(1.0);

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
