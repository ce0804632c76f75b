// rename() replaces its target in one step. The new file's bytes are forced to disk before it and
// the folder entry after it, so a power cut leaves the old file or the new one, never an empty one.
#include "replace.h"

#include <errno.h>
#include <stdio.h>
#include <fcntl.h>
#include <libgen.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

FILE* create_new_file(const char* path) {
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return NULL;
    FILE* file = fdopen(fd, "wb");
    if (file == NULL) {
        int saved = errno;
        close(fd);
        unlink(path);
        errno = saved;
    }
    return file;
}

void final_path(const char* path, char* out, int out_size) {
    char* real = realpath(path, NULL);
    snprintf(out, (size_t)out_size, "%s", real != NULL ? real : path);
    free(real);
}

int read_only_file(const char* path) {
    struct stat st;
    if (stat(path, &st) != 0 || S_ISDIR(st.st_mode))
        return 0;
    return (st.st_mode & S_IWUSR) == 0;
}

int not_a_file(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

int commit_file(FILE* file) {
    if (fflush(file) != 0)
        return -1;
    if (fsync(fileno(file)) != 0 && errno != EINVAL && errno != EROFS)
        return -1; // EINVAL, EROFS: a file system that cannot sync, not a failed write
    return 0;
}

// Forces the folder entry of `path` to disk. Some file systems refuse this for folders; the
// rename or link itself has happened either way.
static void sync_folder(const char* path) {
    char folder[4096];
    snprintf(folder, sizeof folder, "%s", path);
    int fd = open(dirname(folder), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

int replace_file(const char* from, const char* to, char* reason, int reason_size) {
    // The new file takes the old one's permissions: a private file stays private.
    struct stat old;
    if (stat(to, &old) == 0 && S_ISREG(old.st_mode) && chmod(from, old.st_mode & 07777) != 0) {
        snprintf(reason, (size_t)reason_size, "%s", strerror(errno));
        return 1;
    }
    if (rename(from, to) != 0) {
        snprintf(reason, (size_t)reason_size, "%s", strerror(errno));
        return 1;
    }
    sync_folder(to);
    return 0;
}

int name_taken(const char* path) {
    struct stat st;
    return lstat(path, &st) == 0;
}

int place_file(const char* from, const char* to, char* reason, int reason_size) {
    // A rename that refuses an existing name; where the file system cannot do that, a hard link,
    // which refuses one too, then the temporary name goes.
    int failed = renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
    if (failed && (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP)) {
        failed = link(from, to);
        if (!failed)
            unlink(from);
    }
    if (failed) {
        int taken = errno == EEXIST;
        snprintf(reason, (size_t)reason_size, "%s", strerror(errno));
        return taken ? PLACE_NAME_TAKEN : 1;
    }
    sync_folder(to);
    return 0;
}
