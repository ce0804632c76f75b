// 25-series SPI NOR flash commands (24-bit addresses, 256-byte pages), one frame each between
// begin() and end(). None waits for the flash to finish: callers poll the status register.
#pragma once

int mc_read_status(); // the status register, 0 to 255; 0x00 means idle
void mc_erase_bulk(); // write enable, 100 ms, bulk erase
// Write enable, 100 ms, page program of `len` bytes at the low 24 bits of `address`.
void mc_program(int address, const unsigned char* data, int len);
void mc_read(int address, unsigned char* buf, int len); // fast read
// JEDEC identification: manufacturer, memory type and capacity, the base-2 logarithm of the size
// in bytes on 25-series chips. A missing flash answers all 0xFF or all 0x00.
void mc_read_id(unsigned char* id);
