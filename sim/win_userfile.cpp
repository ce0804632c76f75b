// Kernel32's calls on the user's files: what the tool names without a drive letter is a file of
// the host's file system, as the C runtime reaches it too. Opened, positioned, sized, written,
// told apart (GetFileInformationByHandle) and locked (flock: one lock for the whole file, shared
// by every process that opens it) as Windows does these calls.
#include "win_internal.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace sim;
using namespace sim::detail;
using namespace sim::win;

namespace {

DWORD windows_error(int code) {
    switch (code) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
        return ERROR_PATH_NOT_FOUND;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EWOULDBLOCK:
        return ERROR_LOCK_VIOLATION;
    default:
        return ERROR_ACCESS_DENIED; // EACCES, EPERM, EROFS, EISDIR and the rest
    }
}

HandleEntry* host_handle(HANDLE h) {
    HandleEntry* e = find_handle(h, Kind::host);
    if (e == nullptr) {
        g_hot.last_error = ERROR_INVALID_HANDLE;
    }
    return e;
}

// LPTSPI_SIM_LOCK_HELD: another program takes the lock of the first user file the program locks,
// at the program's first attempt, through a descriptor of its own (flock locks belong to an open
// file, so it holds against the program's as another process would), and lets go once the virtual
// clock has moved on by the setting's time. A lock that waits (`waits`) waits for it: the virtual
// clock moves on to the moment it lets go.
void other_holder(const HandleEntry& h, bool waits) {
    State& s = state();
    const uint64_t now = g_hot.model.now_ns;
    if (s.settings.lock_held_ms != 0 && !s.hold_taken) {
        s.hold_taken = true;
        s.held_fd = ::open(h.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (s.held_fd >= 0 && ::flock(s.held_fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(s.held_fd); // held by someone else already: theirs is the hold
            s.held_fd = -1;
        }
        s.held_until_ns = now + static_cast<uint64_t>(s.settings.lock_held_ms) * 1000000u;
    }
    if (s.held_fd < 0) {
        return;
    }
    if (waits && now < s.held_until_ns) {
        simcore::model_advance(g_hot.model, s.held_until_ns - now);
    }
    if (g_hot.model.now_ns >= s.held_until_ns) {
        ::close(s.held_fd);
        s.held_fd = -1;
    }
}

BOOL lock_user_file(HandleEntry& h, bool waits, bool exclusive) {
    other_holder(h, waits);
    const int how = (exclusive ? LOCK_EX : LOCK_SH) | (waits ? 0 : LOCK_NB);
    while (::flock(h.fd, how) != 0) {
        if (errno != EINTR) {
            return fail(windows_error(errno));
        }
    }
    return TRUE;
}

BOOL unlock_user_file(HandleEntry& h) {
    return ::flock(h.fd, LOCK_UN) == 0 ? TRUE : fail(ERROR_ACCESS_DENIED);
}

} // namespace

namespace sim::win {

bool user_file_name(const char* name) {
    if (name[0] == '/') {
        return true;
    }
    return name[0] != '\0' && name[0] != '\\' && !(name[1] == ':');
}

HANDLE open_user_file(State& s, const char* name, DWORD access, DWORD disposition) {
    int flags = O_CLOEXEC | O_NOCTTY;
    const bool reads = (access & (GENERIC_READ | GENERIC_ALL)) != 0;
    const bool writes = (access & (GENERIC_WRITE | GENERIC_ALL)) != 0;
    flags |= reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
    struct stat st {};
    const bool existed = ::stat(name, &st) == 0;
    if (existed && S_ISDIR(st.st_mode)) {
        g_hot.last_error = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    switch (disposition) {
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        flags |= O_TRUNC;
        break;
    default:
        g_hot.last_error = ERROR_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }
    const int fd = ::open(name, flags, 0666);
    if (fd < 0) {
        // A missing folder on the way: Windows names the path, not the file.
        g_hot.last_error =
            errno == ENOENT && (flags & O_CREAT) ? ERROR_PATH_NOT_FOUND : windows_error(errno);
        return INVALID_HANDLE_VALUE;
    }
    HandleEntry e;
    e.kind = Kind::host;
    e.path = name;
    e.file_access = access;
    e.fd = fd;
    g_hot.last_error = existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)
                           ? ERROR_ALREADY_EXISTS
                           : ERROR_SUCCESS;
    return as_handle(new_handle(s, e));
}

BOOL write_user_file(HandleEntry& h, const void* bytes, DWORD count, DWORD& written) {
    const char* p = static_cast<const char*>(bytes);
    while (written < count) {
        const ssize_t n = ::write(h.fd, p + written, count - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return fail(n < 0 ? windows_error(errno) : ERROR_DISK_FULL);
        }
        written += static_cast<DWORD>(n);
    }
    return TRUE;
}

void close_user_file(HandleEntry& h) {
    ::close(h.fd); // its lock, if any, goes with it
}

} // namespace sim::win

extern "C" {

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
    HandleEntry* h = host_handle(hFile);
    if (h == nullptr) {
        return INVALID_SET_FILE_POINTER;
    }
    int64_t distance = lDistanceToMove;
    if (lpDistanceToMoveHigh != nullptr) {
        distance = static_cast<int64_t>((static_cast<uint64_t>(*lpDistanceToMoveHigh) << 32) |
                                        static_cast<DWORD>(lDistanceToMove));
    }
    const int whence = dwMoveMethod == FILE_BEGIN     ? SEEK_SET
                       : dwMoveMethod == FILE_CURRENT ? SEEK_CUR
                                                      : SEEK_END;
    const off_t at = ::lseek(h->fd, static_cast<off_t>(distance), whence);
    if (at < 0) {
        g_hot.last_error = ERROR_INVALID_PARAMETER;
        return INVALID_SET_FILE_POINTER;
    }
    if (lpDistanceToMoveHigh != nullptr) {
        *lpDistanceToMoveHigh = static_cast<LONG>(static_cast<uint64_t>(at) >> 32);
    }
    g_hot.last_error = ERROR_SUCCESS;
    return static_cast<DWORD>(at);
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    HandleEntry* h = host_handle(hFile);
    struct stat st {};
    if (h == nullptr || ::fstat(h->fd, &st) != 0) {
        return INVALID_FILE_SIZE;
    }
    if (lpFileSizeHigh != nullptr) {
        *lpFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
    }
    g_hot.last_error = ERROR_SUCCESS;
    return static_cast<DWORD>(st.st_size);
}

// A user's file as Windows tells files apart: its volume (the host's device) and its index on the
// volume (the host's inode), so that two names of one file, a link included, give the same.
BOOL WINAPI GetFileInformationByHandle(HANDLE hFile,
                                       LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
    HandleEntry* h = host_handle(hFile);
    struct stat st {};
    if (h == nullptr || lpFileInformation == nullptr) {
        return fail(h == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    }
    if (::fstat(h->fd, &st) != 0) {
        return fail(windows_error(errno));
    }
    BY_HANDLE_FILE_INFORMATION info{};
    info.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    info.dwVolumeSerialNumber = static_cast<DWORD>(st.st_dev);
    info.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
    info.nFileSizeLow = static_cast<DWORD>(st.st_size);
    info.nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
    info.nFileIndexHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_ino) >> 32);
    info.nFileIndexLow = static_cast<DWORD>(st.st_ino);
    *lpFileInformation = info;
    g_hot.last_error = ERROR_SUCCESS;
    return TRUE;
}

// The whole file is locked, whatever range is asked for: the tool locks whole files. The 95/98/Me
// family has no LockFileEx and UnlockFileEx (ERROR_CALL_NOT_IMPLEMENTED): there LockFile, which
// never waits, is the only lock.
BOOL WINAPI LockFileEx(HANDLE hFile, DWORD dwFlags, DWORD, DWORD, DWORD, LPOVERLAPPED) {
    if (state().settings.platform == Platform::win9x) {
        return fail(ERROR_CALL_NOT_IMPLEMENTED);
    }
    HandleEntry* h = host_handle(hFile);
    return h != nullptr && lock_user_file(*h, (dwFlags & LOCKFILE_FAIL_IMMEDIATELY) == 0,
                                          (dwFlags & LOCKFILE_EXCLUSIVE_LOCK) != 0);
}

BOOL WINAPI UnlockFileEx(HANDLE hFile, DWORD, DWORD, DWORD, LPOVERLAPPED) {
    if (state().settings.platform == Platform::win9x) {
        return fail(ERROR_CALL_NOT_IMPLEMENTED);
    }
    HandleEntry* h = host_handle(hFile);
    return h != nullptr && unlock_user_file(*h);
}

BOOL WINAPI LockFile(HANDLE hFile, DWORD, DWORD, DWORD, DWORD) {
    HandleEntry* h = host_handle(hFile);
    return h != nullptr && lock_user_file(*h, false, true);
}

BOOL WINAPI UnlockFile(HANDLE hFile, DWORD, DWORD, DWORD, DWORD) {
    HandleEntry* h = host_handle(hFile);
    return h != nullptr && unlock_user_file(*h);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED) {
    HandleEntry* h = host_handle(hFile);
    if (lpNumberOfBytesRead != nullptr) {
        *lpNumberOfBytesRead = 0;
    }
    if (h == nullptr) {
        return FALSE;
    }
    char* p = static_cast<char*>(lpBuffer);
    DWORD got = 0;
    while (got < nNumberOfBytesToRead) {
        const ssize_t n = ::read(h->fd, p + got, nNumberOfBytesToRead - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return fail(windows_error(errno));
        }
        if (n == 0) {
            break; // the end of the file: a short read, as Windows gives it
        }
        got += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesRead != nullptr) {
        *lpNumberOfBytesRead = got;
    }
    g_hot.last_error = ERROR_SUCCESS;
    return TRUE;
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
    HandleEntry* h = host_handle(hFile);
    if (h == nullptr) {
        return FALSE;
    }
    const off_t at = ::lseek(h->fd, 0, SEEK_CUR);
    if (at < 0 || ::ftruncate(h->fd, at) != 0) {
        return fail(windows_error(errno));
    }
    return TRUE;
}

} // extern "C"
