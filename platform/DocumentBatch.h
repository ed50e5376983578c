#pragma once
// Reads many small documents of one folder at once through io_uring: per document openat ->
// fadvise -> read -> close linked, a whole batch for one system call (system calls are what a
// page of small documents costs). Only a document surely read whole comes back: opened by its
// own name (never through a link), not a FIFO (fadvise), not empty, read in one read that
// ended off a page boundary (a read the page cache cuts short ends on one). Everything else
// (any failure, a link, an empty or large file, a read maybe cut short) is left to
// DocumentFile, which reads it with all its rules and reports its failure; so the bytes, the
// errors and the first failure in list order are those of the plain loop. Nothing is stat'ed:
// the steps themselves tell the kind and the end. Reads never wait (RWF_NOWAIT): what would block (a FIFO put in a document's place, a
// file not in the page cache) is left to the plain loop too, and a stop request (SIGINT,
// SIGTERM) ends a wait. Faults injected for the calls ("open", "fstat" for the kind check,
// "read", "close", "batch-short-read") turn the completions into failures, so
// failures are tested on this path.
// Without io_uring (ENOSYS, EPERM under a seccomp filter, kernel.io_uring_disabled), or with
// DOCINDEX_PLAIN_READS set, nothing is read ahead.
#include <QByteArray>
#include <QByteArrayView>

#include <memory>
#include <vector>

namespace platform {

class DocumentBatch {
public:
    static constexpr int kMaxDocuments = 128;
    // Documents up to this size less one byte are read ahead.
    static constexpr qsizetype kSlotSize = 8192;

    DocumentBatch();
    ~DocumentBatch();
    DocumentBatch(const DocumentBatch&) = delete;
    DocumentBatch& operator=(const DocumentBatch&) = delete;

    // The batch of the calling thread: its ring and buffers are set up once and serve every
    // page the thread writes (a ring costs more to set up than a small folder to read).
    static DocumentBatch& ofThisThread();

    // Reads the documents `names` (at most kMaxDocuments) of the open folder `folderFd`
    // (AT_FDCWD: paths); the ring is set up by the first call. Earlier results are dropped.
    void readAhead(int folderFd, const std::vector<QByteArray>& names);
    // The whole content of the i-th document of the last readAhead, or null when it must be
    // read the plain way. Valid until the next readAhead.
    const QByteArrayView* content(size_t i) const;

    // Documents read ahead by every batch so far (for tests and benchmarks).
    static quint64 documentsReadAhead();
#ifdef DOCINDEX_FAULTS
    // Tests: every later ring set-up fails with `err` (ENOSYS, EPERM) as the kernel's would;
    // 0 ends that.
    static void failSetUpWith(int err);
#endif

private:
    struct Ring;
    bool setUp();
    unsigned queue(int folderFd, const std::vector<QByteArray>& names, size_t n);
    bool reap(unsigned count);
    void keepWhole(size_t n);

    std::unique_ptr<Ring> ring_;
    bool tried_ = false;
    int setUpGeneration_ = 0;              // failSetUpWith's calls seen when the ring was tried
    std::vector<QByteArrayView> contents_; // null data: read it the plain way
};

} // namespace platform
