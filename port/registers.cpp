// Port reads and writes on either Windows family, whole frames through the driver, LPTn's place.
#include "registers.h"

#include <stdio.h>
#include <string.h>

unsigned short baseport = 0x0378;
unsigned short ecpport = 0x0778;
int sysver = SYSVER_UNKNOWN;
HANDLE hdriver = INVALID_HANDLE_VALUE;
int hframes = -1;

enum { STATUS_OFFSET = 1, CONTROL_OFFSET = 2, ECR_OFFSET = 2 };

int Inp32(unsigned short port) {
    if (sysver == SYSVER_WIN9X)
        return _inp(port) & 0xFF;
    if (sysver != SYSVER_NT)
        return 0;
    // One block serves as both buffers: the driver reads the address from its first two bytes
    // and replies in its first byte. A failed request leaves the address's low byte there; with
    // bit 6 set, data-in reads high on any status register (the flash looks busy, never idle),
    // and 0x378/0x379 read 0x78/0x79 as they always have.
    unsigned char block[3] = {(unsigned char)(port & 0xFF), (unsigned char)(port >> 8), 0};
    DWORD returned = 0;
    if (!DeviceIoControl(hdriver, IOCTL_READ_PORT, block, 2, block, 1, &returned, NULL))
        return block[0] | 0x40;
    return block[0];
}

void Out32(unsigned short port, int value) {
    if (sysver == SYSVER_WIN9X) {
        _outp(port, value & 0xFF);
        return;
    }
    if (sysver != SYSVER_NT)
        return;
    unsigned char block[3] = {(unsigned char)(port & 0xFF), (unsigned char)(port >> 8),
                              (unsigned char)(value & 0xFF)};
    DWORD returned = 0;
    DeviceIoControl(hdriver, IOCTL_WRITE_PORT, block, 3, NULL, 0, &returned, NULL);
}

int Frame32(const unsigned char* out, int n_out, unsigned char* in, int n_in) {
    if (sysver != SYSVER_NT || hframes == 0 || n_out < 0 || n_in < 0 ||
        n_out > (int)HWI_FRAME_MAX || n_in > (int)HWI_FRAME_MAX)
        return 0;
    static unsigned char block[HWI_FRAME_HEADER + HWI_FRAME_MAX];
    block[0] = (unsigned char)(baseport & 0xFF);
    block[1] = (unsigned char)(baseport >> 8);
    block[2] = (unsigned char)(n_in & 0xFF);
    block[3] = (unsigned char)(n_in >> 8);
    if (n_out > 0)
        memcpy(block + HWI_FRAME_HEADER, out, (size_t)n_out);
    DWORD returned = 0;
    if (!DeviceIoControl(hdriver, IOCTL_SPI_FRAME, block, (DWORD)(HWI_FRAME_HEADER + n_out), in,
                         (DWORD)n_in, &returned, NULL)) {
        if (GetLastError() == ERROR_INVALID_FUNCTION)
            hframes = 0;
        return 0;
    }
    hframes = 1;
    return 1;
}

int prStatus() {
    if (baseport == 0)
        return 0;
    return Inp32((unsigned short)(baseport + STATUS_OFFSET));
}

void pwControl(int value) {
    if (baseport != 0)
        Out32((unsigned short)(baseport + CONTROL_OFFSET), value);
}

int prECP() {
    if (baseport == 0 || ecpport == 0)
        return 0;
    return Inp32((unsigned short)(ecpport + ECR_OFFSET));
}

void pwECP(int value) {
    if (baseport != 0 && ecpport != 0)
        Out32((unsigned short)(ecpport + ECR_OFFSET), value);
}

int LocatePort(int number, unsigned short* base, unsigned short* ecp) {
    if (sysver != SYSVER_NT)
        return -1;
    unsigned char n = (unsigned char)number;
    unsigned char answer[HWI_LOCATE_OUT] = {0};
    DWORD returned = 0;
    if (!DeviceIoControl(hdriver, IOCTL_LOCATE_PORT, &n, 1, answer, sizeof answer, &returned,
                         NULL) ||
        returned < sizeof answer)
        return -1;
    *base = (unsigned short)(answer[0] | answer[1] << 8);
    *ecp = (unsigned short)(answer[2] | answer[3] << 8);
    if ((answer[4] & HWI_PORT_HAS_ECP) == 0)
        *ecp = 0;
    return answer[4];
}

int InitPort() {
    // An ECR reads FIFO empty (bit 0) and not full (bit 1); a port without one reads 0xFF. A port
    // whose ECP block is known to be missing has no ECR to look at.
    if ((prECP() & 0x03) == 0x01) {
        pwECP(0x34); // mode 001, error interrupt disabled, service interrupt set, no DMA
        prECP();
        if (prECP() == 0x35) {
            pwECP((prECP() & 0x1F) | 0x20); // byte (bidirectional) mode
            printf("setting ECP port to SPP bidirectional mode  \n");
        }
    }
    pwControl(0x00);
    return prStatus();
}
