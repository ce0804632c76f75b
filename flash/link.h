// SPI mode 0 over the parallel port's data and status registers, one line change per port access.
//
// Adapter wiring: data register (0x378) bit 0 always high, bit 1 data out to the flash (MOSI),
// bit 2 chip select (active low), bit 3 clock; status register (0x379) bit 6 data in (MISO).
#pragma once

void begin(); // select the flash, clock and data low
void end();   // release the flash, clock and data low: the idle line value

// Shifts the low `count` (0 to 32) bits of `value` out, most significant first, and returns the
// `count` bits read in meanwhile, the first one read the most significant.
int push(unsigned int value, int count);

void swrite(const unsigned char* data, int len);
void sread(unsigned char* buf, int len); // sends zeros
