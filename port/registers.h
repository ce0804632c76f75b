// Byte access to I/O ports on either Windows family, and the parallel port's register helpers.
#pragma once

#include "system.h"

#include "../driver/adapter.h"
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
    IOCTL_LOCATE_PORT = HWI_IOCTL_LOCATE_PORT, // in: n; out: base, ECP block, flags
    IOCTL_SPI_FRAME = HWI_IOCTL_SPI_FRAME      // in: base, bytes to receive, bytes to send
};

// The flash released, clock and data-out low: the lines between frames and whenever a program
// leaves the port (the adapter's ADAPTER_IDLE).
enum { IDLE_LINES = ADAPTER_IDLE };

extern unsigned short baseport; // base of the claimed port; 0 makes the helpers do nothing
// The claimed port's ECP block, its ECR at +2: 0x400 above baseport on a motherboard port,
// wherever the system put it on a card, 0 when the port has none.
extern unsigned short ecpport;
extern int sysver;
extern HANDLE hdriver;
// Whether the driver on hdriver takes whole frames: -1 not known yet, 0 it does not (an older
// driver), 1 it does. Set back to -1 whenever hdriver is opened.
extern int hframes;

int Inp32(unsigned short port);
void Out32(unsigned short port, int value); // the low 8 bits of value

// Asks the driver where the system put LPT<number>. Returns HWI_PORT_* flags with `*base` and
// `*ecp` (0 without an ECP block) set, or -1 when the driver cannot tell (not the NT family, an
// older driver that does not know the request, or no such port).
int LocatePort(int number, unsigned short* base, unsigned short* ecp);

// One whole SPI frame on the claimed port done by the driver in one request: select, `n_out`
// bytes of `out` sent, `n_in` bytes received into `in`, release. Returns 1 when the driver did it;
// 0 when the frame is for the caller to make access by access: not the NT family, a frame longer
// than the driver takes, a failed request, or a driver that does not know the request (an older
// one: it is not asked again).
int Frame32(const unsigned char* out, int n_out, unsigned char* in, int n_in);

int prStatus();
void pwControl(int value);
int prECP();
void pwECP(int value);

// Switches an ECP port to bidirectional byte mode and clears the control register. Returns the
// status register.
int InitPort();
