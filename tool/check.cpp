// lptspi-check: every finding in its order, and the verdict they add up to.
#include "check.h"

#include "board.h"
#include "check_parts.h"
#include "sequence.h"
#include "../flash/commands.h"

#include <stdio.h>

static int port_problem() {
    printf("lines, flash: not checked without the port and its driver\n");
    printf("result: the port or its driver is not ready (see above)\n");
    return CHECK_PORT_OR_DRIVER;
}

// The verdict on lptspi's own run.
static int verdict(const CheckFindings* f) {
    if (!f->wiring && !f->status && !f->locks && !f->family) {
        printf("result: everything lptspi needs was found\n");
        return CHECK_READY;
    }
    if (!f->wiring && !f->status && !f->locks) {
        printf("result: lptspi cannot program this flash (see above)\n");
        return CHECK_FLASH_OR_WIRING;
    }
    printf("result: the flash or its wiring needs attention (see above)\n");
    return CHECK_FLASH_OR_WIRING;
}

// The verdict on lptspi --fast, from what stops it before it erases or while it writes: no chip
// answering or reads that differ, a busy flash, an identification that gives no size, and a
// protection the write-protect pin holds. (It clears protection, erases sector by sector where
// there is no bulk erase and programs words where the family takes those.)
static int fast_verdict(const CheckFindings* f) {
    const int kind = f->older ? CHIP_OLDER : f->no_size ? CHIP_NO_SIZE : CHIP_KNOWN;
    const int refusal = fast_refusal(kind, f->busy ? STATUS_BUSY : 0, f->pin_lock, f->table);
    const char* why =
        f->wiring                 ? "the flash or its wiring needs attention"
        : refusal == FAST_BUSY    ? "the flash is busy"
        : refusal == FAST_OLDER   ? "it does not support a chip of the older generation"
        : refusal == FAST_NO_SIZE ? "it takes no chip whose size it does not know"
        : refusal == FAST_TABLE   ? "the chip's own parameter table contradicts its identification"
        : refusal == FAST_LOCKED_DOWN ? "the status registers are locked down with protection on"
        : refusal == FAST_PIN_LOCK    ? "the write-protect pin holds the protection"
                                      : NULL;
    if (why != NULL) {
        printf("result: lptspi --fast cannot write this flash as it is: %s (see above)\n", why);
        return CHECK_FLASH_OR_WIRING;
    }
    if (refusal == FAST_PIN_UNKNOWN) {
        printf("result: lptspi --fast writes this flash only if the write-protect pin is held "
               "high (see above): lptspi-check --fast --unprotect finds out\n");
        return CHECK_FLASH_OR_WIRING;
    }
    printf("result: lptspi --fast can write this flash as it is\n");
    return CHECK_READY;
}

int check_all(const CheckOptions* options) {
    CheckFindings found = {};
    found.located = -1;

    PlatformFacts platform;
    ReadPlatform(&platform);
    if (!say_platform(&platform))
        return port_problem();
    found.lpt_number = options->port != 0 ? options->port : 1;
    snprintf(found.lpt, sizeof found.lpt, "LPT%d", found.lpt_number);
    if (options->port_env != NULL)
        printf("port: LPTSPI_PORT=%s is set%s\n", options->port_env,
               options->port_option ? ", and --port overrides it" : ": the programs use that port");
    if (!check_claim(&found, platform.family) || !check_driver(&platform) ||
        !check_registers(&found, platform.family))
        return port_problem();

    FlashSession s;
    session_open(&s, LINK_FAST);
    check_flash(&s, options, &found);
    if (!session_stopped(&s))
        measure_speed(&s);
    if (!session_stopped(&s) && options->pins)
        hold_pins(&s);
    if (session_stopped(&s)) {
        session_idle(&s);
        return CHECK_INTERRUPTED;
    }
    release_flash(&s);
    return options->fast ? fast_verdict(&found) : verdict(&found);
}
