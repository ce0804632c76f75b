// lptspi-check: what a technician runs when lptspi fails. One run looks at the platform, the
// claim on LPT1 (or the port --port names; when it cannot be claimed, every parallel port there
// is), the driver, the port's registers, the data-in line, the flash and its status,
// how reliably it reads, and how fast this PC reaches the port; each finding one line with what
// to do about it. The flash's contents are left alone. With --fast the verdict is on lptspi --fast
// instead: whether it can write the chip as it is.
#pragma once

// Exit statuses of a check.
enum {
    CHECK_READY = 0,          // everything lptspi needs was found (--fast: lptspi --fast can write)
    CHECK_PORT_OR_DRIVER = 1, // no port, or no driver: the flash was not looked at
    CHECK_FLASH_OR_WIRING = 2, // no chip answering, unreliable reads, a busy or protected flash
    CHECK_INTERRUPTED = 130    // Ctrl-C: the lines left idle
};

struct CheckOptions {
    int pins;      // hold each output line at its working level in turn, for a meter or an LED
    int unprotect; // clear the flash's block protection (write enable, write status 0x00)
    int fast;      // judge the board against lptspi --fast rather than lptspi's own run
    int port;      // n of the port LPTn to check, 1 to 9; 0: LPT1
    const char* port_env; // LPTSPI_PORT's value when set, else NULL
    int port_option;      // whether --port named the port (over LPTSPI_PORT)
};

// Runs every check on the port (and the options asked for). Returns the exit status.
int check_all(const CheckOptions* options);
