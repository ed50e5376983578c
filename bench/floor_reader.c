// The floor of the command-line benchmarks: lists a folder and reads each document (a name
// ending in "_.txt", any case) once through io_uring, openat -> read -> close linked on direct
// descriptors, 128 documents a submission. It makes no page; it is what reading costs.
// Usage: floor_reader DIR   (prints the documents read and their bytes)
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <liburing.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

enum { kBatch = 128, kSlotSize = 8192 };

static char buffers[kBatch][kSlotSize];

static int isDocument(const char* name) {
    const size_t length = strlen(name);
    return length > 5 && strcasecmp(name + length - 5, "_.txt") == 0;
}

// Reads the `count` documents of `names` in one submission; adds their bytes to `total`.
static int readBatch(struct io_uring* ring, int folder, char** names, int count,
                     long long* total) {
    for (int i = 0; i < count; ++i) {
        struct io_uring_sqe* sqe = io_uring_get_sqe(ring);
        io_uring_prep_openat_direct(sqe, folder, names[i], O_RDONLY | O_NOFOLLOW, 0, i);
        sqe->flags |= IOSQE_IO_LINK;
        io_uring_sqe_set_data64(sqe, 0);
        sqe = io_uring_get_sqe(ring);
        io_uring_prep_read(sqe, i, buffers[i], kSlotSize, 0);
        sqe->flags |= IOSQE_FIXED_FILE | IOSQE_IO_HARDLINK;
        io_uring_sqe_set_data64(sqe, 1);
        sqe = io_uring_get_sqe(ring);
        io_uring_prep_close_direct(sqe, i);
        io_uring_sqe_set_data64(sqe, 2);
    }
    const int queued = count * 3;
    int err = io_uring_submit_and_wait(ring, queued);
    if (err < 0)
        return err;
    for (int reaped = 0; reaped < queued; ++reaped) {
        struct io_uring_cqe* cqe;
        err = io_uring_wait_cqe(ring, &cqe);
        if (err < 0)
            return err;
        if (io_uring_cqe_get_data64(cqe) == 1 && cqe->res > 0)
            *total += cqe->res;
        io_uring_cqe_seen(ring, cqe);
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const int folder = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = folder < 0 ? NULL : fdopendir(dup(folder));
    if (!dir) {
        perror(argv[1]);
        return 1;
    }
    struct io_uring ring;
    int err = io_uring_queue_init(kBatch * 3, &ring, 0);
    if (err == 0)
        err = io_uring_register_files_sparse(&ring, kBatch);
    if (err < 0) {
        fprintf(stderr, "io_uring: %s\n", strerror(-err));
        return 1;
    }
    char* names[kBatch];
    int count = 0;
    long long documents = 0, total = 0;
    const struct dirent* entry;
    while ((entry = readdir(dir)) != NULL) {
        if (!isDocument(entry->d_name))
            continue;
        names[count++] = strdup(entry->d_name);
        if (count < kBatch)
            continue;
        if ((err = readBatch(&ring, folder, names, count, &total)) < 0)
            break;
        documents += count;
        while (count > 0)
            free(names[--count]);
    }
    if (err >= 0 && count > 0 && (err = readBatch(&ring, folder, names, count, &total)) >= 0)
        documents += count;
    if (err < 0) {
        fprintf(stderr, "io_uring: %s\n", strerror(-err));
        return 1;
    }
    printf("%lld documents, %lld bytes\n", documents, total);
    return 0;
}
