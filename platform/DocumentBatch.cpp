#include "platform/DocumentBatch.h"

#include "platform/Fault.h"
#include "platform/Process.h"
#include "platform/Words.h"

#include <QtGlobal>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <liburing.h>
#include <string_view>

namespace platform {
namespace {

std::atomic<quint64> readAheadCount{0};
std::atomic<int> setUpFailure{0};
std::atomic<int> setUpGeneration{0};

// The same flags as DocumentFile's first try; a link fails with ELOOP and goes the plain way.
// No O_CLOEXEC: a ring's own descriptors are never inherited, and the kernel refuses the flag.
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW;

// Per document: open, the kind check, the read, the close.
enum Step : quint64 { kOpen, kKind, kRead, kClose, kSteps };

// A read the page cache cuts short (RWF_NOWAIT and a page not cached) ends on a page boundary,
// a multiple of this on every page size; a read that ends anywhere else ended at the file's end.
constexpr qint64 kPageMultiple = 4096;

// The fault hooks of the steps, in the plain loop's order and by its calls' names (the kind
// check stands where the plain loop's fstat is): a fault injected for a document's call meets
// the batch as a failed completion, on the path users run, on the same document.
constexpr std::string_view kStepHooks[kSteps] = {"open", "fstat", "read", "close"};

} // namespace

struct DocumentBatch::Ring {
    io_uring ring{};
    std::unique_ptr<char[]> buffers{new char[size_t(kMaxDocuments) * size_t(kSlotSize)]};
    struct Slot {
        int result[kSteps] = {};
    };
    Slot entries[kMaxDocuments];
    bool live = false;

    ~Ring() {
        if (live)
            io_uring_queue_exit(&ring);
    }
};

DocumentBatch::DocumentBatch() = default;
DocumentBatch::~DocumentBatch() = default;

#ifdef DOCINDEX_FAULTS
void DocumentBatch::failSetUpWith(int err) {
    setUpFailure.store(err, std::memory_order_relaxed);
    setUpGeneration.fetch_add(1, std::memory_order_relaxed); // every batch tries again
}
#endif

quint64 DocumentBatch::documentsReadAhead() {
    return readAheadCount.load(std::memory_order_relaxed);
}

DocumentBatch& DocumentBatch::ofThisThread() {
    thread_local DocumentBatch batch;
    return batch;
}

bool DocumentBatch::setUp() {
    tried_ = true;
    setUpGeneration_ = setUpGeneration.load(std::memory_order_relaxed);
    auto ring = std::make_unique<Ring>();
    io_uring_params params{};
    // One thread submits and reaps; older kernels that lack the flags get a plain ring.
    params.flags = IORING_SETUP_SUBMIT_ALL | IORING_SETUP_COOP_TASKRUN | IORING_SETUP_SINGLE_ISSUER;
    const int failure = setUpFailure.load(std::memory_order_relaxed);
    int err = failure != 0
                  ? -failure
                  : io_uring_queue_init_params(kMaxDocuments * kSteps, &ring->ring, &params);
    if (err == -EINVAL) {
        params = {};
        err = io_uring_queue_init_params(kMaxDocuments * kSteps, &ring->ring, &params);
    }
    if (err < 0)
        return false; // ENOSYS, EPERM, ...
    ring->live = true;
    if (io_uring_register_files_sparse(&ring->ring, kMaxDocuments) < 0)
        return false;
    ring_ = std::move(ring);
    return true;
}

void DocumentBatch::readAhead(int folderFd, const std::vector<QByteArray>& names) {
    const size_t n = std::min(names.size(), size_t(kMaxDocuments));
    contents_.assign(n, QByteArrayView());
    // Asked each time: the ring outlives the pages, the choice is the caller's of the moment.
    if (n == 0 || qEnvironmentVariableIsSet("DOCINDEX_PLAIN_READS"))
        return;
    if (tried_ && setUpGeneration_ != setUpGeneration.load(std::memory_order_relaxed)) {
        ring_.reset();
        tried_ = false;
    }
    if (!tried_ && !setUp())
        return;
    if (!ring_)
        return;
    const unsigned queued = queue(folderFd, names, n);
    if (queued == 0)
        return;
    const int submitted = io_uring_submit_and_wait(&ring_->ring, queued);
    if (submitted < 0) {
        ring_.reset(); // a ring that cannot submit is given up; the plain loop reads it all
        return;
    }
    if (!reap(unsigned(submitted)))
        return;
    if (unsigned(submitted) != queued) {
        ring_.reset();
        return;
    }
    keepWhole(n);
}

// Per document, linked: openat -> fadvise -> read -> close. No stat of the name: fadvise is
// the kind check (a FIFO put in the document's place since the listing fails it with ESPIPE; a
// folder fails the read, a link the open), and the read's length the size check (keepWhole).
// A second read to find the end of the file cost an eighth of the reading floor's time.
unsigned DocumentBatch::queue(int folderFd, const std::vector<QByteArray>& names, size_t n) {
    io_uring* ring = &ring_->ring;
    unsigned queued = 0;
    for (size_t i = 0; i < n; ++i) {
        const QByteArray& name = names[i];
        Ring::Slot& slot = ring_->entries[i];
        slot = {};
        if (name.isEmpty() || words::holdsZero(name.constData(), size_t(name.size()))) {
            slot.result[kOpen] = -EINVAL; // no file has such a name: the plain loop says so
            continue;
        }
        char* buffer = ring_->buffers.get() + i * size_t(kSlotSize);
        io_uring_sqe* sqe = io_uring_get_sqe(ring);
        io_uring_prep_openat_direct(sqe, folderFd, name.constData(), kOpenFlags, 0, unsigned(i));
        // The prep cleared the flags; set through liburing, which alone touches ring memory.
        io_uring_sqe_set_flags(sqe, IOSQE_IO_LINK);
        io_uring_sqe_set_data64(sqe, i * kSteps + kOpen);
        sqe = io_uring_get_sqe(ring);
        // Hard links from here on: the slot is closed whatever the steps gave; a failed open
        // cancels them all.
        io_uring_prep_fadvise(sqe, int(i), 0, 0, POSIX_FADV_NORMAL);
        io_uring_sqe_set_flags(sqe, IOSQE_FIXED_FILE | IOSQE_IO_HARDLINK);
        io_uring_sqe_set_data64(sqe, i * kSteps + kKind);
        sqe = io_uring_get_sqe(ring);
        io_uring_prep_read(sqe, int(i), buffer, unsigned(kSlotSize), quint64(-1));
        // Never waits: a document swapped for a FIFO since the listing gives EAGAIN instead
        // of blocking the ring for ever, as does a file not in the page cache; the plain loop
        // reads both with its own rules.
        sqe->rw_flags = RWF_NOWAIT;
        io_uring_sqe_set_flags(sqe, IOSQE_FIXED_FILE | IOSQE_IO_HARDLINK);
        io_uring_sqe_set_data64(sqe, i * kSteps + kRead);
        sqe = io_uring_get_sqe(ring);
        io_uring_prep_close_direct(sqe, unsigned(i));
        io_uring_sqe_set_data64(sqe, i * kSteps + kClose);
        queued += kSteps;
    }
    return queued;
}

// Takes `count` completions into their slots; false when the ring had to be abandoned.
bool DocumentBatch::reap(unsigned count) {
    io_uring* ring = &ring_->ring;
    for (unsigned reaped = 0; reaped < count; ++reaped) {
        io_uring_cqe* cqe = nullptr;
        int err;
        do {
            err = io_uring_wait_cqe(ring, &cqe);
        } while (err == -EINTR && !StopSignals::requested());
        if (err < 0) {
            // A stop request or a failed wait: what is in flight is given up with the ring.
            // Reads may still be in flight into the buffers: the ring is abandoned, not freed.
            (void)ring_.release();
            return false;
        }
        const quint64 tag = io_uring_cqe_get_data64(cqe);
        ring_->entries[tag / kSteps].result[tag % kSteps] = cqe->res;
        io_uring_cqe_seen(ring, cqe);
    }
    return true;
}

namespace {

// Injected faults turn completions into failures, in document order so that counted faults
// fall on the same documents as in the plain loop; "batch-short-read" cuts a read of more
// than a page back to a page boundary, as a later page missing from the cache would.
void injectFaults(int (&result)[kSteps]) {
    for (size_t step = kOpen; step < kSteps; ++step) {
        if (result[step] < 0)
            return; // the steps after a failed one are cancelled, as their calls would not run
        if (const int err = fault::take(kStepHooks[step]))
            result[step] = -err;
    }
    if (result[kRead] > kPageMultiple && fault::take("batch-short-read"))
        result[kRead] = int((result[kRead] - 1) / kPageMultiple * kPageMultiple);
}

} // namespace

// Keeps the documents surely read whole; the rest stay null for the plain loop.
void DocumentBatch::keepWhole(size_t n) {
    quint64 whole = 0;
    for (size_t i = 0; i < n; ++i) {
        Ring::Slot& slot = ring_->entries[i];
        injectFaults(slot.result);
        // A read that filled the buffer or gave nothing, or one that ended on a page boundary,
        // is left to the plain loop: the file is larger, is empty, or may have been cut short
        // by the page cache (a document of exactly 4 KiB is read again the plain way).
        const qint64 size = slot.result[kRead];
        if (slot.result[kOpen] < 0 || slot.result[kKind] != 0 || size <= 0 || size >= kSlotSize ||
            size % kPageMultiple == 0 || slot.result[kClose] < 0)
            continue;
        contents_[i] = QByteArrayView(ring_->buffers.get() + i * size_t(kSlotSize), size);
        ++whole;
    }
    readAheadCount.fetch_add(whole, std::memory_order_relaxed);
}

const QByteArrayView* DocumentBatch::content(size_t i) const {
    if (i >= contents_.size() || contents_[i].data() == nullptr)
        return nullptr;
    return &contents_[i];
}

} // namespace platform
