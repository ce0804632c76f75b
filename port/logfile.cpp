// Records appended under a lock, and the PC's name and local time: Win32 file, lock and time
// calls. The 95/98/Me family has no LockFileEx (it answers ERROR_CALL_NOT_IMPLEMENTED): there the
// lock is LockFile's, tried again until the holder lets go.
#include "logfile.h"

#include "system.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

// Tries of LockFile, 10 ms apart, before a lock held elsewhere is given up: 30 s.
enum { LOCK_TRIES = 3000 };

static int failed(const char* what, char* reason, int reason_size) {
    DWORD code = GetLastError();
    char text[160];
    int n = (int)FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                code, 0, text, (DWORD)sizeof text, NULL);
    while (n > 0 &&
           (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ' || text[n - 1] == '.'))
        text[--n] = '\0';
    if (n == 0)
        snprintf(text, sizeof text, "Windows error %lu", (unsigned long)code);
    snprintf(reason, (size_t)reason_size, "%s: %s", what, text);
    return 1;
}

static int lock_whole(HANDLE file) {
    OVERLAPPED from_start;
    memset(&from_start, 0, sizeof from_start);
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, &from_start))
        return 1;
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED)
        return 0;
    for (int tries = 0; tries < LOCK_TRIES; tries++) {
        if (LockFile(file, 0, 0, 0xFFFFFFFFu, 0xFFFFFFFFu))
            return 1;
        if (GetLastError() != ERROR_LOCK_VIOLATION)
            return 0;
        _sleep(10);
    }
    return 0;
}

static void unlock_whole(HANDLE file) {
    OVERLAPPED from_start;
    memset(&from_start, 0, sizeof from_start);
    if (!UnlockFileEx(file, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, &from_start))
        UnlockFile(file, 0, 0, 0xFFFFFFFFu, 0xFFFFFFFFu);
}

static int write_whole(HANDLE file, const char* text) {
    DWORD length = (DWORD)strlen(text), written = 0;
    return WriteFile(file, text, length, &written, NULL) && written == length;
}

// Opens `path` with `access` (creating it when there is none), shared with every other opener,
// and locks it whole: the file, or INVALID_HANDLE_VALUE having said why in `reason`.
static HANDLE open_and_lock(const char* path, DWORD access, char* reason, int reason_size) {
    HANDLE file = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        failed("cannot open it", reason, reason_size);
        return INVALID_HANDLE_VALUE;
    }
    if (!lock_whole(file)) {
        failed("cannot lock it", reason, reason_size);
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

int append_record(const char* path, const char* header, const char* record, char* reason,
                  int reason_size) {
    HANDLE file = open_and_lock(path, GENERIC_WRITE, reason, reason_size);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    // Under the lock the end is where the last record ended, whoever wrote it.
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    int ok = size != INVALID_FILE_SIZE || GetLastError() == NO_ERROR;
    ok = ok && (SetFilePointer(file, 0, NULL, FILE_END) != INVALID_SET_FILE_POINTER ||
                GetLastError() == NO_ERROR);
    if (ok && header != NULL && size == 0 && high == 0)
        ok = write_whole(file, header);
    if (ok)
        ok = write_whole(file, record);
    if (!ok)
        failed("cannot write it", reason, reason_size);
    unlock_whole(file);
    CloseHandle(file);
    return ok ? 0 : 1;
}

int open_locked(const char* path, LockedFile* locked, char* reason, int reason_size) {
    HANDLE file = open_and_lock(path, GENERIC_READ | GENERIC_WRITE, reason, reason_size);
    locked->handle = file == INVALID_HANDLE_VALUE ? NULL : file;
    return locked->handle == NULL;
}

int read_locked(LockedFile* locked, char* text, int size, char* reason, int reason_size) {
    HANDLE file = (HANDLE)locked->handle;
    DWORD got = 0;
    text[0] = '\0';
    if (SetFilePointer(file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
        return failed("cannot read it", reason, reason_size);
    if (!ReadFile(file, text, (DWORD)(size - 1), &got, NULL))
        return failed("cannot read it", reason, reason_size);
    text[got] = '\0';
    return 0;
}

int rewrite_locked(LockedFile* locked, const char* text, char* reason, int reason_size) {
    HANDLE file = (HANDLE)locked->handle;
    if ((SetFilePointer(file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
         GetLastError() != NO_ERROR) ||
        !write_whole(file, text) || !SetEndOfFile(file))
        return failed("cannot write it", reason, reason_size);
    return 0;
}

void close_locked(LockedFile* locked) {
    HANDLE file = (HANDLE)locked->handle;
    if (file == NULL)
        return;
    unlock_whole(file);
    CloseHandle(file);
    locked->handle = NULL;
}

// The file `path` opened for reading, shared with every other opener, and what the system tells
// of it; 0 when it cannot be opened or told.
static int file_information(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    const int told = GetFileInformationByHandle(file, info) != 0;
    CloseHandle(file);
    return told;
}

int same_file(const char* one, const char* other) {
    BY_HANDLE_FILE_INFORMATION a, b;
    memset(&a, 0, sizeof a);
    memset(&b, 0, sizeof b);
    if (!file_information(one, &a) || !file_information(other, &b))
        return 0;
    if (a.nFileIndexHigh == 0 && a.nFileIndexLow == 0) {
        for (; *one != '\0' && tolower((unsigned char)*one) == tolower((unsigned char)*other);
             one++, other++) {
        }
        return *one == '\0' && *other == '\0';
    }
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

void computer_name(char* name, int size) {
    DWORD length = (DWORD)size;
    if (!GetComputerNameA(name, &length))
        name[0] = '\0';
}

void local_time_text(char* text, int size) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    TIME_ZONE_INFORMATION zone;
    DWORD which = GetTimeZoneInformation(&zone);
    long bias = zone.Bias; // minutes: UTC = local time + bias
    if (which == TIME_ZONE_ID_DAYLIGHT)
        bias += zone.DaylightBias;
    else if (which == TIME_ZONE_ID_STANDARD)
        bias += zone.StandardBias;
    if (which == TIME_ZONE_ID_INVALID)
        bias = 0;
    const long east = -bias;
    const long minutes = east < 0 ? -east : east;
    snprintf(text, (size_t)size, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", now.wYear,
             now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, east < 0 ? '-' : '+',
             minutes / 60, minutes % 60);
}
