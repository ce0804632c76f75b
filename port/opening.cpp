// Claiming the parallel port: the platform family, the hwinterface driver's install and start.
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

int OpenRunningDriver() {
    hframes = -1;
    hdriver = OpenDriverDevice();
    return hdriver != INVALID_HANDLE_VALUE ? 0 : 1;
}

int Opendriver() {
    if (OpenRunningDriver() == 0)
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
    return OpenRunningDriver();
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

// Says where the driver put LPT<number> when that is not `address`. Returns 0 when nothing says
// where the port is: LPT4 to LPT9 (`address` 0) where the driver cannot tell.
static int find_port(int number, const char* name, unsigned short address) {
    unsigned short base = 0, ecp = 0;
    if (FindPort(number, address, &base, &ecp) < 0)
        return address != 0;
    if (base == address)
        return 1;
    if (ecp != 0)
        printf("%s at 0x%04x, ECP at 0x%04x \n", name, base, ecp);
    else
        printf("%s at 0x%04x, no ECP \n", name, base);
    return 1;
}

// LPT4 to LPT9 have no usual place: only a driver that asks the system knows where they are.
static void say_unplaced(const char* name) {
    if (sysver == SYSVER_WIN9X)
        printf("%s cannot be found on Windows 95/98/Me: lptspi finds LPT1 to LPT3 only, at 0x378, "
               "0x278 and 0x3BC \n",
               name);
    else
        printf("this driver cannot find %s (an older hwinterface.sys finds LPT1 to LPT3 only, at "
               "0x378, 0x278 and 0x3BC): install this package's driver, or name the port LPT1, "
               "LPT2 or LPT3 in Device Manager \n",
               name);
}

HANDLE ClaimDevice(const char* name) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
}

unsigned short LegacyBase(int number) {
    static const unsigned short bases[] = {0x378, 0x278, 0x3BC};
    return number >= 1 && number <= 3 ? bases[number - 1] : 0;
}

// Claims the device `name` (none when empty) and brings up the port at `address`, or, for
// LPT<number>, where the driver says it is (`address` 0: only there).
static int open_named(int number, const char* name, unsigned short address) {
    printf("Opening parallel port %s \n", name);

    HANDLE claim = INVALID_HANDLE_VALUE;
    if (name[0] != '\0') {
        claim = ClaimDevice(name);
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
    if (sysver == SYSVER_WIN9X && address != 0)
        return 1;
    if (sysver == SYSVER_NT && Opendriver() == 0) {
        if (name[0] == '\0' || find_port(number, name, address))
            return 1;
        say_unplaced(name);
    } else if (sysver == SYSVER_WIN9X) {
        say_unplaced(name);
    } else {
        printf("Failed to load parallel port driver! \n");
    }
    if (claim != INVALID_HANDLE_VALUE)
        CloseHandle(claim);
    baseport = 0;
    return 0;
}

int OpenPort(int number, unsigned short address) {
    static const char* const names[] = {"LPT1", "LPT2", "LPT3", ""};
    if (number < 1 || number > 4)
        return 0;
    return open_named(number, names[number - 1], address);
}

int OpenLpt(int number) {
    if (number < 1 || number > 9)
        return 0;
    char name[8];
    snprintf(name, sizeof name, "LPT%d", number);
    return open_named(number, name, LegacyBase(number));
}
