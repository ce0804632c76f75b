// SPI mode 0 over the session's port: its data register (baseport, 0x378 on the motherboard's
// LPT1) and its status register (baseport + 1), through the flash adapter wired as
// driver/adapter.h says.
#pragma once

#include "session.h"

void begin(FlashSession* s); // select the flash, clock and data low
void end(FlashSession* s);   // release the flash, clock and data low: the idle line value

// Shifts the low `count` (0 to 32) bits of `value` out, most significant first, and returns the
// `count` bits read in meanwhile, the first one read the most significant.
int push(FlashSession* s, unsigned int value, int count);

void swrite(FlashSession* s, const unsigned char* data, int len);
void sread(FlashSession* s, unsigned char* buf, int len); // sends zeros

// One whole frame: select, `n_out` bytes of `out` sent, `n_in` bytes received into `in` (data-out
// low meanwhile), release. On the plain link exactly begin, swrite, sread, end. Ctrl-C is noted
// here, before a frame begins: from then on frames are not sent (what they would have received
// reads 0xff) unless the session is closing.
void frame(FlashSession* s, const unsigned char* out, int n_out, unsigned char* in, int n_in);
