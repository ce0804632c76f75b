// lptspi --fast: the programming run on the fast link, for every flash family in the table.
#include "image.h"
#include "protection.h"
#include "sequence.h"
#include "../flash/chips.h"
#include "../flash/commands.h"
#include "../flash/link.h"
#include "../port/clock.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum {
    SECTOR_SIZE = 64 * 1024,
    // Status readings in one frame while waiting for an erase or a page: the flash repeats its
    // status for as long as it is clocked, so a wait costs a few frames rather than one frame
    // per reading.
    STATUS_READINGS = 16,
    // The SST25's status bit 6: auto-address-increment word programming under way
    STATUS_WORDS = 0x40
};

// How a wait for the flash ended.
enum { WAIT_READY, WAIT_BUSY, WAIT_SILENT };

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
        int now = clear_status_protection(chip, status);
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

// Waits until the flash is not busy, reading its status `readings` at a time; shows the status
// line when `show` (when it changes and at least every 100 ms). Gives up once `limit` seconds
// have passed with the flash still busy, or at once when every reading is 0xFF: the data-in line
// stays high, as with no chip answering. The last status in `*status`.
static int wait_ready(double limit, int readings, int show, int* status) {
    unsigned char statuses[STATUS_READINGS];
    const double start = seconds_now();
    int shown = -1;
    unsigned long shown_at = 0;
    for (;;) {
        // The time before the readings: a flash busy in them was busy that long.
        const double now = seconds_now();
        mc_read_statuses(statuses, readings);
        *status = statuses[readings - 1];
        if (show && (*status != shown || ticks_ms() - shown_at >= 100)) {
            printf("\rstatus = %02x ", *status);
            shown = *status;
            shown_at = ticks_ms();
        }
        int silent = 1;
        for (int i = 0; i < readings; i++)
            silent = silent && statuses[i] == 0xFF;
        if (silent)
            return WAIT_SILENT;
        if ((*status & STATUS_BUSY) == 0)
            return WAIT_READY;
        if (now - start > limit)
            return WAIT_BUSY;
    }
}

// Says why a wait after `what` ended the run; returns the run's exit status.
static int waited_too_long(int outcome, int status, const char* what, double limit) {
    if (outcome == WAIT_SILENT) {
        printf("\n!!! the flash stopped answering after %s: its status reads 0xff, the data-in "
               "line stays high: check the chip's power and the cable \n",
               what);
        return EXIT_VERIFY_FAILED;
    }
    char time[32];
    if (limit >= 1)
        snprintf(time, sizeof time, "%.0f s", limit);
    else if (limit >= 1e-3)
        snprintf(time, sizeof time, "%.0f ms", limit * 1e3);
    else
        snprintf(time, sizeof time, "%.0f us", limit * 1e6);
    printf("\n!!! the flash stayed busy (status 0x%02x) for %s after %s, twice the longest its "
           "datasheet gives: check the chip's power supply, switch the board off and on and run "
           "again \n",
           status, time, what);
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

// One page from each 64 KiB block the image uses must read blank after the erase: a chip that
// ignored its erase (protected, or not the family its identification names) is found here
// rather than by a page that fails to verify. Returns -1 when they are blank.
static int erase_took(int pages) {
    unsigned char page[PAGE_SIZE];
    for (int address = 0; address < pages * PAGE_SIZE; address += SECTOR_SIZE) {
        mc_read(address, page, PAGE_SIZE);
        if (!blank_page(page)) {
            printf("!!! the erase did not take: page %d is not blank: the flash may still be "
                   "protected (lptspi-check shows how) \n",
                   address / PAGE_SIZE);
            return EXIT_VERIFY_FAILED;
        }
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
            printf("\n!!! page %d was not programmed: the flash kept its write latch (status "
                   "0x%02x) and may still be protected (lptspi-check shows how) \n",
                   n, status);
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
    int in_sequence = 0, status = 0, outcome = WAIT_READY;
    for (int n = 0; n < pages && outcome == WAIT_READY; n++) {
        int address = n * PAGE_SIZE;
        printf("\rprogramming at %4d", n);
        if (blank_page(image + address)) {
            if (in_sequence) {
                mc_write_disable();
                outcome = wait_ready(limit, 1, 0, &status);
                in_sequence = 0;
            }
            continue; // the erase left it so
        }
        for (int i = 0; i < PAGE_SIZE && outcome == WAIT_READY; i += 2) {
            if (in_sequence)
                mc_words_next(image + address + i);
            else
                mc_words_start(address + i, image + address + i);
            in_sequence = 1;
            outcome = wait_ready(limit, 1, 0, &status);
        }
    }
    if (in_sequence) {
        mc_write_disable(); // also after a failed wait: the chip takes nothing more now
        if (outcome == WAIT_READY)
            outcome = wait_ready(limit, 1, 0, &status);
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
    if (status & STATUS_WORDS) {
        // A word sequence cut short (Ctrl-C) leaves an SST25 taking nothing but words, read
        // status and write disable, which ends it.
        mc_write_disable();
        status = mc_read_status();
    }
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
    failed = erase_took(pages);
    if (failed >= 0)
        return stop(image, failed);

    printf("programming code..\n");
    printf("%d pages ...\n", pages);
    failed = chip->program == PROGRAM_AAI_WORD ? program_words(chip, image, pages)
                                               : program_pages(chip, image, pages);
    if (failed >= 0)
        return stop(image, failed);
    return verify_and_release(image, pages);
}
