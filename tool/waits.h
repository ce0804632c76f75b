// What the programs say when a wait for the flash (flash/wait.h) ends the run.
#pragma once

#include "../flash/wait.h"

// Says on a line of its own why a wait after `what` ended the run (WAIT_BUSY or WAIT_SILENT), the
// flash's last `status` (-1: the wait watched its busy line, not its status).
void say_wait_failed(int outcome, int status, const char* what, double limit);
