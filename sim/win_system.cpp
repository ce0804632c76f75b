// Kernel32's version, system folder, last error, clocks and resources, and msvcrt's _sleep.
#include "win_internal.h"

#include "operator.h"

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

// The system's messages for the errors the simulated calls give, in English, each ending as
// Windows' do with a full stop and a line break; 0 for any other.
DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD, LPSTR lpBuffer,
                            DWORD nSize, void*) {
    static const struct {
        DWORD code;
        const char* text;
    } messages[] = {
        {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
        {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
        {ERROR_ACCESS_DENIED, "Access is denied."},
        {ERROR_INVALID_HANDLE, "The handle is invalid."},
        {ERROR_SHARING_VIOLATION,
         "The process cannot access the file because it is being used by another process."},
        {ERROR_LOCK_VIOLATION, "The process cannot access the file because another process has "
                               "locked a portion of the file."},
        {ERROR_DISK_FULL, "There is not enough space on the disk."},
        {ERROR_FILE_EXISTS, "The file exists."},
        {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    };
    if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || lpBuffer == nullptr) {
        return static_cast<DWORD>(fail(ERROR_INVALID_PARAMETER));
    }
    for (const auto& m : messages) {
        if (m.code != dwMessageId) {
            continue;
        }
        const std::string text = std::string(m.text) + "\r\n";
        if (text.size() + 1 > nSize) {
            return static_cast<DWORD>(fail(ERROR_INSUFFICIENT_BUFFER));
        }
        std::memcpy(lpBuffer, text.c_str(), text.size() + 1);
        return static_cast<DWORD>(text.size());
    }
    return static_cast<DWORD>(fail(317)); // ERROR_MR_MID_NOT_FOUND
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

// The PC's own name, as a NetBIOS name: upper case, at most 15 characters.
BOOL WINAPI GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize) {
    static const char name[] = "SIMULATED-PC";
    if (lpBuffer == nullptr || nSize == nullptr || *nSize < sizeof name) {
        if (nSize != nullptr) {
            *nSize = sizeof name;
        }
        return fail(ERROR_BUFFER_OVERFLOW);
    }
    std::memcpy(lpBuffer, name, sizeof name);
    *nSize = sizeof name - 1;
    return TRUE;
}

// The date and the time zone are the host's: a log written on the simulated PC carries the real
// date, as on a real one.
void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    lpSystemTime->wYear = static_cast<WORD>(local.tm_year + 1900);
    lpSystemTime->wMonth = static_cast<WORD>(local.tm_mon + 1);
    lpSystemTime->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    lpSystemTime->wDay = static_cast<WORD>(local.tm_mday);
    lpSystemTime->wHour = static_cast<WORD>(local.tm_hour);
    lpSystemTime->wMinute = static_cast<WORD>(local.tm_min);
    lpSystemTime->wSecond = static_cast<WORD>(local.tm_sec);
    lpSystemTime->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

// The zone in effect now: its bias as the standard bias (0), or its daylight bias when summer
// time is on.
DWORD WINAPI GetTimeZoneInformation(LPTIME_ZONE_INFORMATION lpTimeZoneInformation) {
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    std::memset(lpTimeZoneInformation, 0, sizeof *lpTimeZoneInformation);
    const LONG offset = static_cast<LONG>(local.tm_gmtoff / 60); // minutes east of UTC
    if (local.tm_isdst > 0) {
        lpTimeZoneInformation->Bias = -offset - 60;
        lpTimeZoneInformation->DaylightBias = -60;
        return TIME_ZONE_ID_DAYLIGHT;
    }
    lpTimeZoneInformation->Bias = -offset;
    return TIME_ZONE_ID_STANDARD;
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
    operator_pause();
    check_signal();
}

} // extern "C"
