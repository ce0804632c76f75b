// Kernel32's files and handles on the simulated PC: CreateFileA, WriteFile, file attributes.
#include "win_internal.h"

#include <cstdio>

using namespace sim;
using namespace sim::detail;
using namespace sim::win;

namespace {

// "LPT1", "LPT1:" or "\\.\LPT1" -> 1..9, else 0.
int lpt_number(std::string name) {
    if (starts_with(name, "\\\\.\\")) {
        name.erase(0, 4);
    }
    if (!name.empty() && name.back() == ':') {
        name.pop_back();
    }
    if (name.size() == 4 && starts_with(name, "LPT") && name[3] >= '1' && name[3] <= '9') {
        return name[3] - '0';
    }
    return 0;
}

HANDLE open_lpt(State& s, int number, DWORD share) {
    if (number != s.settings.port_lpt || s.settings.lpt == Lpt::absent) {
        g_hot.last_error = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    if (s.settings.lpt == Lpt::busy) {
        g_hot.last_error = ERROR_SHARING_VIOLATION; // another process holds the port
        return INVALID_HANDLE_VALUE;
    }
    for (const HandleEntry& h : s.handles) {
        if (h.kind == Kind::lpt && (h.share == 0 || share == 0)) {
            g_hot.last_error = ERROR_SHARING_VIOLATION;
            return INVALID_HANDLE_VALUE;
        }
    }
    HandleEntry e;
    e.kind = Kind::lpt;
    e.path = "LPT" + std::to_string(number);
    e.share = share;
    return as_handle(new_handle(s, e));
}

HANDLE open_file(State& s, const std::string& path, DWORD access, DWORD disposition) {
    const std::string parent = parent_of(path);
    auto dir = s.files.find(parent);
    if (parent.empty() || dir == s.files.end() || !dir->second.directory) {
        g_hot.last_error = ERROR_PATH_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    auto it = s.files.find(path);
    const bool exists = it != s.files.end();
    if (exists && it->second.directory) {
        g_hot.last_error = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    DWORD error_on_success = ERROR_SUCCESS;
    switch (disposition) {
    case CREATE_ALWAYS:
        error_on_success = exists ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
        s.files[path].data.clear();
        break;
    case CREATE_NEW:
        if (exists) {
            g_hot.last_error = ERROR_FILE_EXISTS;
            return INVALID_HANDLE_VALUE;
        }
        s.files[path].data.clear();
        break;
    case OPEN_EXISTING:
        if (!exists) {
            g_hot.last_error = ERROR_FILE_NOT_FOUND;
            return INVALID_HANDLE_VALUE;
        }
        break;
    case OPEN_ALWAYS:
        error_on_success = exists ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
        s.files[path];
        break;
    case TRUNCATE_EXISTING:
        if (!exists) {
            g_hot.last_error = ERROR_FILE_NOT_FOUND;
            return INVALID_HANDLE_VALUE;
        }
        it->second.data.clear();
        break;
    default:
        g_hot.last_error = ERROR_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }
    HandleEntry e;
    e.kind = Kind::file;
    e.path = path;
    e.file_access = access;
    g_hot.last_error = error_on_success;
    return as_handle(new_handle(s, e));
}

HANDLE create_file(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   DWORD dwCreationDisposition) {
    State& s = state();
    if (lpFileName == nullptr || *lpFileName == '\0') {
        g_hot.last_error = ERROR_PATH_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    const std::string name = canonical_path(lpFileName);
    if (const int lpt = lpt_number(name); lpt != 0) {
        return open_lpt(s, lpt, dwShareMode);
    }
    if (starts_with(name, "\\\\.\\")) {
        return open_driver_device(s, name);
    }
    if (user_file_name(lpFileName)) {
        return open_user_file(s, lpFileName, dwDesiredAccess, dwCreationDisposition);
    }
    const std::string path = absolute(name, "C:");
    if (!starts_with(path, "C:\\")) {
        g_hot.last_error = ERROR_PATH_NOT_FOUND; // the PC has one drive
        return INVALID_HANDLE_VALUE;
    }
    return open_file(s, path, dwDesiredAccess, dwCreationDisposition);
}

} // namespace

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE) {
    check_signal();
    const HANDLE h = create_file(lpFileName, dwDesiredAccess, dwShareMode, dwCreationDisposition);
    char line[360];
    std::snprintf(line, sizeof line, "CreateFileA %s %08x %x %u %x %s",
                  lpFileName != nullptr ? lpFileName : "(null)",
                  static_cast<unsigned>(dwDesiredAccess), static_cast<unsigned>(dwShareMode),
                  static_cast<unsigned>(dwCreationDisposition),
                  static_cast<unsigned>(dwFlagsAndAttributes),
                  outcome(h == INVALID_HANDLE_VALUE ? g_hot.last_error : ERROR_SUCCESS).c_str());
    state().kernel_calls.push_back(line);
    return h;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    State& s = state();
    HandleEntry* h = find_handle(hObject);
    const bool valid = h != nullptr && (h->kind == Kind::file || h->kind == Kind::lpt ||
                                        h->kind == Kind::device || h->kind == Kind::host);
    s.kernel_calls.push_back("CloseHandle " + (valid ? h->path : "invalid"));
    if (!valid) {
        return fail(ERROR_INVALID_HANDLE);
    }
    if (h->kind == Kind::host) {
        close_user_file(*h);
    }
    *h = HandleEntry{};
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED) {
    State& s = state();
    HandleEntry* entry = find_handle(hFile);
    if (entry == nullptr) {
        return fail(ERROR_INVALID_HANDLE);
    }
    HandleEntry& h = *entry;
    if (lpNumberOfBytesWritten != nullptr) {
        *lpNumberOfBytesWritten = 0;
    }
    if (lpBuffer == nullptr && nNumberOfBytesToWrite > 0) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    switch (h.kind) {
    case Kind::file: {
        if ((h.file_access & (GENERIC_WRITE | GENERIC_ALL)) == 0) {
            return fail(ERROR_ACCESS_DENIED);
        }
        auto it = s.files.find(h.path);
        if (it == s.files.end()) {
            return fail(ERROR_FILE_NOT_FOUND); // removed behind the handle's back
        }
        const BYTE* p = static_cast<const BYTE*>(lpBuffer);
        it->second.data.insert(it->second.data.end(), p, p + nNumberOfBytesToWrite);
        break;
    }
    case Kind::host: {
        if ((h.file_access & (GENERIC_WRITE | GENERIC_ALL)) == 0) {
            return fail(ERROR_ACCESS_DENIED);
        }
        DWORD written = 0;
        const BOOL ok = write_user_file(h, lpBuffer, nNumberOfBytesToWrite, written);
        if (lpNumberOfBytesWritten != nullptr) {
            *lpNumberOfBytesWritten = written;
        }
        return ok;
    }
    case Kind::lpt:
        break; // nothing is listening for printer data
    case Kind::device:
        return fail(ERROR_INVALID_FUNCTION);
    default:
        return fail(ERROR_INVALID_HANDLE);
    }
    if (lpNumberOfBytesWritten != nullptr) {
        *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
    }
    return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    State& s = state();
    if (lpFileName == nullptr) {
        g_hot.last_error = ERROR_PATH_NOT_FOUND;
        return INVALID_FILE_ATTRIBUTES;
    }
    std::string path = absolute(canonical_path(lpFileName), "C:");
    // The simulated programs are 32-bit: on 64-bit Windows what they name in the system folder
    // is looked for in SysWOW64 (the folders exempt from that hold nothing the tools look for).
    const std::string system = canonical_path(s.system_directory);
    if (is_64bit_windows() && !s.wow64_redirection_off && starts_with(path, system.c_str()) &&
        (path.size() == system.size() || path[system.size()] == '\\')) {
        path = parent_of(system) + "\\SYSWOW64" + path.substr(system.size());
    }
    auto it = s.files.find(path);
    if (it == s.files.end()) {
        g_hot.last_error = ERROR_FILE_NOT_FOUND;
        return INVALID_FILE_ATTRIBUTES;
    }
    return it->second.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
}

} // extern "C"
