// The words the programs share about a flash's protection.
#include "protection.h"

#include <stdio.h>
#include <string.h>

const char* const UNLOCK_IGNORED = "the chip ignored the unlock (as it does with its write-protect "
                                   "pin low and WPEN set): hold the write-protect pin high";

void status_kept_reason(char* text, int size, const FlashChip* chip, int now, int now2) {
    const Status2Bits* bits2 = chip != NULL ? chip->status2 : NULL;
    if (bits2 != NULL && now2 >= 0 && (now2 & bits2->lockdown) != 0) {
        snprintf(text, (size_t)size,
                 "the status is still 0x%02x, status register 2 0x%02x: %s is set, which locks the "
                 "status registers down (%s): no status write is taken",
                 now, now2, bits2->names[0],
                 (now & family_status_bits(chip)->lock)
                     ? "for good, with SRP0 set too: the chip's protection can never be cleared"
                     : "until the power is cycled: switch the board off and on");
        return;
    }
    snprintf(text, (size_t)size,
             "the status is still 0x%02x: the status register is locked (%s set while the chip's "
             "write-protect pin is held low) or the chip ignores the command: hold the "
             "write-protect pin high, or clear the protection with a programmer",
             now, family_status_bits(chip)->names[7]);
}

void format_locks(char* text, int size, const unsigned char* bits, int len) {
    text[0] = '\0';
    for (int i = 0; i < len; i++) {
        size_t used = strlen(text);
        snprintf(text + used, (size_t)size - used, "%s%02x", i ? " " : "", bits[i]);
    }
}

int end_cut_words(FlashSession* s, int* status) {
    const int before = *status;
    unsigned char id[3];
    if (!end_word_sequence(s, status, id))
        return 0;
    printf("flash left in a word sequence (status 0x%02x, id %02x %02x %02x): write disable "
           "ended it, status now 0x%02x\n",
           before, id[0], id[1], id[2], *status);
    return 1;
}
