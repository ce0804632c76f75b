// lptspi-check --pins: each output line held at its working level in turn, for a meter or an LED.
#include "check_parts.h"

#include "../driver/adapter.h"
#include "../port/system.h"

#include <stdio.h>

enum { PIN_SECONDS = 3 };

int hold_pins(FlashSession* s) {
    static const struct {
        int lines;
        const char* what;
    } steps[] = {{ADAPTER_IDLE, "pin 2 (the always-high line) high"},
                 {ADAPTER_IDLE | ADAPTER_MOSI, "pin 3 (data to the flash) high"},
                 {ADAPTER_SELECTED, "pin 4 (chip select) low: the flash selected"},
                 {ADAPTER_IDLE | ADAPTER_SCK, "pin 5 (clock) high"}};
    printf("pins: each output line at its working level for %d s, the others idle: measure "
           "against pins 18-25 (ground)\n",
           PIN_SECONDS);
    for (unsigned i = 0; i < sizeof steps / sizeof steps[0]; i++) {
        printf("pins: %s\n", steps[i].what);
        // The clock moves only with the flash released, so the flash sees no command.
        session_hold(s, steps[i].lines);
        for (int second = 0; second < PIN_SECONDS; second++) {
            _sleep(1000);
            if (session_note_stop(s))
                return 0;
        }
    }
    session_idle(s);
    printf("pins: all lines idle again (pins 2 and 4 high, 3 and 5 low)\n");
    return 1;
}
