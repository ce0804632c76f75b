// lptspi-check --pins: each output line held at its working level in turn, for a meter or an LED.
#include "check_parts.h"

#include "../port/interrupt.h"
#include "../port/registers.h"
#include "../port/system.h"

#include <stdio.h>

enum { PIN_SECONDS = 3 };

void hold_pins() {
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
        Out32(baseport, steps[i].lines);
        for (int s = 0; s < PIN_SECONDS; s++) {
            _sleep(1000);
            CheckInterrupt();
        }
    }
    Out32(baseport, IDLE_LINES);
    printf("pins: all lines idle again (pins 2 and 4 high, 3 and 5 low)\n");
}
