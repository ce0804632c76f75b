// MoveFileEx replaces the target in one step and, with write-through, returns only once the move
// is on disk. The 95/98/Me family has no MoveFileEx: there the old file is first moved aside, the
// new one moved into its place, and the old one deleted only then, so a failed move can put it
// back.
#include "replace.h"
#include "system.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <sys/stat.h>

FILE* create_new_file(const char* path) {
    int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return NULL;
    FILE* file = _fdopen(fd, "wb");
    if (file == NULL) {
        int saved = errno;
        _close(fd);
        remove(path);
        errno = saved;
    }
    return file;
}

// The 95/98/Me family and the NT family up to XP have no symbolic links to files.
void final_path(const char* path, char* out, int out_size) {
    snprintf(out, (size_t)out_size, "%s", path);
}

int commit_file(FILE* file) {
    if (fflush(file) != 0 || _commit(_fileno(file)) != 0)
        return -1;
    return 0;
}

static int failure(char* reason, int reason_size) {
    DWORD code = GetLastError();
    int n = (int)FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                code, 0, reason, (DWORD)reason_size, NULL);
    while (n > 0 && (reason[n - 1] == '\n' || reason[n - 1] == '\r' || reason[n - 1] == ' '))
        reason[--n] = '\0';
    if (n == 0)
        snprintf(reason, (size_t)reason_size, "Windows error %lu", (unsigned long)code);
    return 1;
}

int replace_file(const char* from, const char* to, char* reason, int reason_size) {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED)
        return failure(reason, reason_size);

    char aside[4096];
    snprintf(aside, sizeof aside, "%s.old", from);
    int moved_aside = MoveFileA(to, aside);
    if (!moved_aside && GetLastError() != ERROR_FILE_NOT_FOUND)
        return failure(reason, reason_size);
    if (!MoveFileA(from, to)) {
        failure(reason, reason_size);
        if (moved_aside)
            MoveFileA(aside, to);
        return 1;
    }
    if (moved_aside)
        DeleteFileA(aside);
    return 0;
}

int name_taken(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

int place_file(const char* from, const char* to, char* reason, int reason_size) {
    // Without MOVEFILE_REPLACE_EXISTING the move refuses a name that is taken; the 95/98/Me
    // family's MoveFile never replaces.
    BOOL moved = MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH);
    if (!moved && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED)
        moved = MoveFileA(from, to);
    if (moved)
        return 0;
    DWORD code = GetLastError();
    failure(reason, reason_size);
    return code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS ? PLACE_NAME_TAKEN : 1;
}
