// Each family's procedure for clearing block protection, and how a status or a lock is told.
#include "protection.h"

#include "waits.h"
#include "../flash/commands.h"

#include <stdio.h>
#include <string.h>

const char* const UNLOCK_IGNORED = "the chip ignored the unlock (as it does with its write-protect "
                                   "pin low and WPEN set): hold the write-protect pin high";

const StatusBits* family_status_bits(const FlashChip* chip) {
    return chip != NULL ? chip->status : &STATUS_BP;
}

int status_unprotected(const FlashChip* chip, int status) {
    return (status & ~family_status_bits(chip)->idle) == 0;
}

// The status write the family takes: enable-write-status where it needs that, else a write
// enable.
static void write_status_zero(const FlashChip* chip) {
    if (chip != NULL && chip->status_enable == ENABLE_EWSR)
        mc_write_status_ewsr(0x00);
    else
        mc_write_status(0x00);
}

int clear_status_protection(const FlashChip* chip, int status, int* now) {
    const StatusBits* bits = family_status_bits(chip);
    write_status_zero(chip);
    // The status write is a cycle of its own: busy, the write latch set, until it ends.
    int outcome = wait_status_write(chip, now);
    const int at25 = chip != NULL && chip->unprotect == UNPROTECT_AT25_GLOBAL;
    if (outcome == WAIT_READY && at25 && (status & bits->lock) && !(*now & bits->lock) &&
        (*now & bits->protect)) {
        // The write that resets the lock cannot unprotect the sectors as well.
        write_status_zero(chip);
        outcome = wait_status_write(chip, now);
    }
    return outcome;
}

void status_kept_reason(char* text, int size, const FlashChip* chip, int now) {
    snprintf(text, (size_t)size,
             "the status is still 0x%02x: the status register is locked (%s set while the chip's "
             "write-protect pin is held low) or the chip ignores the command: hold the "
             "write-protect pin high, or clear the protection with a programmer",
             now, family_status_bits(chip)->names[7]);
}

int read_block_locks(const FlashChip* chip, unsigned char* bits, int* locked) {
    int len = chip->protection_register < 32 ? chip->protection_register : 32;
    mc_read_protection(bits, len);
    *locked = 0;
    for (int i = 0; i < len; i++)
        *locked = *locked || bits[i] != 0;
    return len;
}

void format_locks(char* text, int size, const unsigned char* bits, int len) {
    text[0] = '\0';
    for (int i = 0; i < len; i++) {
        size_t used = strlen(text);
        snprintf(text + used, (size_t)size - used, "%s%02x", i ? " " : "", bits[i]);
    }
}

int end_cut_words(int* status) {
    if ((*status & STATUS_WORDS) == 0)
        return 0;
    unsigned char id[3];
    mc_read_id(id);
    const int silent = id[0] == 0xFF && id[1] == 0xFF && id[2] == 0xFF;
    const FlashChip* chip = find_chip(id);
    if (!silent && (chip == NULL || chip->program != PROGRAM_AAI_WORD))
        return 0; // bit 6 is a protection bit of this chip's
    mc_write_disable();
    int now = mc_read_status();
    printf("flash left in a word sequence (status 0x%02x, id %02x %02x %02x): write disable "
           "ended it, status now 0x%02x\n",
           *status, id[0], id[1], id[2], now);
    *status = now;
    return 1;
}
