// Ctrl-C and Ctrl-Break noted by the console handler, and acted on between frames.
#include "interrupt.h"

#include "registers.h"

#include <stdlib.h>

static volatile LONG interrupted = 0;
static const char* note = "";
static FILE* removing_file = NULL;
static const char* removing_path = NULL;
static void (*stopping_call)() = NULL;

// Windows calls this on a thread of its own; the program's thread acts on it between frames.
static BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    interrupted = 1;
    return TRUE;
}

void CatchInterrupts(const char* text) {
    note = text;
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void InterruptRemoves(FILE* file, const char* path) {
    removing_file = file;
    removing_path = path;
}

void InterruptCalls(void (*on_stop)()) {
    stopping_call = on_stop;
}

int InterruptPending() {
    return interrupted != 0;
}

void CheckInterrupt() {
    static int stopping = 0;
    if (!interrupted || stopping)
        return;
    stopping = 1;
    if (baseport != 0)
        Out32(baseport, IDLE_LINES);
    if (removing_file != NULL)
        fclose(removing_file);
    if (removing_path != NULL)
        remove(removing_path);
    printf("%s", note);
    if (stopping_call != NULL)
        stopping_call();
    fflush(stdout);
    exit(EXIT_INTERRUPTED);
}
