#include "protection.h"

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

int clear_status_protection(const FlashChip* chip, int status) {
    const StatusBits* bits = family_status_bits(chip);
    write_status_zero(chip);
    int now = mc_read_status();
    const int at25 = chip != NULL && chip->unprotect == UNPROTECT_AT25_GLOBAL;
    if (at25 && (status & bits->lock) && !(now & bits->lock) && (now & bits->protect)) {
        write_status_zero(chip);
        now = mc_read_status();
    }
    return now;
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
