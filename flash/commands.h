// 25-series SPI NOR flash commands (24-bit addresses, 256-byte pages), each one frame() of the
// session's link (link.h: access by access, or a whole frame in one driver request), preceded
// where it needs one by the frame of a write enable or an enable-write-status. None waits for the
// flash to finish: callers poll the status register.
#pragma once

#include "session.h"

// The status register, 0 to 255. An idle chip need not read 0x00: bits beyond STATUS_BUSY and
// STATUS_LATCH are the family's (chips.h, StatusBits), and the AT25DF's WPP reads 1 while the
// write-protect pin is high, as the adapter holds it.
int mc_read_status(FlashSession* s);

// The status register bits every family shares: busy with a program, an erase or a status write,
// and the write-enable latch.
enum { STATUS_BUSY = 0x01, STATUS_LATCH = 0x02 };

// The status register `n` times over in one frame, as the flash repeats it for as long as it is
// clocked: each byte a fresh reading, the last the latest.
void mc_read_statuses(FlashSession* s, unsigned char* statuses, int n);
void mc_erase_bulk(FlashSession* s); // write enable, 100 ms (none with the fast link), bulk erase
// Write enable, 100 ms (none with the fast link), page program of `len` bytes (at most a page)
// at the low 24 bits of `address`.
void mc_program(FlashSession* s, int address, const unsigned char* data, int len);
void mc_read(FlashSession* s, int address, unsigned char* buf, int len); // fast read
// Write enable, 100 ms (none with the fast link), then the erase command `code` with the low 24
// bits of `address`: a 64 KiB sector erase (0xD8) or a page erase (0xDB) of what holds it.
void mc_erase_at(FlashSession* s, unsigned char code, int address);
// Auto-address-increment word programming, on chips whose 0x02 programs one byte: write enable
// (no pause), then 0xAD with the even `address` and two bytes; each later word is 0xAD with its
// two bytes alone, written at the next two addresses. Write disable ends the sequence. The
// chip is busy after each word and takes only read status meanwhile. From the first word until
// write disable, write disable is what a stop sends first (the session's stop_first).
void mc_words_start(FlashSession* s, int address, const unsigned char* word);
void mc_words_next(FlashSession* s, const unsigned char* word);
// Write enable, 100 ms (none with the fast link), write status register with `value`: clears
// block protection with 0x00, unless the register is locked.
void mc_write_status(FlashSession* s, int value);
// Enable-write-status (0x50), then write status register with `value`, in two frames with no
// pause: the status write of chips that take no write enable for it.
void mc_write_status_ewsr(FlashSession* s, int value);
// Write enable, 100 ms (none with the fast link), global block-protection unlock (0x98): clears
// every bit of a block-protection register.
void mc_global_unlock(FlashSession* s);
// The block-protection register (0x72), `len` bytes, most significant first.
void mc_read_protection(FlashSession* s, unsigned char* bits, int len);
// Write enable, then write the block-protection register (0x42) with `len` bytes, most
// significant first.
void mc_write_protection(FlashSession* s, const unsigned char* bits, int len);
// Whether the sector that holds `address` is protected (read sector protection, 0x3C: 0xFF
// protected, 0x00 not).
int mc_sector_protected(FlashSession* s, int address);
// Write enable, then protect the sector that holds `address` (0x36).
void mc_protect_sector(FlashSession* s, int address);
// Status register 2 (0x35), on families that have one.
int mc_read_status2(FlashSession* s);
// The status write that writes both status registers together: `enable` (0x06 write enable, with
// its pause on lptspi's link, or 0x50 enable-write-status), then write status with `value` and,
// where `value2` is not -1, `value2` as its second byte.
void mc_write_statuses(FlashSession* s, int enable, int value, int value2);
// Release from deep power-down (0xAB) alone, ended by chip select: wakes a chip a board's
// processor put into deep power-down; on chips without it, a read of the identification that
// chip select ends, which changes nothing.
void mc_release(FlashSession* s);
// The older identification (0x90 with three address bytes 0): maker and device.
void mc_read_maker_device(FlashSession* s, unsigned char* two);
// The electronic signature (0xAB with three dummy bytes): one byte.
int mc_read_signature(FlashSession* s);
// `len` bytes of the parameter table (SFDP, 0x5A) from `address`, after its dummy byte.
void mc_read_sfdp(FlashSession* s, int address, unsigned char* buf, int len);
// The SST25's busy line: 0x70 (EBSY) makes data-out show RY/BY# while the chip is selected during
// a word sequence; 0x80 (DBSY) ends that.
void mc_busy_line(FlashSession* s, int on);
// Write disable: clears the write-enable latch, so no program or erase is taken.
void mc_write_disable(FlashSession* s);
// JEDEC identification: manufacturer, memory type and capacity, the base-2 logarithm of the size
// in bytes on 25-series chips. A missing flash answers all 0xFF or all 0x00.
void mc_read_id(FlashSession* s, unsigned char* id);
// The identification read twice, into `id` and `again`: 1 when both reads agree. One flipped bit
// in the capacity byte would make every later step take the wrong size.
int mc_read_id_twice(FlashSession* s, unsigned char* id, unsigned char* again);
// The size in bytes that an identification's capacity code gives, 4 KiB to 16 MiB; 0 for a code
// outside that range.
int mc_id_size(const unsigned char* id);
