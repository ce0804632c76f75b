// Ctrl-C and Ctrl-Break. A program is never stopped in the middle of a frame: the key is noted
// here, the flash session notes it at its next frame boundary, the procedure under way finishes
// what the chip needs and returns, and main ends the process with EXIT_INTERRUPTED.
#pragma once

enum { EXIT_INTERRUPTED = 130 }; // as a shell reports a program ended by Ctrl-C

// Takes Ctrl-C and Ctrl-Break from now on.
void CatchInterrupts();

// Whether Ctrl-C or Ctrl-Break was pressed.
int InterruptPending();
