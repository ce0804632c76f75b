// The writing and reading runs' words: the procedures' events and outcomes put into words.
#include "words.h"

#include "board.h"
#include "identity.h"
#include "protection.h"
#include "verdict.h"
#include "waits.h"
#include "../flash/write.h"
#include "../port/interrupt.h"

#include <stdio.h>

enum { LISTED_DIFFERENCES = 16 };

// A status register cleared of its protection bits, the bits kept named; status register 2 where
// it held anything.
static void say_cleared(const FlashSession* s, const FlashEvent* e) {
    const char* how = e->how == CLEARED_BY_EWSR_STATUS ? "enable-write-status and write status"
                                                       : "write enable and write status";
    if (e->how == CLEARED_BY_GLOBAL_UNPROTECT) {
        printf("flash protected (status 0x%02x): cleared to 0x%02x by the global unprotect\n",
               e->before, e->after);
    } else if (e->before2 <= 0 || s == NULL || s->chip.status2 == NULL) {
        printf("flash protected (status 0x%02x): cleared to 0x%02x by %s 0x%02x\n", e->before,
               e->after, how, e->written);
    } else {
        const Status2Bits* bits = s->chip.status2;
        printf("flash protected (status 0x%02x, status register 2 0x%02x): cleared to 0x%02x, "
               "0x%02x by %s 0x%02x 0x%02x%s\n",
               e->before, e->before2, e->after, e->after2, how, e->written, e->written2,
               (e->written2 & bits->quad) ? " (QE kept)" : "");
    }
}

static void heard(void* listener, const FlashEvent* e) {
    RunWords* w = (RunWords*)listener;
    Progress* p = &w->progress;
    static const char* const reads[] = {"checking", "reading 1", "reading 2", "reading 3",
                                        "comparing"};
    switch (e->what) {
    case EVENT_CLEARED:
        if (e->how == CLEARED_BY_GLOBAL_UNLOCK) {
            char before[3 * OUTCOME_REGISTER + 1];
            format_locks(before, sizeof before, e->bits, e->len);
            printf("flash blocks locked (block-protection register %s): unlocked by the global "
                   "unlock\n",
                   before);
            return;
        }
        say_cleared(w->session, e);
        return;
    case EVENT_ERASE_BEGINS:
        if (e->unit == 0) {
            printf("Bulk erasing flash checking status... \n");
            progress_start(p, "erasing", NULL, e->total);
            return;
        }
        printf("Erasing %d %s%s%s checking status... \n", e->total,
               e->unit == ERASE_SECTOR ? "sector" : "page", e->total == 1 ? "" : "s",
               e->unit == ERASE_SECTOR ? " of 64 KiB" : "");
        progress_start(p, "erasing", e->unit == ERASE_SECTOR ? "sectors" : "pages", e->total);
        return;
    case EVENT_PROGRAM_BEGINS:
        printf("programming code..\n");
        printf("%d pages ...\n", e->total);
        progress_start(p, "programming", "pages", e->total);
        return;
    case EVENT_VERIFY_BEGINS:
        progress_start(p, "verifying", "pages", e->total);
        return;
    case EVENT_READ_BEGINS:
        progress_start(p, reads[e->pass >= 0 && e->pass <= 4 ? e->pass : 1],
                       e->pass == 4 && e->unit != PAGE_SIZE ? "sectors" : "pages", e->total);
        return;
    case EVENT_ERASING:
    case EVENT_PROGRAMMING:
    case EVENT_VERIFYING:
    case EVENT_READING:
        progress_show(p, e->done, e->status);
        return;
    default: // the ends
        progress_end(p, e->done);
        return;
    }
}

void listen(FlashSession* s, RunWords* words) {
    words->watch.heard = heard;
    words->watch.listener = words;
    words->session = s;
    s->watch = &words->watch;
}

void say_chip(const FlashSession* s) {
    const unsigned char* id = s->id;
    if (s->kind == CHIP_KNOWN) {
        printf("flash %s (%02x %02x %02x), %d KiB\n", s->chip.name, id[0], id[1], id[2],
               s->chip.size / 1024);
    } else if (s->kind == CHIP_TABLE) {
        printf("flash id %02x %02x %02x not in the table: its own parameter table (SFDP) "
               "describes a flash of %d KiB, taken as it says\n",
               id[0], id[1], id[2], s->chip.size / 1024);
    } else if (s->kind == CHIP_OTHER) {
        const FlashChip* row = find_chip(id);
        printf("flash id %02x %02x %02x is %s's, but its status shows bits %s does not have: "
               "another chip with that identification, treated as a common 25-series flash of %d "
               "KiB\n",
               id[0], id[1], id[2], row->name, row->name, s->chip.size / 1024);
    } else
        printf("flash id %02x %02x %02x not in the table: treated as a common 25-series flash of "
               "%d KiB\n",
               id[0], id[1], id[2], s->chip.size / 1024);
}

int list_differences(const unsigned char* read, const unsigned char* page, int limit) {
    int differ = 0;
    for (int i = 0; i < PAGE_SIZE; i++) {
        if (read[i] != page[i] && differ++ < limit)
            printf("%03x: %02x != %02x\n", i, read[i], page[i]);
    }
    return differ;
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

// A wait that ended the run after `what`.
static int waited_too_long(const FlashOutcome* o, const char* what, int exit_status) {
    say_wait_failed(o->kind == OUTCOME_SILENT ? WAIT_SILENT : WAIT_BUSY, o->status, what, o->limit);
    fail_because("the flash %s after %s",
                 o->kind == OUTCOME_SILENT ? "stopped answering" : "stayed busy", what);
    return exit_status;
}

static int before_erase(const FlashSession* s, const FlashOutcome* o) {
    const unsigned char* id = o->id;
    if (o->step == STEP_IDENTIFY && o->kind == OUTCOME_ID_DIFFERS) {
        printf("!!! flash id read differently twice (%02x %02x %02x, then %02x %02x %02x): the "
               "reads are unreliable, nothing erased \n",
               id[0], id[1], id[2], o->again[0], o->again[1], o->again[2]);
        fail_because("the flash's identification read differently twice: nothing erased");
    } else if (o->step == STEP_IDENTIFY && o->kind == OUTCOME_OLDER_CHIP) {
        char older[96];
        say_older(s, older, sizeof older);
        printf("!!! flash id %02x %02x %02x, but %s: lptspi does not support it: nothing erased \n",
               id[0], id[1], id[2], older);
        fail_because("the flash answers only the older identification (%s): nothing erased", older);
    } else if (o->step == STEP_IDENTIFY && o->kind == OUTCOME_TABLE_DIFFERS) {
        char differs[160];
        table_contradiction(differs, sizeof differs, s);
        printf("!!! %s's own parameter table (SFDP) contradicts its identification: %s: a "
               "relabelled or cloned chip, or a wrong table; nothing erased \n",
               s->chip.name, differs);
        fail_because("the flash's parameter table contradicts its identification (%s): nothing "
                     "erased",
                     s->chip.name);
    } else if (o->step == STEP_IDENTIFY) {
        printf("!!! flash id %02x %02x %02x not in the table, and it gives no size (no chip "
               "answering reads 00 00 00): nothing erased \n",
               id[0], id[1], id[2]);
        fail_because("no flash lptspi knows answers (id %02x %02x %02x): nothing erased", id[0],
                     id[1], id[2]);
    } else if (o->step == STEP_SIZE) {
        printf("!!! the image has %d pages, the flash only %d: nothing erased \n", o->address,
               o->pages);
        fail_because("the image has %d pages, the flash only %d: nothing erased", o->address,
                     o->pages);
    } else if (o->kind == OUTCOME_STILL_LOCKED) {
        char reason[256];
        if (o->in_register)
            snprintf(reason, sizeof reason, "%s", UNLOCK_IGNORED);
        else
            status_kept_reason(reason, sizeof reason, &s->chip, o->status, o->status2);
        printf("!!! the protection cannot be cleared: %s; nothing erased \n", reason);
        fail_because("the flash's protection cannot be cleared (see above): nothing erased");
    } else {
        say_wait_failed(o->kind == OUTCOME_SILENT ? WAIT_SILENT : WAIT_BUSY, o->status,
                        "the status write", o->limit);
        fail_because("the flash %s after its status write: nothing erased",
                     o->kind == OUTCOME_SILENT ? "stopped answering" : "stayed busy");
    }
    return EXIT_NOTHING_WRITTEN;
}

// A page or a word the chip refused.
static int not_programmed(const FlashSession* s, const FlashOutcome* o) {
    char what[32], why[160];
    if (o->words)
        snprintf(what, sizeof what, "the word at 0x%06x", o->address);
    else
        snprintf(what, sizeof what, "page %d", o->address / PAGE_SIZE);
    const char* shown =
        o->kind == OUTCOME_WORDS_LEFT ? "left its word sequence" : "kept its write latch";
    why_kept(why, sizeof why, &s->chip, o->address);
    progress_newline();
    printf("!!! %s was not programmed: the flash %s (status 0x%02x)%s%s \n", what, shown, o->status,
           o->address < s->chip.pin_protects ? ": " : " and ", why);
    fail_because("%s was not programmed: the flash %s", what, shown);
    return EXIT_VERIFY_FAILED;
}

static int page_differs(const FlashOutcome* o, const Image* image) {
    const int n = o->address / PAGE_SIZE;
    progress_newline();
    if (o->kind == OUTCOME_READS_DIFFER) {
        printf("!!! page %d read differently twice: the reads are unreliable, not the flash: "
               "check the cable (lptspi-check shows how) \n",
               n);
        fail_because("page %d read differently twice: the reads are unreliable, not the flash", n);
        return EXIT_VERIFY_FAILED;
    }
    printf("!!! page %d failed to verify \n", n);
    const int differ = list_differences(o->read, image->bytes + o->address, LISTED_DIFFERENCES);
    if (differ > LISTED_DIFFERENCES)
        printf("and %d more bytes differ\n", differ - LISTED_DIFFERENCES);
    fail_because("page %d differs from %s (%d byte%s)", n, image->path, differ,
                 differ == 1 ? "" : "s");
    return EXIT_VERIFY_FAILED;
}

// Protection that could not be put back (done.cpp).
int not_restored(const FlashOutcome* o);

int say_outcome(const FlashSession* s, const FlashOutcome* o, const Image* image) {
    if (o->kind == OUTCOME_INTERRUPTED)
        return EXIT_INTERRUPTED;
    if (o->step == STEP_PROTECT)
        return not_restored(o);
    if (o->step <= STEP_UNPROTECT)
        return before_erase(s, o);
    const int n = o->address / PAGE_SIZE;
    char why[160];
    switch (o->step) {
    case STEP_ERASE:
        return waited_too_long(o, o->erase_unit == 0 ? "the bulk erase" : "an erase",
                               EXIT_VERIFY_FAILED);
    case STEP_ERASE_CHECK:
        if (o->kind == OUTCOME_READS_DIFFER) {
            printf("!!! page %d read differently twice after the erase: the reads are "
                   "unreliable, not the flash: check the cable (lptspi-check shows how); the "
                   "flash is erased and holds none of the image \n",
                   n);
            fail_because("page %d read differently twice after the erase: the reads are "
                         "unreliable; the flash holds none of the image",
                         n);
            return EXIT_VERIFY_FAILED;
        }
        why_kept(why, sizeof why, &s->chip, o->address);
        printf("!!! the erase did not take: page %d is not blank: %s%s \n", n,
               o->address < s->chip.pin_protects ? "" : "the flash ", why);
        fail_because("the erase did not take: page %d is not blank", n);
        return EXIT_VERIFY_FAILED;
    case STEP_PROGRAM:
        if (o->kind == OUTCOME_LATCH_KEPT || o->kind == OUTCOME_WORDS_LEFT)
            return not_programmed(s, o);
        return waited_too_long(o, o->words ? "a word program" : "a page program",
                               EXIT_VERIFY_FAILED);
    default:
        return page_differs(o, image);
    }
}
