// Kernel32's console control: SetConsoleCtrlHandler, and Ctrl-C and Ctrl-Break as the signals
// that stand for them here.
#include "win_internal.h"

#include <csignal>
#include <unistd.h>

using namespace sim;
using namespace sim::detail;
using namespace sim::win;

// One handler, the latest added: the programs add one and never remove it. Windows calls it on a
// thread of its own; here it is called on the program's thread at the next port access, pause or
// file open after the signal.
BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE HandlerRoutine, BOOL Add) {
    if (HandlerRoutine == nullptr) {
        return fail(87); // ERROR_INVALID_PARAMETER: ignoring Ctrl-C is not modelled
    }
    State& s = state();
    if (Add) {
        s.console_handler = HandlerRoutine;
    } else if (s.console_handler == HandlerRoutine) {
        s.console_handler = nullptr;
    }
    return TRUE;
}

namespace sim::detail {

bool hand_to_console_handler(int signal) {
    // A closed terminal (SIGHUP) is a closed console: Windows ends the process whatever its
    // handler answers, so it powers the PC down as for a program without one.
    if (g_hot.state == nullptr || g_hot.state->console_handler == nullptr ||
        (signal != SIGINT && signal != SIGTERM)) {
        return false;
    }
    const DWORD event = signal == SIGINT ? CTRL_C_EVENT : CTRL_BREAK_EVENT;
    if (!g_hot.state->console_handler(event)) {
        return false;
    }
    g_signal = 0; // taken: the next key press is an event of its own
    return true;
}

} // namespace sim::detail

// The simulated PC's console is the terminal lptspi-sim runs in: standard output is a console
// when it is that terminal, not when it goes to a file or a pipe.
static int console_marker = 0;

HANDLE WINAPI GetStdHandle(DWORD nStdHandle) {
    return nStdHandle == STD_OUTPUT_HANDLE ? static_cast<HANDLE>(&console_marker)
                                           : INVALID_HANDLE_VALUE;
}

BOOL WINAPI GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode) {
    if (hConsoleHandle != static_cast<HANDLE>(&console_marker) || !isatty(STDOUT_FILENO)) {
        return fail(6); // ERROR_INVALID_HANDLE: not a console
    }
    *lpMode = 0x0003; // ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT
    return TRUE;
}
