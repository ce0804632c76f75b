// lptspi --fast: the programming run on the fast link, for every flash family in the table.
#include "fast.h"

#include "board.h"
#include "progress.h"
#include "protection.h"
#include "verdict.h"
#include "waits.h"
#include "../flash/chips.h"
#include "../flash/commands.h"
#include "../flash/link.h"
#include "../port/clock.h"
#include "../port/system.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { SECTOR_SIZE = 64 * 1024 };

// Reads the identification twice and says which chip answers, its row in `*chip`. Returns 0
// when the run cannot go on, having said why.
static int identify(FlashChip* chip) {
    unsigned char id[3], again[3];
    if (!mc_read_id_twice(id, again)) {
        printf("!!! flash id read differently twice (%02x %02x %02x, then %02x %02x %02x): the "
               "reads are unreliable, nothing erased \n",
               id[0], id[1], id[2], again[0], again[1], again[2]);
        fail_because("the flash's identification read differently twice: nothing erased");
        return 0;
    }
    switch (resolve_chip(id, chip)) {
    case CHIP_KNOWN:
        printf("flash %s (%02x %02x %02x), %d KiB\n", chip->name, id[0], id[1], id[2],
               chip->size / 1024);
        return 1;
    case CHIP_COMMON:
        printf("flash id %02x %02x %02x not in the table: treated as a common 25-series flash of "
               "%d KiB\n",
               id[0], id[1], id[2], chip->size / 1024);
        return 1;
    default:
        printf("!!! flash id %02x %02x %02x not in the table, and it gives no size (no chip "
               "answering reads 00 00 00): nothing erased \n",
               id[0], id[1], id[2]);
        fail_because("no flash lptspi knows answers (id %02x %02x %02x): nothing erased", id[0],
                     id[1], id[2]);
        return 0;
    }
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
            fail_because("the flash %s after its status write: nothing erased",
                         outcome == WAIT_SILENT ? "stopped answering" : "stayed busy");
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
    fail_because("the flash's protection cannot be cleared (see above): nothing erased");
    return 0;
}

// Says why a wait after `what` ended the run, noting it for the verdict; returns 0, the step's
// failure.
static int waited_too_long(int outcome, int status, const char* what, double limit) {
    say_wait_failed(outcome, status, what, limit);
    fail_because("the flash %s after %s",
                 outcome == WAIT_SILENT ? "stopped answering" : "stayed busy", what);
    return 0;
}

// Waits for an erase that usually takes `usual_ms`, at most `limit` seconds, showing how far it
// is on `progress` with the flash's status.
static int wait_erase(Progress* progress, int usual_ms, double limit, int* status) {
    const double start = seconds_now();
    for (;;) {
        // A tenth of a second at a time, so that the line moves.
        int outcome = wait_ready(0.1, STATUS_READINGS, status);
        const double elapsed = seconds_now() - start;
        if (outcome != WAIT_BUSY)
            return outcome;
        if (elapsed > limit)
            return WAIT_BUSY;
        progress_show(progress, usual_ms > 0 ? (int)(elapsed * 1000) : 0, *status);
    }
}

// The erase: the family's bulk erase, or else each 64 KiB sector the image uses (each page,
// where the chip has no sector erase), each with its own wait. Returns 1 when it completed.
static int erase(const FlashChip* chip, int pages) {
    int status = 0;
    Progress progress;
    if (chip->bulk_erase != 0) {
        printf("Bulk erasing flash checking status... \n");
        const double limit = 2 * chip->bulk_max_ms / 1000.0;
        progress_start(&progress, "erasing", NULL, chip->bulk_ms > 0 ? chip->bulk_ms : 1);
        mc_erase_bulk();
        int outcome = wait_erase(&progress, chip->bulk_ms, limit, &status);
        if (outcome != WAIT_READY)
            return waited_too_long(outcome, status, "the bulk erase", limit);
        progress_end(&progress, 0);
        return 1;
    }
    const int unit = chip->sector_erase != 0 ? (int)SECTOR_SIZE : (int)PAGE_SIZE;
    const int units = (pages * PAGE_SIZE + unit - 1) / unit;
    const double limit = 2 * chip->sector_max_ms / 1000.0;
    printf("Erasing %d %s%s%s checking status... \n", units,
           unit == SECTOR_SIZE ? "sector" : "page", units == 1 ? "" : "s",
           unit == SECTOR_SIZE ? " of 64 KiB" : "");
    progress_start(&progress, "erasing", unit == SECTOR_SIZE ? "sectors" : "pages", units);
    for (int n = 0; n < units; n++) {
        mc_erase_at(unit == SECTOR_SIZE ? chip->sector_erase : chip->page_erase, n * unit);
        int outcome = wait_ready(limit, STATUS_READINGS, &status);
        if (outcome != WAIT_READY)
            return waited_too_long(outcome, status, "an erase", limit);
        progress_show(&progress, n + 1, -1);
    }
    progress_end(&progress, units);
    return 1;
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

// Says that `what`, at `address`, was not programmed, the flash having `shown` it (its status
// `status`), and notes it for the verdict; returns 0, the step's failure.
static int not_programmed(const FlashChip* chip, int address, const char* what, const char* shown,
                          int status) {
    char why[160];
    why_kept(why, sizeof why, chip, address);
    progress_newline();
    printf("!!! %s was not programmed: the flash %s (status 0x%02x)%s%s \n", what, shown, status,
           address < chip->pin_protects ? ": " : " and ", why);
    fail_because("%s was not programmed: the flash %s", what, shown);
    return 0;
}

// One page from each 64 KiB block the image uses must read blank after the erase: a chip that
// ignored its erase (protected, or not the family its identification names) is found here
// rather than by a page that fails to verify. A page that is not blank is read again: two reads
// that differ tell of a flaky cable, not of protection. Returns 1 when they are blank.
static int erase_took(const FlashChip* chip, int pages) {
    unsigned char page[PAGE_SIZE], again[PAGE_SIZE];
    for (int address = 0; address < pages * PAGE_SIZE; address += SECTOR_SIZE) {
        mc_read(address, page, PAGE_SIZE);
        if (blank_page(page))
            continue;
        const int n = address / PAGE_SIZE;
        mc_read(address, again, PAGE_SIZE);
        if (memcmp(page, again, PAGE_SIZE) != 0) {
            printf("!!! page %d read differently twice after the erase: the reads are "
                   "unreliable, not the flash: check the cable (lptspi-check shows how); the "
                   "flash is erased and holds none of the image \n",
                   n);
            fail_because("page %d read differently twice after the erase: the reads are "
                         "unreliable; the flash holds none of the image",
                         n);
            return 0;
        }
        char why[160];
        why_kept(why, sizeof why, chip, address);
        printf("!!! the erase did not take: page %d is not blank: %s%s \n", n,
               address < chip->pin_protects ? "" : "the flash ", why);
        fail_because("the erase did not take: page %d is not blank", n);
        return 0;
    }
    return 1;
}

// Page programs, each followed by its wait. Returns 1 when every page was programmed.
static int program_pages(const FlashChip* chip, const unsigned char* image, int pages) {
    const double limit = 2 * chip->program_max_us / 1e6;
    Progress progress;
    progress_start(&progress, "programming", "pages", pages);
    for (int n = 0; n < pages; n++) {
        int address = n * PAGE_SIZE;
        progress_show(&progress, n, -1);
        if (blank_page(image + address))
            continue; // the erase left it so
        mc_program(address, image + address, PAGE_SIZE);
        int status = 0;
        int outcome = wait_ready(limit, STATUS_READINGS, &status);
        if (outcome != WAIT_READY)
            return waited_too_long(outcome, status, "a page program", limit);
        if (status & STATUS_LATCH) {
            // A program ends by clearing the latch: one the chip refused leaves it set.
            char page[32];
            snprintf(page, sizeof page, "page %d", n);
            mc_write_disable();
            return not_programmed(chip, address, page, "kept its write latch", status);
        }
    }
    progress_end(&progress, pages);
    return 1;
}

// Auto-address-increment word programming, one sequence per run of pages that are not blank:
// write enable and the first word with its address, then each word alone, write disable to end
// it. The status is read after every word: a word sent while the chip is still busy with the
// one before would be lost, and a frame on a fast port may take less than a word's program time.
// Returns 1 when every page was programmed.
static int program_words(const FlashChip* chip, const unsigned char* image, int pages) {
    const double limit = 2 * chip->program_max_us / 1e6;
    int in_sequence = 0, status = 0, outcome = WAIT_READY, refused = -1;
    Progress progress;
    progress_start(&progress, "programming", "pages", pages);
    for (int n = 0; n < pages && outcome == WAIT_READY && refused < 0; n++) {
        int address = n * PAGE_SIZE;
        progress_show(&progress, n, -1);
        if (blank_page(image + address)) {
            if (in_sequence) {
                mc_write_disable();
                outcome = wait_ready(limit, 2, &status);
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
            outcome = wait_ready(limit, 2, &status);
            // A word the chip took leaves it in the sequence, waiting for the next.
            if (outcome == WAIT_READY && (status & STATUS_WORDS) == 0)
                refused = address + i;
        }
    }
    if (in_sequence) {
        mc_write_disable(); // also after a failed wait: the chip takes nothing more now
        if (outcome == WAIT_READY && refused < 0)
            outcome = wait_ready(limit, 2, &status);
    }
    if (refused >= 0) {
        char word[32];
        snprintf(word, sizeof word, "the word at 0x%06x", refused);
        return not_programmed(chip, refused, word, "left its word sequence", status);
    }
    if (outcome != WAIT_READY)
        return waited_too_long(outcome, status, "a word program", limit);
    progress_end(&progress, pages);
    return 1;
}

int write_board(const Image* image, int status, FlashChip* chip) {
    const int pages = image->pages;
    end_cut_words(&status);
    if (!identify(chip))
        return EXIT_NOTHING_WRITTEN;
    if (pages > chip->size / PAGE_SIZE) {
        printf("!!! the image has %d pages, the flash only %d: nothing erased \n", pages,
               chip->size / PAGE_SIZE);
        fail_because("the image has %d pages, the flash only %d: nothing erased", pages,
                     chip->size / PAGE_SIZE);
        return EXIT_NOTHING_WRITTEN;
    }
    if (!unprotect(chip, status))
        return EXIT_NOTHING_WRITTEN;
    if (!erase(chip, pages) || !erase_took(chip, pages))
        return EXIT_VERIFY_FAILED;
    printf("programming code..\n");
    printf("%d pages ...\n", pages);
    const int programmed = chip->program == PROGRAM_AAI_WORD
                               ? program_words(chip, image->bytes, pages)
                               : program_pages(chip, image->bytes, pages);
    if (!programmed)
        return EXIT_VERIFY_FAILED;
    return check_pages(image);
}

int program_fast(const Image* image, int port) {
    verdict_start();
    linkfast = 1;
    FlashChip chip = {};
    chip.name = "the flash";
    // A busy flash is refused; its protection bits are cleared by write_board.
    return write_and_judge(image, claim_idle_flash(port, STATUS_BUSY), &chip);
}

int write_and_judge(const Image* image, int status, FlashChip* chip) {
    int result = EXIT_NOTHING_WRITTEN;
    if (status >= 0) {
        result = write_board(image, status, chip);
        release_flash();
    }
    char sha[32];
    short_sha256(image->bytes, image->size, sha, sizeof sha);
    return say_verdict(result, "%s holds %s (%d pages, firmware sha256 %s, %.1f s)", chip->name,
                       image->path, image->pages, sha, verdict_seconds());
}
