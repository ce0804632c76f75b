// rename() replaces its target in one step. The new file's bytes and the folder entry are forced
// to disk first and after, so a power cut leaves the old file or the new one, never an empty one.
#include "replace.h"

#include <errno.h>
#include <fcntl.h>
#include <libgen.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static int sync_path(const char* path, int flags) {
    int fd = open(path, flags);
    if (fd < 0)
        return -1;
    int failed = fsync(fd);
    // A folder may refuse fsync on some file systems; that is not a failed write.
    if (failed != 0 && (errno == EINVAL || errno == EROFS || errno == EBADF))
        failed = 0;
    close(fd);
    return failed;
}

int replace_file(const char* from, const char* to, char* reason, int reason_size) {
    if (sync_path(from, O_RDONLY) != 0 || rename(from, to) != 0) {
        snprintf(reason, (size_t)reason_size, "%s", strerror(errno));
        return 1;
    }
    char folder[4096];
    snprintf(folder, sizeof folder, "%s", to);
    sync_path(dirname(folder), O_RDONLY | O_DIRECTORY);
    return 0;
}
