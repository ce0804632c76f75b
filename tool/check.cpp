// lptspi-check: every finding in its order, and the verdict they add up to.
#include "check.h"

#include "check_parts.h"
#include "sequence.h"
#include "../flash/link.h"

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

int check_all(const CheckOptions* options) {
    CheckFindings found = {};
    found.located = -1;
    linkfast = 1;

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

    check_flash(options, &found);
    measure_speed();
    if (options->pins)
        hold_pins();
    release_flash();
    return verdict(&found);
}
