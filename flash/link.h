// SPI mode 0 over the parallel port's data register (baseport, 0x378 on the motherboard's LPT1)
// and status register (baseport + 1), through the flash adapter wired as driver/adapter.h says.
#pragma once

// 0: lptspi's own link, one line change per port access, each access its own driver request:
// four accesses a bit, the data-in line sampled for every bit, sent or received. 1: the fast link
// of frame(): two writes a bit sent, three accesses a bit received, and on the NT family each
// whole frame one driver request where the driver takes it.
extern int linkfast;

void begin(); // select the flash, clock and data low
void end();   // release the flash, clock and data low: the idle line value

// Shifts the low `count` (0 to 32) bits of `value` out, most significant first, and returns the
// `count` bits read in meanwhile, the first one read the most significant.
int push(unsigned int value, int count);

void swrite(const unsigned char* data, int len);
void sread(unsigned char* buf, int len); // sends zeros

// A one-byte command that Ctrl-C sends as a frame of its own before the program stops at a frame
// boundary (0: none): write disable while a word sequence is open, which would otherwise leave
// the chip taking nothing but words.
void stop_sends(unsigned char command);

// One whole frame: select, `n_out` bytes of `out` sent, `n_in` bytes received into `in` (data-out
// low meanwhile), release. With linkfast 0 exactly begin, swrite, sread, end.
void frame(const unsigned char* out, int n_out, unsigned char* in, int n_in);
