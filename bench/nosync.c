// Preloaded by bench/cli_vs_floor.sh to time a page without its fdatasync: the call answers
// success at once. For measuring only; a page written so is not durable.
#include <unistd.h>

int fdatasync(int fd) {
    (void)fd;
    return 0;
}
