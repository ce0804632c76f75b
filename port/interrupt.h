// Ctrl-C and Ctrl-Break. A program is never stopped in the middle of a frame: the key is noted,
// and when the next frame would begin the lines are left idle, a file being made is removed, the
// program's note is printed and the process ends with EXIT_INTERRUPTED.
#pragma once

#include <stdio.h>

enum { EXIT_INTERRUPTED = 130 }; // as a shell reports a program ended by Ctrl-C

// Takes Ctrl-C and Ctrl-Break from now on; `note` (a whole line, or empty) is printed when one
// stops the program.
void CatchInterrupts(const char* note);

// The file being made: closed and removed if the program is stopped. NULL: none (any more).
void InterruptRemoves(FILE* file, const char* path);

// A function of the program's that CheckInterrupt calls before the process ends, once the lines
// are idle and the note is printed: it may say more, and end the process with a status of its
// own. NULL: none.
void InterruptCalls(void (*on_stop)());

// Ends the program here if Ctrl-C or Ctrl-Break was pressed; returns otherwise.
void CheckInterrupt();

// Whether Ctrl-C or Ctrl-Break was pressed: the program stops at its next CheckInterrupt.
int InterruptPending();
