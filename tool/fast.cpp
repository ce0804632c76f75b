// lptspi --fast: the programming run on the fast link, for every flash family in the table.
#include "image.h"
#include "protection.h"
#include "sequence.h"
#include "waits.h"
#include "../flash/chips.h"
#include "../flash/commands.h"
#include "../flash/link.h"
#include "../port/clock.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { SECTOR_SIZE = 64 * 1024 };

// What the run takes a chip not in the table for: the common model of the size its
// identification gives, with the longest busy times of the table.
static FlashChip common_chip(int size) {
    FlashChip chip = {};
    chip.name = "the flash";
    chip.size = size;
    chip.program = PROGRAM_PAGE;
    chip.status_enable = ENABLE_WREN;
    chip.unprotect = UNPROTECT_STATUS_0;
    chip.status = &STATUS_BP;
    chip.bulk_erase = 0xC7;
    chip.sector_erase = 0xD8;
    for (int i = 0; i < flash_chip_count; i++) {
        const FlashChip* row = &flash_chips[i];
        if (row->bulk_max_ms > chip.bulk_max_ms)
            chip.bulk_max_ms = row->bulk_max_ms;
        if (row->sector_max_ms > chip.sector_max_ms)
            chip.sector_max_ms = row->sector_max_ms;
        if (row->program_max_us > chip.program_max_us)
            chip.program_max_us = row->program_max_us;
    }
    chip.status_write_max_ms = status_write_max_ms(NULL);
    return chip;
}

// Reads the identification twice and says which chip answers: the table's row, or `*common`
// filled in for a plausible chip not in the table. NULL when the run cannot go on, having said
// why.
static const FlashChip* identify(FlashChip* common) {
    unsigned char id[3], again[3];
    if (!mc_read_id_twice(id, again)) {
        printf("!!! flash id read differently twice (%02x %02x %02x, then %02x %02x %02x): the "
               "reads are unreliable, nothing erased \n",
               id[0], id[1], id[2], again[0], again[1], again[2]);
        return NULL;
    }
    const FlashChip* chip = find_chip(id);
    if (chip != NULL) {
        printf("flash %s (%02x %02x %02x), %d KiB\n", chip->name, id[0], id[1], id[2],
               chip->size / 1024);
        return chip;
    }
    int size = mc_id_size(id);
    if (size == 0) {
        printf("!!! flash id %02x %02x %02x not in the table, and it gives no size (no chip "
               "answering reads 00 00 00): nothing erased \n",
               id[0], id[1], id[2]);
        return NULL;
    }
    printf("flash id %02x %02x %02x not in the table: treated as a common 25-series flash of %d "
           "KiB\n",
           id[0], id[1], id[2], size / 1024);
    *common = common_chip(size);
    return common;
}

// Clears the chip's block protection by its family's procedure, saying so in one line; returns
// 0 when it stays, having said why and left the write latch clear.
static int unprotect(const FlashChip* chip, int status) {
    char reason[256];
    if (chip->unprotect == UNPROTECT_NONE)
        return 1;
    if (chip->unprotect == UNPROTECT_SST26_GLOBAL) {
        unsigned char bits[32];
        int locked = 0;
        int len = read_block_locks(chip, bits, &locked);
        if (!locked)
            return 1;
        char before[3 * 32 + 1];
        format_locks(before, sizeof before, bits, len);
        mc_global_unlock();
        read_block_locks(chip, bits, &locked);
        if (!locked) {
            printf("flash blocks locked (block-protection register %s): unlocked by the global "
                   "unlock\n",
                   before);
            return 1;
        }
        snprintf(reason, sizeof reason, "%s", UNLOCK_IGNORED);
    } else {
        if (!status_protects(chip, status))
            return 1;
        int now = 0;
        int outcome = clear_status_protection(chip, status, &now);
        if (outcome != WAIT_READY) {
            say_wait_failed(outcome, now, "the status write", status_write_limit(chip));
            mc_write_disable();
            return 0;
        }
        if (status_unprotected(chip, now)) {
            printf("flash protected (status 0x%02x): cleared to 0x%02x by %s\n", status, now,
                   chip->unprotect == UNPROTECT_AT25_GLOBAL ? "the global unprotect"
                   : chip->status_enable == ENABLE_EWSR
                       ? "enable-write-status and write status 0x00"
                       : "write enable and write status 0x00");
            return 1;
        }
        status_kept_reason(reason, sizeof reason, chip, now);
    }
    mc_write_disable(); // the write enable may still stand: nothing may erase this chip now
    printf("!!! the protection cannot be cleared: %s; nothing erased \n", reason);
    return 0;
}

// Says why a wait after `what` ended the run; returns the run's exit status.
static int waited_too_long(int outcome, int status, const char* what, double limit) {
    say_wait_failed(outcome, status, what, limit);
    return EXIT_VERIFY_FAILED;
}

// The erase: the family's bulk erase, or else each 64 KiB sector the image uses (each page,
// where the chip has no sector erase), each with its own wait. Returns -1 when it completed.
static int erase(const FlashChip* chip, int pages) {
    int status = 0;
    if (chip->bulk_erase != 0) {
        printf("Bulk erasing flash checking status... \n");
        const double limit = 2 * chip->bulk_max_ms / 1000.0;
        mc_erase_bulk();
        int outcome = wait_ready(limit, STATUS_READINGS, 1, &status);
        if (outcome != WAIT_READY)
            return waited_too_long(outcome, status, "the bulk erase", limit);
        return -1;
    }
    const int unit = chip->sector_erase != 0 ? (int)SECTOR_SIZE : (int)PAGE_SIZE;
    const int units = (pages * PAGE_SIZE + unit - 1) / unit;
    const double limit = 2 * chip->sector_max_ms / 1000.0;
    printf("Erasing %d %s%s%s checking status... \n", units,
           unit == SECTOR_SIZE ? "sector" : "page", units == 1 ? "" : "s",
           unit == SECTOR_SIZE ? " of 64 KiB" : "");
    for (int n = 0; n < units; n++) {
        mc_erase_at(unit == SECTOR_SIZE ? chip->sector_erase : chip->page_erase, n * unit);
        int outcome = wait_ready(limit, STATUS_READINGS, 1, &status);
        if (outcome != WAIT_READY)
            return waited_too_long(outcome, status, "an erase", limit);
    }
    return -1;
}

// Why the flash kept `address` from an erase or a program, a clause for a message: the
// write-protect pin where it protects that address whatever the status says, else protection in
// general.
static void why_kept(char* text, int size, const FlashChip* chip, int address) {
    if (address < chip->pin_protects)
        snprintf(text, (size_t)size,
                 "%s's write-protect pin (W, pin 3) protects its bottom %d KiB while it is held "
                 "low: hold W high",
                 chip->name, chip->pin_protects / 1024);
    else
        snprintf(text, (size_t)size, "may still be protected (lptspi-check shows how)");
}

// One page from each 64 KiB block the image uses must read blank after the erase: a chip that
// ignored its erase (protected, or not the family its identification names) is found here
// rather than by a page that fails to verify. A page that is not blank is read again: two reads
// that differ tell of a flaky cable, not of protection. Returns -1 when they are blank.
static int erase_took(const FlashChip* chip, int pages) {
    unsigned char page[PAGE_SIZE], again[PAGE_SIZE];
    for (int address = 0; address < pages * PAGE_SIZE; address += SECTOR_SIZE) {
        mc_read(address, page, PAGE_SIZE);
        if (blank_page(page))
            continue;
        mc_read(address, again, PAGE_SIZE);
        if (memcmp(page, again, PAGE_SIZE) != 0) {
            printf("!!! page %d read differently twice after the erase: the reads are "
                   "unreliable, not the flash: check the cable (lptspi-check shows how); the "
                   "flash is erased and holds none of the image \n",
                   address / PAGE_SIZE);
            return EXIT_VERIFY_FAILED;
        }
        char why[160];
        why_kept(why, sizeof why, chip, address);
        printf("!!! the erase did not take: page %d is not blank: %s%s \n", address / PAGE_SIZE,
               address < chip->pin_protects ? "" : "the flash ", why);
        return EXIT_VERIFY_FAILED;
    }
    return -1;
}

// Page programs, each followed by its wait. Returns -1 when every page was programmed.
static int program_pages(const FlashChip* chip, const unsigned char* image, int pages) {
    const double limit = 2 * chip->program_max_us / 1e6;
    for (int n = 0; n < pages; n++) {
        int address = n * PAGE_SIZE;
        printf("\rprogramming at %4d", n);
        if (blank_page(image + address))
            continue; // the erase left it so
        mc_program(address, image + address, PAGE_SIZE);
        int status = 0;
        int outcome = wait_ready(limit, STATUS_READINGS, 0, &status);
        if (outcome != WAIT_READY)
            return waited_too_long(outcome, status, "a page program", limit);
        if (status & STATUS_LATCH) {
            // A program ends by clearing the latch: one the chip refused leaves it set.
            char why[160];
            why_kept(why, sizeof why, chip, address);
            printf("\n!!! page %d was not programmed: the flash kept its write latch (status "
                   "0x%02x)%s%s \n",
                   n, status, address < chip->pin_protects ? ": " : " and ", why);
            mc_write_disable();
            return EXIT_VERIFY_FAILED;
        }
    }
    return -1;
}

// Auto-address-increment word programming, one sequence per run of pages that are not blank:
// write enable and the first word with its address, then each word alone, write disable to end
// it. The status is read after every word: a word sent while the chip is still busy with the
// one before would be lost, and a frame on a fast port may take less than a word's program time.
// Returns -1 when every page was programmed.
static int program_words(const FlashChip* chip, const unsigned char* image, int pages) {
    const double limit = 2 * chip->program_max_us / 1e6;
    int in_sequence = 0, status = 0, outcome = WAIT_READY, refused = -1;
    for (int n = 0; n < pages && outcome == WAIT_READY && refused < 0; n++) {
        int address = n * PAGE_SIZE;
        printf("\rprogramming at %4d", n);
        if (blank_page(image + address)) {
            if (in_sequence) {
                mc_write_disable();
                outcome = wait_ready(limit, 2, 0, &status);
                in_sequence = 0;
            }
            continue; // the erase left it so
        }
        for (int i = 0; i < PAGE_SIZE && outcome == WAIT_READY && refused < 0; i += 2) {
            if (in_sequence)
                mc_words_next(image + address + i);
            else
                mc_words_start(address + i, image + address + i);
            in_sequence = 1;
            outcome = wait_ready(limit, 2, 0, &status);
            // A word the chip took leaves it in the sequence, waiting for the next.
            if (outcome == WAIT_READY && (status & STATUS_WORDS) == 0)
                refused = address + i;
        }
    }
    if (in_sequence) {
        mc_write_disable(); // also after a failed wait: the chip takes nothing more now
        if (outcome == WAIT_READY && refused < 0)
            outcome = wait_ready(limit, 2, 0, &status);
    }
    if (refused >= 0) {
        char why[160];
        why_kept(why, sizeof why, chip, refused);
        printf("\n!!! the word at 0x%06x was not programmed: the flash left its word sequence "
               "(status 0x%02x)%s%s \n",
               refused, status, refused < chip->pin_protects ? ": " : " and ", why);
        return EXIT_VERIFY_FAILED;
    }
    if (outcome != WAIT_READY)
        return waited_too_long(outcome, status, "a word program", limit);
    return -1;
}

// Leaves the lines idle, frees the image; returns `status`.
static int stop(unsigned char* image, int status) {
    release_flash();
    free(image);
    return status;
}

int program_fast(unsigned char* image, int pages) {
    linkfast = 1;
    // A busy flash is refused; its protection bits are cleared below.
    int status = claim_idle_flash(STATUS_BUSY);
    if (status < 0) {
        free(image);
        return EXIT_NO_PORT_OR_BUSY;
    }
    end_cut_words(&status);
    FlashChip common;
    const FlashChip* chip = identify(&common);
    if (chip == NULL)
        return stop(image, EXIT_NO_PORT_OR_BUSY);
    if (pages > chip->size / PAGE_SIZE) {
        printf("!!! the image has %d pages, the flash only %d: nothing erased \n", pages,
               chip->size / PAGE_SIZE);
        return stop(image, EXIT_NO_PORT_OR_BUSY);
    }
    if (!unprotect(chip, status))
        return stop(image, EXIT_NO_PORT_OR_BUSY);

    int failed = erase(chip, pages);
    if (failed >= 0)
        return stop(image, failed);
    printf("\n done! \n");
    failed = erase_took(chip, pages);
    if (failed >= 0)
        return stop(image, failed);

    printf("programming code..\n");
    printf("%d pages ...\n", pages);
    failed = chip->program == PROGRAM_AAI_WORD ? program_words(chip, image, pages)
                                               : program_pages(chip, image, pages);
    if (failed >= 0)
        return stop(image, failed);
    return verify_and_release(image, pages, 1);
}
