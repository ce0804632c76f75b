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
#include <string.h>
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

// GetFinalPathNameByHandleA, which names the file a handle reaches, links followed.
typedef DWORD(WINAPI* final_path_call)(HANDLE file, LPSTR name, DWORD size, DWORD flags);

// Vista and later. Looked up by name: a program that imported it would not start on the older
// systems, which have no symbolic links to files anyway.
static final_path_call final_path_of_handle() {
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    if (kernel == NULL)
        return NULL;
    FARPROC found = GetProcAddress(kernel, "GetFinalPathNameByHandleA");
    return reinterpret_cast<final_path_call>(reinterpret_cast<void (*)(void)>(found));
}

// The system gives the name in its long form, \\?\C:\dir\file, or \\?\UNC\server\share\file for
// a network file; the ANSI file calls take C:\dir\file and \\server\share\file.
static void plain_name(const char* name, char* out, int out_size) {
    if (strncmp(name, "\\\\?\\UNC\\", 8) == 0)
        snprintf(out, (size_t)out_size, "\\\\%s", name + 8);
    else if (strncmp(name, "\\\\?\\", 4) == 0)
        snprintf(out, (size_t)out_size, "%s", name + 4);
    else
        snprintf(out, (size_t)out_size, "%s", name);
}

void final_path(const char* path, char* out, int out_size) {
    snprintf(out, (size_t)out_size, "%s", path);
    final_path_call name_of = final_path_of_handle();
    if (name_of == NULL)
        return;
    // No access asked for: the handle only names the file, so a file open elsewhere, or one the
    // caller may not read, is still named.
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    char name[4096];
    DWORD length = name_of(file, name, (DWORD)sizeof name, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(file);
    if (length == 0 || length >= sizeof name)
        return; // the call failed, or the name does not fit: the path as given
    plain_name(name, out, out_size);
}

// The move refuses a read-only target; FILE_ATTRIBUTE_READONLY is the file's own mark, the same
// for every user. A link carries attributes of its own, so the file it reaches is asked.
int read_only_file(const char* path) {
    char target[4096];
    final_path(path, target, (int)sizeof target);
    DWORD attributes = GetFileAttributesA(target);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return 0;
    return (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// Device names (NUL, LPT1, ...) are no move's target: the move itself refuses them.
int not_a_file(const char*) {
    return 0;
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
