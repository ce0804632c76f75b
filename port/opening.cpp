#include "opening.h"

#include "registers.h"
#include "system.h"

#include <stdio.h>
#include <string.h>

static char path[MAX_PATH];

static const char SERVICE_NAME[] = "hwinterface";
static const char DEVICE_PATH[] = "\\\\.\\hwinterface";
static const char DRIVER_FILE[] = "\\Drivers\\hwinterface.sys";
static const char SERVICE_BINARY[] = "System32\\Drivers\\hwinterface.sys";
static const int DRIVER_RESOURCE = 110;

int SystemVersion() {
    OSVERSIONINFOEXA info;
    memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    if (!GetVersionExA((LPOSVERSIONINFOA)&info)) {
        // Windows 95 and NT 4 before SP6 know only the short form.
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (!GetVersionExA((LPOSVERSIONINFOA)&info))
            return SYSVER_UNKNOWN;
    }
    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
        return SYSVER_WIN9X;
    if (info.dwPlatformId == VER_PLATFORM_WIN32_NT)
        return SYSVER_NT;
    return SYSVER_UNKNOWN;
}

HANDLE OpenDriverDevice() {
    return CreateFileA(DEVICE_PATH, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

SC_HANDLE OpenDriverService(SC_HANDLE manager) {
    return OpenServiceA(manager, SERVICE_NAME, GENERIC_EXECUTE);
}

SC_HANDLE RegisterDriver(SC_HANDLE manager) {
    return CreateServiceA(manager, SERVICE_NAME, SERVICE_NAME, SERVICE_ALL_ACCESS,
                          SERVICE_KERNEL_DRIVER, SERVICE_SYSTEM_START, SERVICE_ERROR_NORMAL,
                          SERVICE_BINARY, NULL, NULL, NULL, NULL, NULL);
}

int DriverFilePath(char* out, unsigned size) {
    UINT length = GetSystemDirectoryA(out, size);
    // A system directory too long for the file name gives no path rather than a truncated one.
    if (length == 0 || length + sizeof DRIVER_FILE > size)
        return 0;
    strcat(out, DRIVER_FILE);
    return 1;
}

static int start_service(SC_HANDLE manager, int failed) {
    SC_HANDLE service = OpenDriverService(manager);
    if (service == NULL)
        return 1;
    BOOL started = StartServiceA(service, 0, NULL);
    CloseServiceHandle(service);
    return started ? 0 : failed;
}

// The manager handles opened here stay open until the process ends.
int start() {
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (manager != NULL)
        return start_service(manager, 3);
    if (GetLastError() != ERROR_ACCESS_DENIED)
        return 1;
    // Not an administrator: starting needs only execute rights on the service itself.
    manager = OpenSCManagerA(NULL, NULL, GENERIC_READ);
    if (manager == NULL)
        return 1;
    return start_service(manager, 4);
}

// Writes the driver image carried as resource "bin" 110, if the executable has one.
static void write_driver_file() {
    int named = DriverFilePath(path, MAX_PATH);
    HRSRC found = FindResourceA(NULL, MAKEINTRESOURCEA(DRIVER_RESOURCE), "bin");
    if (found == NULL)
        return;
    HGLOBAL loaded = LoadResource(NULL, found);
    if (loaded == NULL)
        return;
    LPVOID image = LockResource(loaded);
    if (image == NULL)
        return;
    if (!named)
        return;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, image, SizeofResource(NULL, found), &written, NULL);
    CloseHandle(file);
}

int inst() {
    write_driver_file();
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (manager == NULL)
        return GetLastError() == ERROR_ACCESS_DENIED ? 5 : 0;
    // A service that already exists is left as it is.
    SC_HANDLE service = RegisterDriver(manager);
    CloseServiceHandle(manager);
    if (service != NULL)
        CloseServiceHandle(service);
    return 0;
}

int Opendriver() {
    hframes = -1;
    hdriver = OpenDriverDevice();
    if (hdriver != INVALID_HANDLE_VALUE)
        return 0;
    if (start() != 0) {
        if (inst() != 0) {
            printf("Failed to install parallel port I/O driver!");
            return 1;
        }
        if (start() != 0) {
            printf("Failed to start parallel port I/O driver!");
            return 1;
        }
    }
    hdriver = OpenDriverDevice();
    return hdriver != INVALID_HANDLE_VALUE ? 0 : 1;
}

int FindPort(int number, unsigned short address, unsigned short* base, unsigned short* ecp) {
    baseport = address;
    ecpport = (unsigned short)(address + 0x400);
    int flags = LocatePort(number, base, ecp);
    if (flags >= 0 && *base != address) {
        baseport = *base;
        ecpport = *ecp;
    }
    return flags;
}

static void find_port(int number, const char* name, unsigned short address) {
    unsigned short base = 0, ecp = 0;
    if (FindPort(number, address, &base, &ecp) < 0 || base == address)
        return;
    if (ecp != 0)
        printf("%s at 0x%04x, ECP at 0x%04x \n", name, base, ecp);
    else
        printf("%s at 0x%04x, no ECP \n", name, base);
}

int OpenPort(int number, unsigned short address) {
    static const char* const names[] = {"LPT1", "LPT2", "LPT3", ""};
    if (number < 1 || number > 4)
        return 0;
    const char* name = names[number - 1];
    printf("Opening parallel port %s \n", name);

    HANDLE claim = INVALID_HANDLE_VALUE;
    if (name[0] != '\0') {
        claim = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (claim == INVALID_HANDLE_VALUE) {
            baseport = 0;
            printf("Parallel port is in use! \n");
            return 0;
        }
    }
    // The claim stays open until the process ends: it keeps other programs off the port.
    baseport = address;
    ecpport = (unsigned short)(address + 0x400);
    sysver = SystemVersion();
    printf("On windows system %d \n", sysver);
    if (sysver == SYSVER_WIN9X)
        return 1;
    if (sysver == SYSVER_NT && Opendriver() == 0) {
        if (name[0] != '\0')
            find_port(number, name, address);
        return 1;
    }
    if (claim != INVALID_HANDLE_VALUE)
        CloseHandle(claim);
    baseport = 0;
    printf("Failed to load parallel port driver! \n");
    return 0;
}
