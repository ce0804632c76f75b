// Waiting on the fast link for the flash's erases, programs and status writes to finish.
#include "waits.h"

#include "../flash/commands.h"
#include "../port/clock.h"

#include <stdio.h>

int wait_ready(double limit, int readings, int show, int* status) {
    unsigned char statuses[STATUS_READINGS];
    if (readings > STATUS_READINGS)
        readings = STATUS_READINGS;
    if (readings < 2)
        readings = 2;
    const double start = seconds_now();
    int shown = -1;
    unsigned long shown_at = 0;
    for (;;) {
        // The time before the readings: a flash busy in them was busy that long.
        const double now = seconds_now();
        mc_read_statuses(statuses, readings);
        *status = statuses[readings - 1];
        if (show && (*status != shown || ticks_ms() - shown_at >= 100)) {
            printf("\rstatus = %02x ", *status);
            shown = *status;
            shown_at = ticks_ms();
        }
        int silent = 1;
        for (int i = 0; i < readings; i++)
            silent = silent && statuses[i] == 0xFF;
        if (silent)
            return WAIT_SILENT;
        if ((statuses[readings - 2] & STATUS_BUSY) == 0 && (*status & STATUS_BUSY) == 0)
            return WAIT_READY;
        // A flash that has just finished is read once more rather than given up on.
        if ((*status & STATUS_BUSY) != 0 && now - start > limit)
            return WAIT_BUSY;
    }
}

void say_wait_failed(int outcome, int status, const char* what, double limit) {
    if (outcome == WAIT_SILENT) {
        printf("\n!!! the flash stopped answering after %s: its status reads 0xff, the data-in "
               "line stays high: check the chip's power and the cable \n",
               what);
        return;
    }
    char time[32];
    if (limit >= 1)
        snprintf(time, sizeof time, "%.0f s", limit);
    else if (limit >= 1e-3)
        snprintf(time, sizeof time, "%.0f ms", limit * 1e3);
    else
        snprintf(time, sizeof time, "%.0f us", limit * 1e6);
    printf("\n!!! the flash stayed busy (status 0x%02x) for %s after %s, twice the longest its "
           "datasheet gives: check the chip's power supply, switch the board off and on and run "
           "again \n",
           status, time, what);
}

double status_write_limit(const FlashChip* chip) {
    // A status write the datasheet gives no time for is done as its frame ends; a millisecond
    // still lets a slower second source finish.
    int longest = status_write_max_ms(chip);
    return 2 * (longest > 1 ? longest : 1) / 1000.0;
}

int wait_status_write(const FlashChip* chip, int* status) {
    return wait_ready(status_write_limit(chip), STATUS_READINGS, 0, status);
}
