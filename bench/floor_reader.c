// The floor of the command-line benchmarks: lists a folder and reads each document (a name
// ending in "_.txt", any case) once through io_uring, openat -> read -> close linked on direct
// descriptors, 128 documents a submission. It makes no page; it is what reading costs. Several
// folders are read in turn with the same ring, as a walk over them would; with -r also every
// folder below them.
// Usage: floor_reader [-r] DIR...   (prints the documents read and their bytes)
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
static int readBatch(struct io_uring* ring, int folder, char** names, int count, long long* total) {
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

static int recursive;

// Reads the documents of one folder (with -r, then the folders below it, depth first); adds to
// the counts. Returns 0 or a negative errno.
static int readFolder(struct io_uring* ring, const char* path, long long* documents,
                      long long* total) {
    const int folder = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int listed = folder < 0 ? -1 : dup(folder);
    DIR* dir = listed < 0 ? NULL : fdopendir(listed);
    if (!dir) {
        perror(path);
        if (folder >= 0)
            close(folder);
        return -1;
    }
    char* names[kBatch];
    char** below = NULL;
    size_t belowCount = 0, belowRoom = 0;
    int count = 0, err = 0;
    const struct dirent* entry;
    while ((entry = readdir(dir)) != NULL) {
        if (recursive && entry->d_type == DT_DIR && strcmp(entry->d_name, ".") != 0 &&
            strcmp(entry->d_name, "..") != 0) {
            if (belowCount == belowRoom) {
                belowRoom = belowRoom ? 2 * belowRoom : 16;
                below = realloc(below, belowRoom * sizeof *below);
            }
            below[belowCount++] = strdup(entry->d_name);
            continue;
        }
        if (!isDocument(entry->d_name))
            continue;
        names[count++] = strdup(entry->d_name);
        if (count < kBatch)
            continue;
        if ((err = readBatch(ring, folder, names, count, total)) < 0)
            break;
        *documents += count;
        while (count > 0)
            free(names[--count]);
    }
    if (err >= 0 && count > 0 && (err = readBatch(ring, folder, names, count, total)) >= 0)
        *documents += count;
    while (count > 0)
        free(names[--count]);
    closedir(dir);
    close(folder);
    if (err < 0)
        fprintf(stderr, "io_uring: %s\n", strerror(-err));
    for (size_t i = 0; i < belowCount; ++i) {
        if (err >= 0) {
            char* sub = malloc(strlen(path) + strlen(below[i]) + 2);
            sprintf(sub, "%s/%s", path, below[i]);
            err = readFolder(ring, sub, documents, total);
            free(sub);
        }
        free(below[i]);
    }
    free(below);
    return err;
}

int main(int argc, char** argv) {
    int first = 1;
    if (argc > 1 && strcmp(argv[1], "-r") == 0) {
        recursive = 1;
        ++first;
    }
    if (argc <= first) {
        fprintf(stderr, "usage: %s [-r] DIR...\n", argv[0]);
        return 2;
    }
    struct io_uring ring;
    int err = io_uring_queue_init(kBatch * 3, &ring, 0);
    if (err == 0)
        err = io_uring_register_files_sparse(&ring, kBatch);
    if (err < 0) {
        fprintf(stderr, "io_uring: %s\n", strerror(-err));
        return 1;
    }
    long long documents = 0, total = 0;
    for (int i = first; i < argc; ++i)
        if (readFolder(&ring, argv[i], &documents, &total) < 0)
            return 1;
    printf("%lld documents, %lld bytes\n", documents, total);
    return 0;
}
