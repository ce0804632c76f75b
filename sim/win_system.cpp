// Kernel32's version, system folder, last error, clocks and resources, and msvcrt's _sleep.
#include "win_internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

using namespace sim;
using namespace sim::detail;
using namespace sim::win;

namespace {

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

} // namespace

extern "C" {

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
