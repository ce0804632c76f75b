// Waiting on the fast link for the flash's erases, programs and status writes to finish.
#include "wait.h"

#include "commands.h"
#include "link.h"
#include "outcome.h"
#include "../driver/adapter.h"
#include "../port/clock.h"
#include "../port/registers.h"

int wait_ready(FlashSession* s, double limit, int readings, int* status) {
    unsigned char statuses[STATUS_READINGS];
    if (readings > STATUS_READINGS)
        readings = STATUS_READINGS;
    if (readings < 2)
        readings = 2;
    const double start = seconds_now();
    for (;;) {
        // The time before the readings: a flash busy in them was busy that long.
        const double now = seconds_now();
        mc_read_statuses(s, statuses, readings);
        if (s->stopped && !s->closing)
            return WAIT_STOPPED;
        *status = statuses[readings - 1];
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

int wait_busy_line(FlashSession* s, double limit) {
    // Between frames: where the program may stop.
    if (session_note_stop(s) && !s->closing)
        return WAIT_STOPPED;
    const double start = seconds_now();
    int ready = 0;
    begin(s);
    while (ready < 2) {
        const double now = seconds_now();
        const int line = (Inp32(s->status) & ADAPTER_MISO) != 0;
        ready = line ? ready + 1 : 0;
        if (!line && now - start > limit) {
            end(s);
            return WAIT_BUSY;
        }
    }
    end(s);
    return WAIT_READY;
}

int wait_outcome(int wait) {
    return wait == WAIT_BUSY      ? OUTCOME_BUSY
           : wait == WAIT_SILENT  ? OUTCOME_SILENT
           : wait == WAIT_STOPPED ? OUTCOME_INTERRUPTED
                                  : OUTCOME_DONE;
}

double status_write_limit(const FlashChip* chip) {
    // A status write the datasheet gives no time for is done as its frame ends; a millisecond
    // still lets a slower second source finish.
    int longest = status_write_max_ms(chip);
    return 2 * (longest > 1 ? longest : 1) / 1000.0;
}

int wait_status_write(FlashSession* s, int* status) {
    return wait_ready(s, status_write_limit(&s->chip), STATUS_READINGS, status);
}
