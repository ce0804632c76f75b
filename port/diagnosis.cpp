// lptspi-check's questions to the system: platform, claim on LPTn, driver service, port probe.
#include "diagnosis.h"

#include "opening.h"
#include "registers.h"
#include "system.h"

#include <stdio.h>
#include <string.h>

// IsWow64Process came with Windows XP Service Pack 2: looked up, so the program still starts on
// the systems before it.
typedef BOOL(WINAPI* IsWow64ProcessFunction)(HANDLE, BOOL*);

static int running_on_64bit_windows() {
#if defined(_WIN64)
    return 1;
#else
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC found = kernel != NULL ? GetProcAddress(kernel, "IsWow64Process") : NULL;
    if (found == NULL)
        return 0;
    IsWow64ProcessFunction is_wow64 = (IsWow64ProcessFunction)(void (*)(void))found;
    BOOL wow64 = FALSE;
    return is_wow64(GetCurrentProcess(), &wow64) && wow64;
#endif
}

// Whether a file in the system folder is there. A 32-bit program on 64-bit Windows that names
// System32 (its Drivers folder included) is shown SysWOW64 instead: the redirection is turned off
// for the look. The calls to turn it off came with the 64-bit editions: looked up.
typedef BOOL(WINAPI* DisableRedirectionFunction)(PVOID*);
typedef BOOL(WINAPI* RevertRedirectionFunction)(PVOID);

static int system_file_present(const char* path) {
#if !defined(_WIN64)
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC disable = NULL, revert = NULL;
    if (kernel != NULL && running_on_64bit_windows()) {
        disable = GetProcAddress(kernel, "Wow64DisableWow64FsRedirection");
        revert = GetProcAddress(kernel, "Wow64RevertWow64FsRedirection");
    }
    PVOID redirection = NULL;
    if (disable != NULL && revert != NULL &&
        ((DisableRedirectionFunction)(void (*)(void))disable)(&redirection)) {
        int present = GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
        ((RevertRedirectionFunction)(void (*)(void))revert)(redirection);
        return present;
    }
#endif
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// A value under HKEY_LOCAL_MACHINE into `data`; its type, or 0 when it is not there.
static DWORD read_value(const char* key, const char* name, BYTE* data, DWORD size) {
    HKEY opened;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return 0;
    DWORD type = 0;
    LONG result = RegQueryValueExA(opened, name, NULL, &type, data, &size);
    RegCloseKey(opened);
    return result == ERROR_SUCCESS ? type : 0;
}

void ReadPlatform(PlatformFacts* facts) {
    memset(facts, 0, sizeof *facts);
    facts->family = SystemVersion();
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (GetVersionExA(&info)) {
        facts->major = info.dwMajorVersion;
        facts->minor = info.dwMinorVersion;
        facts->build = info.dwBuildNumber & 0xFFFF;
    }
    facts->windows64 = facts->family == SYSVER_NT && running_on_64bit_windows();
    // The options the system booted with: test-signing shows as TESTSIGNING.
    char options[512];
    memset(options, 0, sizeof options);
    facts->testsigning = -1;
    if (read_value("SYSTEM\\CurrentControlSet\\Control", "SystemStartOptions", (BYTE*)options,
                   sizeof options - 1) == REG_SZ) {
        for (char* c = options; *c != '\0'; c++) {
            if (*c >= 'a' && *c <= 'z')
                *c = (char)(*c - 'a' + 'A');
        }
        facts->testsigning = strstr(options, "TESTSIGNING") != NULL;
    }
    DWORD secure = 0;
    facts->secureboot = -1;
    if (read_value("SYSTEM\\CurrentControlSet\\Control\\SecureBoot\\State", "UEFISecureBootEnabled",
                   (BYTE*)&secure, sizeof secure) == REG_DWORD)
        facts->secureboot = secure != 0;
}

// Claims LPT<number> as lptspi does; the handle, or INVALID_HANDLE_VALUE with the finding.
static HANDLE claim_lpt(int number, int* finding, unsigned long* error) {
    char name[8];
    snprintf(name, sizeof name, "LPT%d", number);
    HANDLE claim = ClaimDevice(name);
    if (claim != INVALID_HANDLE_VALUE) {
        *error = 0;
        *finding = LPT_FREE;
        return claim;
    }
    *error = GetLastError();
    if (*error == ERROR_SHARING_VIOLATION || *error == ERROR_ACCESS_DENIED)
        *finding = LPT_HELD;
    else if (*error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND)
        *finding = LPT_ABSENT;
    else
        *finding = LPT_REFUSED;
    return claim;
}

int ClaimLpt(int number, unsigned long* error) {
    int finding = LPT_REFUSED;
    claim_lpt(number, &finding, error); // kept until the process ends, as lptspi keeps it
    return finding;
}

void SurveyLpts(int family, LptFacts facts[SURVEYED_LPTS]) {
    sysver = family;
    // Where the ports are is asked of the driver only when it already runs: nothing is started or
    // registered for the list.
    if (family == SYSVER_NT && hdriver == INVALID_HANDLE_VALUE)
        OpenRunningDriver();
    for (int n = 1; n <= SURVEYED_LPTS; n++) {
        LptFacts* f = &facts[n - 1];
        memset(f, 0, sizeof *f);
        HANDLE claim = claim_lpt(n, &f->claim, &f->error);
        if (claim != INVALID_HANDLE_VALUE)
            CloseHandle(claim); // let go at once: the list claims nothing
        f->located = f->claim == LPT_ABSENT ? -1 : LocatePort(n, &f->base, &f->ecp);
    }
}

static void failed(DriverFacts* facts, int step, unsigned long error) {
    facts->state = DRIVER_FAILED;
    facts->step = step;
    facts->error = error;
}

// Opens the hwinterface service for starting, registering it first when there is none and the
// manager lets us. NULL when it cannot, the reason in `facts`.
static SC_HANDLE service_to_start(SC_HANDLE manager, int full_access, DriverFacts* facts) {
    SC_HANDLE service = OpenDriverService(manager);
    if (service != NULL)
        return service;
    DWORD error = GetLastError();
    if (error != ERROR_SERVICE_DOES_NOT_EXIST) {
        failed(facts, STEP_SERVICE, error);
        return NULL;
    }
    if (!full_access) {
        failed(facts, STEP_REGISTER, ERROR_ACCESS_DENIED);
        return NULL;
    }
    service = RegisterDriver(manager);
    if (service == NULL) {
        failed(facts, STEP_REGISTER, GetLastError());
        return NULL;
    }
    facts->state = DRIVER_REGISTERED;
    return service;
}

void BringUpDriver(DriverFacts* facts) {
    memset(facts, 0, sizeof *facts);
    if (!DriverFilePath(facts->file, sizeof facts->file))
        facts->file[0] = '\0';
    facts->file_present = system_file_present(facts->file);
    if (OpenRunningDriver() == 0) {
        facts->state = DRIVER_RUNNING;
        return;
    }

    int full_access = 1;
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (manager == NULL && GetLastError() == ERROR_ACCESS_DENIED) {
        full_access = 0; // not an administrator: starting needs only rights on the service
        manager = OpenSCManagerA(NULL, NULL, GENERIC_READ);
    }
    if (manager == NULL) {
        failed(facts, STEP_MANAGER, GetLastError());
        return;
    }
    facts->state = DRIVER_STARTED;
    SC_HANDLE service = service_to_start(manager, full_access, facts);
    if (service != NULL) {
        if (!StartServiceA(service, 0, NULL)) {
            DWORD error = GetLastError();
            if (error != ERROR_SERVICE_ALREADY_RUNNING)
                failed(facts, STEP_START, error);
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    if (facts->state == DRIVER_FAILED)
        return;
    hdriver = OpenDriverDevice();
    if (hdriver == INVALID_HANDLE_VALUE)
        failed(facts, STEP_DEVICE, GetLastError());
}

int UseLpt(int number, int family, unsigned short* base, unsigned short* ecp) {
    sysver = family;
    return FindPort(number, LegacyBase(number), base, ecp);
}

unsigned long ProbePort(unsigned short port, int* value) {
    if (sysver != SYSVER_NT) {
        *value = Inp32(port);
        return 0;
    }
    unsigned char block[2] = {(unsigned char)(port & 0xFF), (unsigned char)(port >> 8)};
    DWORD returned = 0;
    if (!DeviceIoControl(hdriver, IOCTL_READ_PORT, block, 2, block, 1, &returned, NULL))
        return GetLastError();
    *value = block[0];
    return 0;
}

int DataRegisterHolds(int* held) {
    Out32(baseport, ADAPTER_IDLE | ADAPTER_MOSI);
    *held = Inp32(baseport);
    Out32(baseport, IDLE_LINES);
    int idle = Inp32(baseport);
    return *held == (ADAPTER_IDLE | ADAPTER_MOSI) && idle == IDLE_LINES;
}
