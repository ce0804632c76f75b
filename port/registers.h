// Byte access to I/O ports on either Windows family, and the parallel port's register helpers.
#pragma once

#include "system.h"

#include "../driver/hwi_dispatch.h"

// Platform family found when the port is opened.
enum {
    SYSVER_UNKNOWN = 0, // no port access at all
    SYSVER_WIN9X = 1,   // the process may use port instructions directly
    SYSVER_NT = 2       // every access is a request to the hwinterface driver
};

// Requests to the hwinterface driver (see its hwi_dispatch.h). Read: in = port low, port high;
// out = the byte. Write: in = low, high, value.
enum : DWORD {
    IOCTL_READ_PORT = HWI_IOCTL_READ_PORT,
    IOCTL_WRITE_PORT = HWI_IOCTL_WRITE_PORT,
    IOCTL_LOCATE_PORT = HWI_IOCTL_LOCATE_PORT // in: n; out: base, ECP block, flags
};

extern unsigned short baseport; // base of the claimed port; 0 makes the helpers do nothing
// The claimed port's ECP block, its ECR at +2: 0x400 above baseport on a motherboard port,
// wherever the system put it on a card, 0 when the port has none.
extern unsigned short ecpport;
extern int sysver;
extern HANDLE hdriver;

int Inp32(unsigned short port);
void Out32(unsigned short port, int value); // the low 8 bits of value

// Asks the driver where the system put LPT<number>. Returns HWI_PORT_* flags with `*base` and
// `*ecp` (0 without an ECP block) set, or -1 when the driver cannot tell (not the NT family, an
// older driver that does not know the request, or no such port).
int LocatePort(int number, unsigned short* base, unsigned short* ecp);

int prStatus();
void pwControl(int value);
int prECP();
void pwECP(int value);

// Switches an ECP port to bidirectional byte mode and clears the control register. Returns the
// status register.
int InitPort();
