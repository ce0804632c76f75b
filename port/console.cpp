// Whether standard output is a console, asked of the system.
#include "console.h"

#include "system.h"

int OutputIsConsole() {
    DWORD mode = 0;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    return out != INVALID_HANDLE_VALUE && out != NULL && GetConsoleMode(out, &mode) ? 1 : 0;
}
