// Ctrl-C and Ctrl-Break noted by the console handler, for the program to act on between frames.
#include "interrupt.h"

#include "system.h"

static volatile LONG interrupted = 0;

// Windows calls this on a thread of its own; the program's thread acts on it between frames.
static BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    interrupted = 1;
    return TRUE;
}

void CatchInterrupts() {
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

int InterruptPending() {
    return interrupted != 0;
}
