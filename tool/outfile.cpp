// A new file written beside its destination, taking its place only once complete.
#include "outfile.h"

#include "../port/replace.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

enum { MAX_NAME = 4096 };

static int reason_from_errno(int failure, char* reason, int reason_size) {
    snprintf(reason, (size_t)reason_size, "%s", strerror(errno != 0 ? errno : EIO));
    return failure;
}

// Creates a file beside `path` that did not exist before: "<path>.<n>.tmp", the first n free.
static FILE* create_temporary(const char* path, char* name) {
    for (int n = 0; n < 1000; n++) {
        if (snprintf(name, MAX_NAME, "%s.%d.tmp", path, n) >= MAX_NAME) {
            errno = ENAMETOOLONG;
            return NULL;
        }
        errno = 0;
        FILE* file = create_new_file(name);
        if (file != NULL || errno != EEXIST)
            return file;
    }
    errno = EEXIST;
    return NULL;
}

// Writes `size` bytes of `data` into the temporary file `file`, forces them to disk and closes
// it; on failure removes it and returns OUTFILE_CANNOT_WRITE with the reason.
static int write_temporary(FILE* file, const char* temporary, const unsigned char* data,
                           size_t size, char* reason, int reason_size) {
    errno = 0;
    int failed = fwrite(data, 1, size, file) != size || commit_file(file) != 0 || ferror(file);
    int saved = errno;
    if (fclose(file) != 0 && !failed) {
        failed = 1;
        saved = errno;
    }
    if (!failed)
        return 0;
    remove(temporary);
    errno = saved;
    return reason_from_errno(OUTFILE_CANNOT_WRITE, reason, reason_size);
}

int write_whole_file(const char* path, const unsigned char* data, size_t size, char* reason,
                     int reason_size) {
    // A file marked read-only is kept on every system: rename() would replace it (only the
    // folder's permissions count there), where the Windows move refuses it.
    if (read_only_file(path)) {
        snprintf(reason, (size_t)reason_size, "the file is read-only");
        return OUTFILE_CANNOT_REPLACE;
    }
    // Nor is a device or a pipe: a rename would put a plain file in its place.
    if (not_a_file(path)) {
        snprintf(reason, (size_t)reason_size, "not a regular file");
        return OUTFILE_CANNOT_REPLACE;
    }
    // A link to the file stays a link: the file it names is the one replaced.
    char target[MAX_NAME];
    final_path(path, target, MAX_NAME);
    char temporary[MAX_NAME];
    FILE* file = create_temporary(target, temporary);
    if (file == NULL)
        return reason_from_errno(OUTFILE_CANNOT_CREATE, reason, reason_size);

    int written = write_temporary(file, temporary, data, size, reason, reason_size);
    if (written != 0)
        return written;
    if (replace_file(temporary, target, reason, reason_size) != 0) {
        remove(temporary);
        return OUTFILE_CANNOT_WRITE;
    }
    return 0;
}

int new_file_begin(NewFile* file, const char* path, char* reason, int reason_size) {
    file->file = NULL;
    snprintf(file->path, sizeof file->path, "%s", path);
    if (name_taken(path)) {
        errno = EEXIST;
        return reason_from_errno(OUTFILE_EXISTS, reason, reason_size);
    }
    file->file = create_temporary(path, file->temporary);
    if (file->file == NULL)
        return reason_from_errno(OUTFILE_CANNOT_CREATE, reason, reason_size);
    return 0;
}

int new_file_finish(NewFile* file, const unsigned char* data, size_t size, char* reason,
                    int reason_size) {
    FILE* open_file = file->file;
    file->file = NULL;
    int written = write_temporary(open_file, file->temporary, data, size, reason, reason_size);
    if (written != 0)
        return written;
    int placed = place_file(file->temporary, file->path, reason, reason_size);
    if (placed != 0) {
        remove(file->temporary);
        return placed == (int)PLACE_NAME_TAKEN ? (int)OUTFILE_EXISTS : (int)OUTFILE_CANNOT_WRITE;
    }
    return 0;
}

void new_file_abandon(NewFile* file) {
    if (file->file == NULL)
        return;
    fclose(file->file);
    file->file = NULL;
    remove(file->temporary);
}
