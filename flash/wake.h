// A chip a board's processor left in deep power-down (0xB9), which answers nothing but its
// release: woken before it is identified, by every program but lptspi's own run.
#pragma once

#include "session.h"

// Sends release from deep power-down (0xAB, alone) and waits the table's longest release time
// (tRES1) before anything else reaches the chip. On a chip that is awake it changes nothing.
void flash_wake(FlashSession* s);

// A board's session begins as session_begin's does (the lines idle, a pause of 100 ms), the chip
// woken, and its status read.
int session_begin_awake(FlashSession* s);

// Reads the identification once; when no chip answers it, sends the release and waits, and
// returns 1: whether the chip then answers tells that it was asleep. Returns 0 when a chip
// answered at once.
int wake_if_silent(FlashSession* s);
