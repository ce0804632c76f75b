// Clearing a flash's block protection by its family's own procedure, and the states that keep a
// chip from taking commands: the procedures only, shared by lptspi --fast, lptspi-check
// --unprotect and the other programs, which each say what came of them in their own words.
#pragma once

#include "chips.h"

// The SST25's status bit 6: auto-address-increment word programming under way.
enum { STATUS_WORDS = 0x40 };

// The status bits of the family `chip`, or the common ones for a chip not in the table (NULL).
const StatusBits* family_status_bits(const FlashChip* chip);

// Whether `status` shows nothing protected: 0x00, or only the bits an unprotected idle chip of
// the family reads (the AT25DF's write-protect pin).
int status_unprotected(const FlashChip* chip, int status);

// The status write that clears the protection bits: enable-write-status then write status 0x00
// where the family needs that, else write enable then write status 0x00 (on the AT25DF its
// global unprotect, written once more when the first write only cleared the lock, SPRL, which
// `status` showed set: the write that resets the lock cannot unprotect the sectors as well),
// each followed by a wait for its cycle to end. Returns how the last wait ended (WAIT_READY,
// WAIT_BUSY, WAIT_SILENT), the status it read in `*now`.
int clear_status_protection(const FlashChip* chip, int status, int* now);

// Reads the block-protection register of a chip that keeps one (0x72) into `bits` (room for 32
// bytes); returns its length, and whether any block is locked in `*locked`.
int read_block_locks(const FlashChip* chip, unsigned char* bits, int* locked);

// A word sequence cut short (the board's power kept) leaves an SST25 taking nothing but the next
// word, read status and write disable: its status shows bit 6 and its identification reads
// ff ff ff. When `*status` and the identification (read into `id`) show that, sends write
// disable, which ends the sequence and changes nothing in the memory, reads the status again
// into `*status` and returns 1; otherwise returns 0.
int end_word_sequence(int* status, unsigned char* id);
