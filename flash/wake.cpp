// Waking a chip from deep power-down: the release, and the wait before it answers again.
#include "wake.h"

#include "chips.h"
#include "commands.h"
#include "identify.h"
#include "../port/clock.h"
#include "../port/registers.h"
#include "../port/system.h"

// Waits `us` microseconds on the clock, reading the port's data register meanwhile (what was
// last written: the flash's lines are left as they are): a pause far shorter than the system's
// sleeps.
static void pause_us(FlashSession* s, int us) {
    const double until = seconds_now() + us / 1e6;
    while (seconds_now() < until)
        Inp32(s->data);
}

void flash_wake(FlashSession* s) {
    mc_release(s);
    if (!session_stopped(s))
        pause_us(s, longest_release_us());
}

int session_begin_awake(FlashSession* s) {
    session_idle(s);
    _sleep(100);
    flash_wake(s);
    return mc_read_status(s);
}

int wake_if_silent(FlashSession* s) {
    unsigned char id[3];
    mc_read_id(s, id);
    if (chip_answers(id) || session_stopped(s))
        return 0;
    flash_wake(s);
    return 1;
}
