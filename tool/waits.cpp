// What the programs say when a wait for the flash ends the run.
#include "waits.h"

#include "progress.h"

#include <stdio.h>

void say_wait_failed(int outcome, int status, const char* what, double limit) {
    progress_newline();
    if (outcome == WAIT_SILENT) {
        printf("!!! the flash stopped answering after %s: its status reads 0xff, the data-in "
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
    char shown[32];
    if (status >= 0)
        snprintf(shown, sizeof shown, "status 0x%02x", status);
    else
        snprintf(shown, sizeof shown, "its busy line low");
    printf("!!! the flash stayed busy (%s) for %s after %s, twice the longest its datasheet "
           "gives: check the chip's power supply, switch the board off and on and run again \n",
           shown, time, what);
}
