// MoveFileEx replaces the target in one step and, with write-through, returns only once the move
// is on disk. The 95/98/Me family has no MoveFileEx: there the old file is deleted and the new
// one renamed into its place right after, the closest those systems come.
#include "replace.h"
#include "system.h"

#include <stdio.h>

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
    if (!DeleteFileA(to) && GetLastError() != ERROR_FILE_NOT_FOUND)
        return failure(reason, reason_size);
    if (!MoveFileA(from, to))
        return failure(reason, reason_size);
    return 0;
}
