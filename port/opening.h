// Claiming the parallel port and bringing up the hwinterface I/O driver on the NT family.
#pragma once

#include "system.h"

// Claims LPT<number> (1 to 3; 4 claims no device) at `address`, finds the platform family and,
// on NT, opens the driver. Returns 1 when the port is usable, 0 otherwise.
int OpenPort(int number, unsigned short address);

// Claims LPT<number> (1 to 9) by that name, as OpenPort claims LPT1 at 0x378: LPT1 to LPT3 at
// their usual places, 0x378, 0x278 and 0x3BC, unless the driver says otherwise; LPT4 to LPT9
// only where the driver says they are (where it cannot, a line says so and the claim is let go).
// Returns 1 when the port is usable, 0 otherwise.
int OpenLpt(int number);

// Opens the port's device `name` ("LPT1") for reads and writes, shared with nobody: the claim that
// keeps other programs off the port while it is open. INVALID_HANDLE_VALUE, the system's error
// in GetLastError, when it cannot be claimed.
HANDLE ClaimDevice(const char* name);

// Where the PCs' firmware puts LPT1 to LPT3: 0x378, 0x278, 0x3BC; 0 for any other number.
unsigned short LegacyBase(int number);

int SystemVersion(); // 0, 1 or 2 as sysver

// On the NT family the driver knows where the system put LPT<number>: a PCI or PCIe card's
// registers lie wherever the system chose. Sets baseport and ecpport there, or, where that is
// `address` or the driver cannot tell (the 95/98/Me family, an older driver), to `address` with
// its ECR probed 0x400 above. Returns the driver's HWI_PORT_* flags with its answer in `*base`
// and `*ecp`, or -1.
int FindPort(int number, unsigned short address, unsigned short* base, unsigned short* ecp);

// The hwinterface driver as lptspi reaches it: its device \\.\hwinterface opened for reads and
// writes (INVALID_HANDLE_VALUE when it does not open); its service opened for starting; the
// service registered as a kernel driver started at boot from System32\Drivers\hwinterface.sys
// (NULL with the system's error when it cannot be); and that file's full path, copied to `out`
// (0 when it does not fit in `size` bytes).
HANDLE OpenDriverDevice();
SC_HANDLE OpenDriverService(SC_HANDLE manager);
SC_HANDLE RegisterDriver(SC_HANDLE manager);
int DriverFilePath(char* out, unsigned size);

// Open the driver's device as hdriver when the driver already runs, starting or registering
// nothing; a new handle has not been asked for frames yet (hframes -1). 0 when hdriver is open.
int OpenRunningDriver();

// Open the driver's device, starting or registering the service first if need be: 0 when
// hdriver is open.
int Opendriver();
int start(); // 0 started; 1 manager or service not opened; 3, 4 start failed (full, read access)
int inst();  // 0 done as far as it could; 5 service manager access denied
