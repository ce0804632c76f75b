// The Windows API of the simulated PC: files and devices, the hwinterface driver's I/O control
// requests, the service control manager, version queries, resources and msvcrt's port I/O.
#include "state.h"

#include "../driver/hwi_dispatch.h"

#include <cstdio>
#include <cstring>
#include <cerrno>
#include <ctime>
#include <unistd.h>

using namespace sim;
using namespace sim::detail;

namespace {

// Windows NT and its successors, 32- or 64-bit.
bool nt_family(Platform p) {
    return p == Platform::nt || p == Platform::nt64;
}

// The port behind the simulated hwinterface driver: the bus, with no chip requests, and the
// ports it learned of the system.
unsigned char driver_inb(unsigned short port) {
    return bus_in(port);
}
void driver_outb(unsigned short port, unsigned char value) {
    bus_out(port, value);
}
const hwi_ops kDriverPort = {driver_inb, driver_outb, 0, nullptr, nullptr, nullptr, nullptr};

// What the system's parallel-port driver describes to hwinterface when its device is opened:
// LPT1 where the settings put it, with its ECP block when it has one that works. The first
// release of hwinterface asked nothing.
void describe_ports(const Settings& st) {
    hwi_port lpt1{};
    lpt1.base = st.port_base;
    lpt1.span = 8;
    if (st.ecp && st.ecp_block != 0) {
        lpt1.ecp = st.ecp_block;
        lpt1.ecp_span = 8;
    }
    lpt1.lpt = 1;
    hwi_learn_ports(&g_hot.ports, &lpt1, st.hwi == Hwi::ports_only ? 0 : 1);
}

// Whether an older installed driver knows the request at all.
bool driver_knows(const Settings& st, DWORD code) {
    return code == HWI_IOCTL_READ_PORT || code == HWI_IOCTL_WRITE_PORT ||
           (code == HWI_IOCTL_LOCATE_PORT && st.hwi == Hwi::no_frame);
}

// What Windows makes of the driver's refusals, as DeviceIoControl's last error.
DWORD win32_error(hwi_status status) {
    switch (status) {
    case HWI_STATUS_BUFFER_TOO_SMALL:
        return ERROR_INSUFFICIENT_BUFFER;
    case HWI_STATUS_INVALID_PARAMETER:
        return ERROR_INVALID_PARAMETER;
    case HWI_STATUS_ACCESS_DENIED:
        return ERROR_ACCESS_DENIED;
    case HWI_STATUS_OBJECT_NAME_NOT_FOUND:
    case HWI_STATUS_NO_SUCH_DEVICE:
        return ERROR_FILE_NOT_FOUND;
    default:
        return ERROR_INVALID_FUNCTION;
    }
}

BOOL fail(DWORD error) {
    g_hot.last_error = error;
    return FALSE;
}

template <typename T> T* fail_null(DWORD error) {
    g_hot.last_error = error;
    return nullptr;
}

size_t new_handle(State& s, const HandleEntry& entry) {
    for (size_t i = 0; i < s.handles.size(); ++i) {
        if (s.handles[i].kind == Kind::closed) {
            s.handles[i] = entry;
            return i;
        }
    }
    s.handles.push_back(entry);
    return s.handles.size() - 1;
}

HANDLE as_handle(size_t index) {
    return reinterpret_cast<HANDLE>(handle_value(index));
}
SC_HANDLE as_sc_handle(size_t index) {
    return reinterpret_cast<SC_HANDLE>(handle_value(index));
}

bool starts_with(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// "C:\..." stays; anything else is taken relative to `base`.
std::string absolute(const std::string& canonical, const char* base) {
    if (canonical.size() >= 2 && canonical[1] == ':') {
        return canonical;
    }
    if (!canonical.empty() && canonical[0] == '\\') {
        return "C:" + canonical;
    }
    return std::string(base) + "\\" + canonical;
}

std::string parent_of(const std::string& path) {
    const size_t slash = path.rfind('\\');
    if (slash == std::string::npos) {
        return std::string();
    }
    return slash == 2 ? path.substr(0, 3) : path.substr(0, slash);
}

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
    if (number != 1 || s.settings.lpt == Lpt::absent) {
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
    e.path = "LPT1";
    e.share = share;
    return as_handle(new_handle(s, e));
}

bool service_running(State& s) {
    auto it = s.services.find("HWINTERFACE");
    return it != s.services.end() && it->second.info.registered && it->second.info.running;
}

std::string resolve_binary(const std::string& binary_path) {
    return absolute(canonical_path(binary_path), "C:\\WINDOWS");
}

bool file_present(State& s, const std::string& path) {
    auto it = s.files.find(path);
    return it != s.files.end() && !it->second.directory;
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

// ---- service control manager rights ---------------------------------------------------------

const DWORD kManagerUserRights =
    SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS | READ_CONTROL;
const DWORD kServiceUserRights = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS |
                                 SERVICE_ENUMERATE_DEPENDENTS | SERVICE_START | SERVICE_STOP |
                                 SERVICE_PAUSE_CONTINUE | SERVICE_INTERROGATE |
                                 SERVICE_USER_DEFINED_CONTROL | READ_CONTROL;

DWORD map_manager_rights(DWORD access) {
    DWORD r = access & 0x0FFFFFFF;
    if (access & GENERIC_READ) {
        r |= kManagerUserRights;
    }
    if (access & GENERIC_WRITE) {
        r |= SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG | READ_CONTROL;
    }
    if (access & GENERIC_EXECUTE) {
        r |= SC_MANAGER_CONNECT | SC_MANAGER_LOCK | READ_CONTROL;
    }
    if (access & GENERIC_ALL) {
        r |= SC_MANAGER_ALL_ACCESS;
    }
    return r;
}

DWORD map_service_rights(DWORD access) {
    DWORD r = access & 0x0FFFFFFF;
    if (access & GENERIC_READ) {
        r |= SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
             SERVICE_ENUMERATE_DEPENDENTS | READ_CONTROL;
    }
    if (access & GENERIC_WRITE) {
        r |= SERVICE_CHANGE_CONFIG | READ_CONTROL;
    }
    if (access & GENERIC_EXECUTE) {
        r |= SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_USER_DEFINED_CONTROL |
             READ_CONTROL;
    }
    if (access & GENERIC_ALL) {
        r |= SERVICE_ALL_ACCESS;
    }
    return r;
}

std::string outcome(DWORD error) {
    if (error == ERROR_SUCCESS) {
        return "ok";
    }
    return error == ERROR_ACCESS_DENIED ? "denied" : "error " + std::to_string(error);
}

// One line of sim::service_calls(); `access` is left out when null.
void log_call(const char* function, const DWORD* access, DWORD error) {
    char line[96];
    if (access != nullptr) {
        std::snprintf(line, sizeof line, "%s %08x %s", function, static_cast<unsigned>(*access),
                      outcome(error).c_str());
    } else {
        std::snprintf(line, sizeof line, "%s %s", function, outcome(error).c_str());
    }
    state().service_calls.push_back(line);
}

SC_HANDLE sc_fail(const char* function, const DWORD* access, DWORD error) {
    log_call(function, access, error);
    g_hot.last_error = error;
    return nullptr;
}

BOOL start_fail(DWORD error) {
    log_call("StartServiceA", nullptr, error);
    return fail(error);
}

SC_HANDLE new_service_handle(State& s, const std::string& key, DWORD rights) {
    HandleEntry e;
    e.kind = Kind::service;
    e.path = key;
    e.access = rights;
    return as_sc_handle(new_handle(s, e));
}

bool equals_ignoring_case(const char* a, const char* b) {
    return upper_case(a) == upper_case(b);
}

// ---- resources ------------------------------------------------------------------------------

bool is_int_resource(LPCSTR p) {
    return (reinterpret_cast<uintptr_t>(p) >> 16) == 0;
}

std::string resource_type_key(LPCSTR type) {
    if (is_int_resource(type)) {
        return "#" + std::to_string(reinterpret_cast<uintptr_t>(type));
    }
    return upper_case(type);
}

const uintptr_t kResourceBase = 0x10000;

bool resource_index(const State& s, const void* h, size_t& index) {
    const uintptr_t v = reinterpret_cast<uintptr_t>(h);
    if (v < kResourceBase || (v - kResourceBase) % 16 != 0) {
        return false;
    }
    index = (v - kResourceBase) / 16;
    return index < s.resources.size();
}

[[noreturn]] void privileged_instruction(const char* what, unsigned short port) {
    const char* family =
        nt_family(state().settings.platform) ? "the NT family" : "an unrecognised Windows";
    std::fprintf(stderr, "lptspi-sim: privileged instruction: %s(0x%x) from user mode on %s\n",
                 what, port, family);
    std::fflush(stderr);
    // The chip keeps what was written before the fault, so its file is still saved.
    shutdown();
    _exit(3);
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
        // \\.\HWINTERFACE, or a name below it, which reaches the driver's create handling.
        const std::string device = "\\\\.\\HWINTERFACE";
        const bool is_driver = starts_with(name, device.c_str()) &&
                               (name.size() == device.size() || name[device.size()] == '\\');
        const bool can_open =
            is_driver && service_running(s) && !s.device_broken &&
            file_present(s, resolve_binary(s.services["HWINTERFACE"].info.binary_path));
        if (!can_open) {
            g_hot.last_error = ERROR_FILE_NOT_FOUND;
            return INVALID_HANDLE_VALUE;
        }
        // The name after the device's, as the driver sees it: UTF-16, two bytes a character.
        const hwi_status created = hwi_create(2ul * (name.size() - device.size()));
        if (created != HWI_STATUS_SUCCESS) {
            g_hot.last_error = win32_error(created);
            return INVALID_HANDLE_VALUE;
        }
        describe_ports(s.settings);
        HandleEntry e;
        e.kind = Kind::device;
        e.path = name;
        return as_handle(new_handle(s, e));
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
    const bool valid =
        h != nullptr && (h->kind == Kind::file || h->kind == Kind::lpt || h->kind == Kind::device);
    s.kernel_calls.push_back("CloseHandle " + (valid ? h->path : "invalid"));
    if (!valid) {
        return fail(ERROR_INVALID_HANDLE);
    }
    *h = HandleEntry{};
    return TRUE;
}

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                            DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                            LPDWORD lpBytesReturned, LPOVERLAPPED) {
    // The hot path of a run: no allocation, no lookups beyond the handle slot.
    IoctlRecord& r = g_hot.last_ioctl;
    r.code = dwIoControlCode;
    r.in_size = nInBufferSize;
    r.out_size = nOutBufferSize;
    r.has_output = lpOutBuffer != nullptr;
    r.output_is_input = lpOutBuffer != nullptr && lpOutBuffer == lpInBuffer;
    r.in[0] = r.in[1] = r.in[2] = r.in[3] = 0; // nothing left of the previous request
    if (lpInBuffer != nullptr) {
        const BYTE* p = static_cast<const BYTE*>(lpInBuffer);
        for (DWORD k = 0; k < nInBufferSize && k < 4; ++k) {
            r.in[k] = p[k];
        }
    }
    if (find_handle(hDevice, Kind::device) == nullptr) {
        return fail(ERROR_INVALID_HANDLE);
    }
    ++g_hot.driver_requests;
    const Settings& st = g_hot.state->settings;
    if (st.ioctl_fail) {
        return fail(ERROR_GEN_FAILURE);
    }
    if (st.hwi != Hwi::current && !driver_knows(st, dwIoControlCode)) {
        return fail(ERROR_INVALID_FUNCTION);
    }
    // The hwinterface driver's own request handling, with the simulated bus behind it.
    unsigned long information = 0;
    const hwi_status status =
        hwi_dispatch(&kDriverPort, &g_hot.ports, dwIoControlCode, lpInBuffer, nInBufferSize,
                     lpOutBuffer, nOutBufferSize, &information);
    if (status != HWI_STATUS_SUCCESS) {
        return fail(win32_error(status));
    }
    if (lpBytesReturned != nullptr) {
        *lpBytesReturned = static_cast<DWORD>(information);
    }
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

static BOOL get_version(LPOSVERSIONINFOA info) {
    const Settings& st = state().settings;
    if (info == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const DWORD size = info->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) {
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    if (size == sizeof(OSVERSIONINFOEXA) && st.refuse_ex_size) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::memset(reinterpret_cast<char*>(info) + sizeof(DWORD), 0, size - sizeof(DWORD));
    const char* csd = "";
    WORD sp = 0;
    switch (st.platform) {
    case Platform::win9x: // Windows 98 Second Edition
        info->dwMajorVersion = 4;
        info->dwMinorVersion = 10;
        info->dwBuildNumber = 2222;
        info->dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
        csd = " A";
        break;
    case Platform::nt: // Windows XP Service Pack 3
        info->dwMajorVersion = 5;
        info->dwMinorVersion = 1;
        info->dwBuildNumber = 2600;
        info->dwPlatformId = VER_PLATFORM_WIN32_NT;
        csd = "Service Pack 3";
        sp = 3;
        break;
    case Platform::nt64: // 64-bit Windows 10, as a program without a compatibility manifest sees it
        info->dwMajorVersion = 6;
        info->dwMinorVersion = 2;
        info->dwBuildNumber = 9200;
        info->dwPlatformId = VER_PLATFORM_WIN32_NT;
        break;
    case Platform::unknown:
        info->dwMajorVersion = 5;
        info->dwMinorVersion = 0;
        info->dwBuildNumber = 1400;
        info->dwPlatformId = VER_PLATFORM_WIN32_CE;
        break;
    }
    std::strncpy(info->szCSDVersion, csd, sizeof info->szCSDVersion - 1);
    if (size == sizeof(OSVERSIONINFOEXA)) {
        LPOSVERSIONINFOEXA ex = reinterpret_cast<LPOSVERSIONINFOEXA>(info);
        ex->wServicePackMajor = sp;
        ex->wProductType = nt_family(st.platform) ? 1 // VER_NT_WORKSTATION
                                                  : 0;
    }
    return TRUE;
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    const BOOL ok = get_version(info);
    state().kernel_calls.push_back(
        "GetVersionExA " + (info != nullptr ? std::to_string(info->dwOSVersionInfoSize) : "null") +
        " " + outcome(ok ? ERROR_SUCCESS : g_hot.last_error));
    return ok;
}

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
    const std::string& dir = state().system_directory;
    const UINT length = static_cast<UINT>(dir.size());
    if (lpBuffer == nullptr || uSize < length + 1) {
        return length + 1;
    }
    std::memcpy(lpBuffer, dir.c_str(), length + 1);
    return length;
}

DWORD WINAPI GetLastError(void) {
    return g_hot.last_error;
}

// The clocks run on the virtual clock: what the run would take on real hardware.
DWORD WINAPI GetTickCount(void) {
    ensure_booted();
    return static_cast<DWORD>(g_hot.model.now_ns / 1000000u);
}

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount) {
    ensure_booted();
    lpPerformanceCount->QuadPart = static_cast<int64_t>(g_hot.model.now_ns);
    return TRUE;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency) {
    lpFrequency->QuadPart = 1000000000; // nanoseconds
    return TRUE;
}

HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
    State& s = state();
    if (hModule != nullptr) {
        return fail_null<HRSRC__>(ERROR_INVALID_HANDLE); // only the program's own module
    }
    if (lpName == nullptr || lpType == nullptr) {
        return fail_null<HRSRC__>(ERROR_INVALID_PARAMETER);
    }
    const std::string type = resource_type_key(lpType);
    long id = -1;
    if (is_int_resource(lpName)) {
        id = static_cast<long>(reinterpret_cast<uintptr_t>(lpName));
    } else if (lpName[0] == '#') {
        id = std::strtol(lpName + 1, nullptr, 10);
    }
    bool type_found = false;
    for (size_t i = 0; i < s.resources.size(); ++i) {
        if (s.resources[i].type != type) {
            continue;
        }
        type_found = true;
        if (s.resources[i].id == id) {
            return reinterpret_cast<HRSRC>(kResourceBase + 16 * i);
        }
    }
    return fail_null<HRSRC__>(type_found ? ERROR_RESOURCE_NAME_NOT_FOUND
                                         : ERROR_RESOURCE_TYPE_NOT_FOUND);
}

HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo) {
    State& s = state();
    size_t i = 0;
    if (hModule != nullptr || !resource_index(s, hResInfo, i)) {
        g_hot.last_error = ERROR_RESOURCE_DATA_NOT_FOUND;
        return nullptr;
    }
    static BYTE empty = 0;
    std::vector<uint8_t>& bytes = s.resources[i].bytes;
    return bytes.empty() ? static_cast<HGLOBAL>(&empty) : static_cast<HGLOBAL>(bytes.data());
}

LPVOID WINAPI LockResource(HGLOBAL hResData) {
    return hResData;
}

DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo) {
    State& s = state();
    size_t i = 0;
    if (hModule != nullptr || !resource_index(s, hResInfo, i)) {
        g_hot.last_error = ERROR_RESOURCE_DATA_NOT_FOUND;
        return 0;
    }
    return static_cast<DWORD>(s.resources[i].bytes.size());
}

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName,
                                DWORD dwDesiredAccess) {
    State& s = state();
    if (s.settings.platform == Platform::win9x) {
        return sc_fail("OpenSCManagerA", &dwDesiredAccess,
                       ERROR_CALL_NOT_IMPLEMENTED); // no service manager there
    }
    if (lpMachineName != nullptr && *lpMachineName != '\0') {
        return sc_fail("OpenSCManagerA", &dwDesiredAccess, RPC_S_SERVER_UNAVAILABLE);
    }
    if (lpDatabaseName != nullptr && !equals_ignoring_case(lpDatabaseName, "ServicesActive")) {
        return sc_fail("OpenSCManagerA", &dwDesiredAccess, ERROR_DATABASE_DOES_NOT_EXIST);
    }
    // Scm::none: the manager cannot be reached at all, which is not an access question.
    if (s.settings.scm == Scm::none) {
        return sc_fail("OpenSCManagerA", &dwDesiredAccess, RPC_S_SERVER_UNAVAILABLE);
    }
    const DWORD rights = map_manager_rights(dwDesiredAccess);
    if (s.settings.scm == Scm::user && (rights & ~kManagerUserRights) != 0) {
        return sc_fail("OpenSCManagerA", &dwDesiredAccess, ERROR_ACCESS_DENIED);
    }
    HandleEntry e;
    e.kind = Kind::manager;
    e.access = rights;
    log_call("OpenSCManagerA", &dwDesiredAccess, ERROR_SUCCESS);
    return as_sc_handle(new_handle(s, e));
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess) {
    State& s = state();
    if (find_handle(hSCManager, Kind::manager) == nullptr) {
        return sc_fail("OpenServiceA", &dwDesiredAccess, ERROR_INVALID_HANDLE);
    }
    if (lpServiceName == nullptr || *lpServiceName == '\0') {
        return sc_fail("OpenServiceA", &dwDesiredAccess, ERROR_INVALID_NAME);
    }
    const std::string key = upper_case(lpServiceName);
    auto it = s.services.find(key);
    if (it == s.services.end() || !it->second.info.registered) {
        return sc_fail("OpenServiceA", &dwDesiredAccess, ERROR_SERVICE_DOES_NOT_EXIST);
    }
    // Rights on a service come from the service's own security, not from the manager handle.
    const DWORD rights = map_service_rights(dwDesiredAccess);
    if (s.settings.scm == Scm::user && (rights & ~kServiceUserRights) != 0) {
        return sc_fail("OpenServiceA", &dwDesiredAccess, ERROR_ACCESS_DENIED);
    }
    log_call("OpenServiceA", &dwDesiredAccess, ERROR_SUCCESS);
    return new_service_handle(s, key, rights);
}

SC_HANDLE WINAPI CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName,
                                DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType,
                                DWORD dwErrorControl, LPCSTR lpBinaryPathName, LPCSTR, LPDWORD,
                                LPCSTR, LPCSTR, LPCSTR) {
    State& s = state();
    const HandleEntry* manager = find_handle(hSCManager, Kind::manager);
    if (manager == nullptr) {
        return sc_fail("CreateServiceA", &dwDesiredAccess, ERROR_INVALID_HANDLE);
    }
    if ((manager->access & SC_MANAGER_CREATE_SERVICE) == 0) {
        return sc_fail("CreateServiceA", &dwDesiredAccess, ERROR_ACCESS_DENIED);
    }
    if (lpServiceName == nullptr || *lpServiceName == '\0') {
        return sc_fail("CreateServiceA", &dwDesiredAccess, ERROR_INVALID_NAME);
    }
    if (lpBinaryPathName == nullptr || *lpBinaryPathName == '\0') {
        return sc_fail("CreateServiceA", &dwDesiredAccess, ERROR_INVALID_PARAMETER);
    }
    const std::string key = upper_case(lpServiceName);
    ServiceEntry& e = s.services[key];
    if (e.info.registered) {
        return sc_fail("CreateServiceA", &dwDesiredAccess, ERROR_SERVICE_EXISTS);
    }
    e.info.registered = true;
    e.info.running = false;
    e.info.name = lpServiceName;
    e.info.display_name = lpDisplayName != nullptr ? lpDisplayName : "";
    e.info.binary_path = lpBinaryPathName;
    e.info.type = dwServiceType;
    e.info.start_type = dwStartType;
    e.info.error_control = dwErrorControl;
    log_call("CreateServiceA", &dwDesiredAccess, ERROR_SUCCESS);
    return new_service_handle(s, key, map_service_rights(dwDesiredAccess));
}

BOOL WINAPI StartServiceA(SC_HANDLE hService, DWORD, LPCSTR*) {
    State& s = state();
    const HandleEntry* h = find_handle(hService, Kind::service);
    if (h == nullptr) {
        return start_fail(ERROR_INVALID_HANDLE);
    }
    if ((h->access & SERVICE_START) == 0) {
        return start_fail(ERROR_ACCESS_DENIED);
    }
    auto it = s.services.find(h->path);
    if (it == s.services.end() || !it->second.info.registered) {
        return start_fail(ERROR_SERVICE_DOES_NOT_EXIST);
    }
    Service& svc = it->second.info;
    if (svc.running) {
        return start_fail(ERROR_SERVICE_ALREADY_RUNNING);
    }
    if (svc.start_type == SERVICE_DISABLED) {
        return start_fail(ERROR_SERVICE_DISABLED);
    }
    if (!file_present(s, resolve_binary(svc.binary_path))) {
        return start_fail(ERROR_FILE_NOT_FOUND);
    }
    // 64-bit Windows loads only a driver whose signature it accepts.
    if (s.settings.platform == Platform::nt64 && s.settings.signing != Signing::accepted) {
        return start_fail(ERROR_INVALID_IMAGE_HASH);
    }
    svc.running = true;
    log_call("StartServiceA", nullptr, ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
    State& s = state();
    HandleEntry* h = find_handle(hSCObject);
    if (h == nullptr || (h->kind != Kind::manager && h->kind != Kind::service)) {
        s.service_calls.push_back("CloseServiceHandle invalid");
        return fail(ERROR_INVALID_HANDLE);
    }
    s.service_calls.push_back(h->kind == Kind::manager ? "CloseServiceHandle manager"
                                                       : "CloseServiceHandle service");
    *h = HandleEntry{};
    return TRUE;
}

// Port instructions are allowed only once the PC has booted as the 95/98/Me family, so the boot
// check waits until they look refused.
int _inp(unsigned short port) {
    if (!g_hot.port_io_allowed) {
        ensure_booted();
        if (!g_hot.port_io_allowed) {
            privileged_instruction("_inp", port);
        }
    }
    return bus_in(port);
}

int _outp(unsigned short port, int value) {
    if (!g_hot.port_io_allowed) {
        ensure_booted();
        if (!g_hot.port_io_allowed) {
            privileged_instruction("_outp", port);
        }
    }
    bus_out(port, static_cast<uint8_t>(value));
    return value;
}

void _sleep(unsigned long milliseconds) {
    State& s = state();
    simcore::model_advance(g_hot.model, static_cast<uint64_t>(milliseconds) * 1000000u);
    ++s.pauses;
    s.paused_ms += milliseconds;
    if (g_hot.observe) {
        trace_sleep(milliseconds);
    }
    if (s.settings.realtime && milliseconds > 0) {
        // A noted signal cuts the pause short; any other interruption sleeps on.
        timespec left{static_cast<time_t>(milliseconds / 1000),
                      static_cast<long>(milliseconds % 1000) * 1000000L};
        while (nanosleep(&left, &left) != 0 && errno == EINTR && g_signal == 0) {
        }
    }
    check_signal();
}

} // extern "C"

// ---- run-time lookups, files' attributes and the registry ----------------------------------

namespace {

const uintptr_t kKernel32 = 0x7C800000; // KERNEL32's module handle

bool is_64bit_windows() {
    return state().settings.platform == Platform::nt64;
}

// The registry values the tools read: the boot options (test-signing shows there) and whether
// Secure Boot is on.
const char* const kControlKey = "SYSTEM\\CURRENTCONTROLSET\\CONTROL";
const char* const kSecureBootKey = "SYSTEM\\CURRENTCONTROLSET\\CONTROL\\SECUREBOOT\\STATE";
const uintptr_t kKeyControl = 0x5000, kKeySecureBoot = 0x5004;

} // namespace

extern "C" {

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    if (lpModuleName != nullptr &&
        (upper_case(lpModuleName) == "KERNEL32.DLL" || upper_case(lpModuleName) == "KERNEL32")) {
        return reinterpret_cast<HMODULE>(kKernel32);
    }
    g_hot.last_error = ERROR_MOD_NOT_FOUND;
    return nullptr;
}

HANDLE WINAPI GetCurrentProcess(void) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}

BOOL WINAPI IsWow64Process(HANDLE, BOOL* Wow64Process) {
    *Wow64Process = is_64bit_windows() ? TRUE : FALSE;
    return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    // IsWow64Process came with Windows XP Service Pack 2 (and the 64-bit editions); the calls
    // that turn the file system redirection off are there on 64-bit Windows.
    const Platform p = state().settings.platform;
    if (reinterpret_cast<uintptr_t>(hModule) == kKernel32 && lpProcName != nullptr) {
        // As on Windows, the caller casts the address back to the function's own type.
        if (std::strcmp(lpProcName, "IsWow64Process") == 0 && nt_family(p)) {
            return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&IsWow64Process));
        }
        if (std::strcmp(lpProcName, "Wow64DisableWow64FsRedirection") == 0 && p == Platform::nt64) {
            return reinterpret_cast<FARPROC>(
                reinterpret_cast<void (*)()>(&Wow64DisableWow64FsRedirection));
        }
        if (std::strcmp(lpProcName, "Wow64RevertWow64FsRedirection") == 0 && p == Platform::nt64) {
            return reinterpret_cast<FARPROC>(
                reinterpret_cast<void (*)()>(&Wow64RevertWow64FsRedirection));
        }
    }
    g_hot.last_error = ERROR_PROC_NOT_FOUND;
    return nullptr;
}

BOOL WINAPI Wow64DisableWow64FsRedirection(PVOID* OldValue) {
    State& s = state();
    *OldValue = reinterpret_cast<PVOID>(static_cast<uintptr_t>(s.wow64_redirection_off));
    s.wow64_redirection_off = true;
    return TRUE;
}

BOOL WINAPI Wow64RevertWow64FsRedirection(PVOID OldValue) {
    state().wow64_redirection_off = OldValue != nullptr;
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

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
    const Platform p = state().settings.platform;
    if (hKey != HKEY_LOCAL_MACHINE || lpSubKey == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    const std::string key = upper_case(lpSubKey);
    if (key == kControlKey && nt_family(p)) {
        *phkResult = reinterpret_cast<HKEY>(kKeyControl);
        return ERROR_SUCCESS;
    }
    if (key == kSecureBootKey && p == Platform::nt64) {
        *phkResult = reinterpret_cast<HKEY>(kKeySecureBoot);
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData) {
    const Settings& st = state().settings;
    const uintptr_t key = reinterpret_cast<uintptr_t>(hKey);
    std::string text;
    DWORD number = 0;
    DWORD type = 0;
    if (key == kKeyControl && lpValueName != nullptr &&
        upper_case(lpValueName) == "SYSTEMSTARTOPTIONS") {
        const bool test_signing =
            st.platform == Platform::nt64 &&
            (st.signing == Signing::accepted || st.signing == Signing::not_trusted);
        text = test_signing ? " TESTSIGNING  NOEXECUTE=OPTIN" : " NOEXECUTE=OPTIN";
        type = REG_SZ;
    } else if (key == kKeySecureBoot && lpValueName != nullptr &&
               upper_case(lpValueName) == "UEFISECUREBOOTENABLED") {
        number = st.signing == Signing::secure_boot ? 1 : 0;
        type = REG_DWORD;
    } else {
        return ERROR_FILE_NOT_FOUND;
    }
    const DWORD size = type == REG_SZ ? static_cast<DWORD>(text.size() + 1) : sizeof number;
    if (lpType != nullptr) {
        *lpType = type;
    }
    if (lpData != nullptr && (lpcbData == nullptr || *lpcbData < size)) {
        if (lpcbData != nullptr) {
            *lpcbData = size;
        }
        return ERROR_MORE_DATA;
    }
    if (lpData != nullptr) {
        std::memcpy(lpData, type == REG_SZ ? static_cast<const void*>(text.c_str()) : &number,
                    size);
    }
    if (lpcbData != nullptr) {
        *lpcbData = size;
    }
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY hKey) {
    const uintptr_t key = reinterpret_cast<uintptr_t>(hKey);
    return key == kKeyControl || key == kKeySecureBoot ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

} // extern "C"
