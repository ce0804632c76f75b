// The words the programs share about which chip answers: a chip of the older generation, and a
// parameter table that contradicts the row of its identification.
#pragma once

#include "../flash/session.h"

// What the older identification read on the session, one clause: "it answers only the older
// identification (0x90: bf 44, SST25VF040)".
void say_older(const FlashSession* s, char* text, int size);

// What the session's chip's parameter table says against the row of its identification, one
// clause: "its table gives 2048 KiB, the row 1024 KiB".
void table_contradiction(char* text, int size, const FlashSession* s);
