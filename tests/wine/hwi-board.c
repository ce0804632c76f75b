/* hwi-board.c: the requests only hwinterface-sim.sys answers (sim/driver/sim_requests.h), which
 * choose a board's chip, put it on the cable or take it away, and select the port's board; the
 * "requests" verb's check of their refusals. */
#include "hwi-check.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The simulated driver's own requests: a choice it takes (the chip it had, erased), and those it
 * refuses. */
void check_board_requests(HANDLE device) {
    unsigned char in[HWI_SIM_CHOOSE_IN];
    DWORD returned, error;
    memset(in, 0, sizeof in);
    memcpy(in, "m25p80", 6);
    put_le32(in + 20, HWI_SIM_LOAD_PROGRAM_US); /* the chip as the driver loaded it */
    put_le32(in + 24, HWI_SIM_LOAD_ERASE_US);
    error = request(device, HWI_SIM_IOCTL_CHOOSE_CHIP, in, sizeof in, NULL, 0, &returned);
    expect("choose m25p80: error", error, 0);
    error = request(device, HWI_SIM_IOCTL_CHOOSE_CHIP, in, sizeof in - 1, NULL, 0, &returned);
    expect("choose with 27 input bytes: error", error, ERROR_INSUFFICIENT_BUFFER);
    in[16] = HWI_SIM_DEEP_POWER_DOWN;
    error = request(device, HWI_SIM_IOCTL_CHOOSE_CHIP, in, sizeof in, NULL, 0, &returned);
    expect("choose in deep power-down: error", error, ERROR_INVALID_PARAMETER);
    in[16] = 0;
    memcpy(in, "m25p81", 6);
    error = request(device, HWI_SIM_IOCTL_CHOOSE_CHIP, in, sizeof in, NULL, 0, &returned);
    expect("choose m25p81: error", error, ERROR_INVALID_PARAMETER);
    in[0] = 2;
    error = request(device, HWI_SIM_IOCTL_CABLE, in, 1, NULL, 0, &returned);
    expect("cable 2: error", error, ERROR_INVALID_PARAMETER);
    in[0] = 0xBC;
    in[1] = 0x03;
    error = request(device, HWI_SIM_IOCTL_SELECT_BOARD, in, 2, NULL, 0, &returned);
    expect("board 0x3bc: error", error, ERROR_INVALID_PARAMETER);
}

int choose_chip(HANDLE device, char* argv[]) {
    static const char* const corners[] = {"typical", "min", "max"};
    unsigned char in[HWI_SIM_CHOOSE_IN];
    unsigned long i, times[2];
    DWORD returned, error;
    memset(in, 0, sizeof in);
    if (strlen(argv[0]) > HWI_SIM_NAME_MAX)
        return fail("the family's name is too long");
    memcpy(in, argv[0], strlen(argv[0]));
    if (strcmp(argv[1], "-") != 0) {
        in[16] = HWI_SIM_STATUS_GIVEN;
        in[17] = (unsigned char)strtoul(argv[1], NULL, 0);
    }
    for (i = 0; i < 3 && strcmp(argv[2], corners[i]) != 0; i++)
        ;
    in[18] = (unsigned char)i; /* 3 for a corner it does not know: refused */
    for (i = 0; i < 2; i++) {
        times[i] =
            strcmp(argv[3 + i], "-") == 0 ? HWI_SIM_FAMILY_TIME : strtoul(argv[3 + i], NULL, 0);
        put_le32(in + 20 + 4 * i, times[i]);
    }
    error = request(device, HWI_SIM_IOCTL_CHOOSE_CHIP, in, sizeof in, NULL, 0, &returned);
    if (error != 0) {
        SetLastError(error);
        return fail("the driver refused the chip");
    }
    return 0;
}

int board_request(HANDLE device, DWORD code, unsigned long value, DWORD size, const char* what) {
    unsigned char in[2] = {(unsigned char)value, (unsigned char)(value >> 8)};
    DWORD returned, error = request(device, code, in, size, NULL, 0, &returned);
    if (error != 0) {
        SetLastError(error);
        return fail(what);
    }
    return 0;
}
