// Byte access to I/O ports on either Windows family, and the parallel port's register helpers.
#pragma once

#include "system.h"

// Platform family found when the port is opened.
enum {
    SYSVER_UNKNOWN = 0, // no port access at all
    SYSVER_WIN9X = 1,   // the process may use port instructions directly
    SYSVER_NT = 2       // every access is a request to the hwinterface driver
};

// Requests to the hwinterface driver: CTL_CODE(0x9C40, 0x801 / 0x802, METHOD_BUFFERED,
// FILE_ANY_ACCESS). Read: in = port low, port high; out = the byte. Write: in = low, high, value.
enum : DWORD { IOCTL_READ_PORT = 0x9C402004u, IOCTL_WRITE_PORT = 0x9C402008u };

extern unsigned short baseport; // base of the claimed port; 0 makes the helpers do nothing
extern int sysver;
extern HANDLE hdriver;

int Inp32(unsigned short port);
void Out32(unsigned short port, int value); // the low 8 bits of value

int prStatus();
void pwControl(int value);
int prECP();
void pwECP(int value);

// Switches an ECP port to bidirectional byte mode and clears the control register. Returns the
// status register.
int InitPort();
