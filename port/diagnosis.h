// What lptspi-check asks of the system to tell a technician why lptspi cannot work: the platform,
// the claim on LPTn, the driver's state and the reasons it does not start. On success the port
// variables are set as OpenPort sets them.
#pragma once

// The platform: its family (sysver's values), version, whether it is 64-bit Windows, and the two
// boot settings that decide whether 64-bit Windows loads a test-signed driver.
struct PlatformFacts {
    int family;
    unsigned long major, minor, build;
    int windows64;   // 1: 64-bit Windows (a 32-bit program runs under WOW64)
    int testsigning; // 1 on, 0 off, -1 unknown (no such boot setting)
    int secureboot;  // 1 on, 0 off, -1 unknown (no such setting: no UEFI Secure Boot)
};
void ReadPlatform(PlatformFacts* facts);

// The claim on LPT<number> (1 to 9) as lptspi makes it, kept until the process ends.
enum { LPT_FREE = 0, LPT_HELD = 1, LPT_ABSENT = 2, LPT_REFUSED = 3 };
int ClaimLpt(int number, unsigned long* error);

// Every parallel port the PC may have, LPT1 to LPT9: whether it could be claimed (claimed and let
// go at once), and where the driver says it is, when its device is open or opens without
// starting anything (`located` HWI_PORT_* flags as LocatePort returns them, -1 when it cannot
// tell or the port is absent). Sets sysver to `family`.
enum { SURVEYED_LPTS = 9 };
struct LptFacts {
    int claim; // LPT_*
    unsigned long error;
    int located;
    unsigned short base, ecp;
};
void SurveyLpts(int family, LptFacts facts[SURVEYED_LPTS]);

// The hwinterface driver brought up as lptspi brings it up (started, registered first if need
// be), with the step that failed and the system's error code when it does not come up.
enum {
    DRIVER_RUNNING = 0,    // its device opened at once
    DRIVER_STARTED = 1,    // the service was stopped and is started now
    DRIVER_REGISTERED = 2, // the service was registered and started now
    DRIVER_FAILED = 3
};
enum {
    STEP_NONE = 0,
    STEP_MANAGER = 1,  // the service manager did not open
    STEP_SERVICE = 2,  // the service did not open
    STEP_REGISTER = 3, // the service is not registered and could not be
    STEP_START = 4,    // the service did not start
    STEP_DEVICE = 5    // the service runs but its device does not open
};
struct DriverFacts {
    int state;
    int step;
    unsigned long error;
    int file_present; // hwinterface.sys is in the system's Drivers folder
    char file[260];   // where it belongs
};
void BringUpDriver(DriverFacts* facts);

// Sets the port variables as OpenLpt does once LPT<number> is claimed (and on the NT family the
// driver is open): sysver to `family`, baseport and ecpport to where the driver says the port is,
// else its usual place (LegacyBase) and 0x400 above (baseport 0 for LPT4 to LPT9). Returns the
// driver's HWI_PORT_* flags with `*base` and `*ecp` as it answered, or -1 when it cannot tell
// (the 95/98/Me family, an older driver, a port it does not know).
int UseLpt(int number, int family, unsigned short* base, unsigned short* ecp);

// Whether the claimed port's data register keeps what is written to it, as a parallel port's
// does (where nothing answers, the bus reads 0xFF): writes the adapter's idle lines with data-out
// high, then the idle lines, reading each back; `*held` the first read. Both values leave the
// flash released.
int DataRegisterHolds(int* held);

// One read of `port` through the driver: 0 with `*value` set, or the system's error code (access
// denied: the driver does not serve that port).
unsigned long ProbePort(unsigned short port, int* value);
