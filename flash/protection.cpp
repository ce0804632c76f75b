// Each family's procedure for clearing block protection, and for ending a word sequence found cut short.
#include "protection.h"

#include "commands.h"
#include "wait.h"

#include <stddef.h>

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
        write_status_zero(chip);
        outcome = wait_status_write(chip, now);
    }
    return outcome;
}

int read_block_locks(const FlashChip* chip, unsigned char* bits, int* locked) {
    int len = chip->protection_register < 32 ? chip->protection_register : 32;
    mc_read_protection(bits, len);
    *locked = 0;
    for (int i = 0; i < len; i++)
        *locked = *locked || bits[i] != 0;
    return len;
}

int end_word_sequence(int* status, unsigned char* id) {
    if ((*status & STATUS_WORDS) == 0)
        return 0;
    mc_read_id(id);
    const int silent = id[0] == 0xFF && id[1] == 0xFF && id[2] == 0xFF;
    const FlashChip* chip = find_chip(id);
    if (!silent && (chip == NULL || chip->program != PROGRAM_AAI_WORD))
        return 0; // bit 6 is a protection bit of this chip's
    mc_write_disable();
    *status = mc_read_status();
    return 1;
}
