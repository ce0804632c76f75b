/* What hwi-check.c and hwi-board.c share: a request on \\.\hwinterface, its checks, the
 * failures counted, and the verbs of hwi-board.c. */
#ifndef HWI_CHECK_H
#define HWI_CHECK_H

#include <windows.h>

#include "hwi_dispatch.h"
#include "sim_requests.h"

/* Checks that did not give what they expected, over the whole run. */
extern int failures;

/* Says why the verb failed, with GetLastError(), on standard error; returns 1. */
int fail(const char* what);
/* One request; returns the Win32 error (0 on success) and the bytes returned. */
DWORD request(HANDLE device, DWORD code, const void* in, DWORD in_len, void* out, DWORD out_len,
              DWORD* returned);
/* Prints "ok" or "FAIL" for a check, counting a failure. */
void expect(const char* what, unsigned long got, unsigned long wanted);
/* The chip requests' 4-byte little-endian offset or size. */
void put_le32(unsigned char* out, unsigned long value);

/* The simulated driver's own requests: a choice it takes (the chip it had, erased), and those
 * it refuses. */
void check_board_requests(HANDLE device);
/* "choose FAMILY STATUS CORNER PROGRAM-US ERASE-US": the selected board's chip. */
int choose_chip(HANDLE device, char* argv[]);
/* A request of `size` bytes carrying `value` little-endian (board, cable); 0, or 1 having said
 * `what`. */
int board_request(HANDLE device, DWORD code, unsigned long value, DWORD size, const char* what);

#endif
