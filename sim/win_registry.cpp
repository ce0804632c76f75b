// Advapi32's registry, and kernel32's run-time lookups and WoW64 switches, on the simulated PC.
#include "win_internal.h"

#include <cstring>

using namespace sim;
using namespace sim::detail;
using namespace sim::win;

namespace {

const uintptr_t kKernel32 = 0x7C800000; // KERNEL32's module handle

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
