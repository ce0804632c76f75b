// lptspi --erase and --blank, top to bottom.
#include "erase.h"

#include "board.h"
#include "fast.h"
#include "protection.h"
#include "verdict.h"
#include "words.h"
#include "../flash/commands.h"
#include "../flash/identify.h"
#include "../flash/write.h"
#include "../port/interrupt.h"

#include <stdio.h>

// The page `o` found not blank, or read differently twice: said and noted. Returns 2.
static int not_blank(const FlashOutcome* o, const char* after) {
    const int n = o->address / PAGE_SIZE;
    if (o->kind == OUTCOME_READS_DIFFER) {
        printf("!!! page %d read differently twice: the reads are unreliable, not the flash: "
               "check the cable (lptspi-check shows how) \n",
               n);
        fail_because("page %d read differently twice: the reads are unreliable", n);
        return EXIT_VERIFY_FAILED;
    }
    printf("!!! page %d is not blank%s: %d of its bytes are not ff \n", n, after, o->differ);
    fail_because("page %d is not blank%s", n, after);
    return EXIT_VERIFY_FAILED;
}

// Identifies the chip of a board whose session began with `status`; 0, or the exit status.
static int identified(FlashSession* s, int* status) {
    FlashOutcome o = {};
    unsigned char ids[2][3];
    end_cut_words(s, status);
    if (flash_identify(s, 2, ids, &o) != OUTCOME_DONE)
        return say_outcome(s, &o, NULL);
    say_chip(s);
    return 0;
}

static int erase_board(FlashSession* s, const Job* job, int status, BoardDone* done) {
    int result = identified(s, &status);
    if (result != 0)
        return result;
    FlashOutcome o = {};
    ProtectionState protection;
    found_protection(s, job, status, &protection);
    const ProtectionState found = protection; // as the run found it, for --protect
    if (clear_protection(s, &protection, &o) != OUTCOME_DONE ||
        flash_erase(s, s->chip.size / PAGE_SIZE, &o) != OUTCOME_DONE)
        return say_outcome(s, &o, NULL);
    if (flash_blank_check(s, s->chip.size, &o) != OUTCOME_DONE) {
        if (o.kind == OUTCOME_INTERRUPTED)
            return EXIT_INTERRUPTED;
        progress_newline();
        return not_blank(&o, " after the erase: the flash may still be protected (lptspi-check "
                             "shows how)");
    }
    return job->protect ? protect_again(s, &found, done) : EXIT_VERIFIED;
}

int erase_flash(const Job* job) {
    verdict_start();
    FlashSession s;
    BoardDone done = {};
    const int status = claim_idle_flash(job->port, LINK_FAST, &s, STATUS_BUSY);
    int result = EXIT_NOTHING_WRITTEN;
    if (status >= 0 || session_stopped(&s)) {
        RunWords words;
        listen(&s, &words);
        result = session_stopped(&s) ? EXIT_INTERRUPTED : erase_board(&s, job, status, &done);
        if (result == EXIT_INTERRUPTED) {
            session_idle(&s);
            return result;
        }
        release_flash(&s);
    }
    char extra[128];
    done_text(&done, extra, (int)sizeof extra);
    return say_verdict(result, "%s erased and blank (%d KiB%s, %.1f s)", s.chip.name,
                       s.chip.size / 1024, extra, verdict_seconds());
}

int blank_check(const Job* job) {
    verdict_start();
    FlashSession s;
    // A flash busy with a program or an erase answers reads with garbage.
    int status = claim_idle_flash(job->port, LINK_FAST, &s, STATUS_BUSY);
    int result = EXIT_NOTHING_WRITTEN;
    if (status >= 0 || session_stopped(&s)) {
        RunWords words;
        listen(&s, &words);
        result = session_stopped(&s) ? EXIT_INTERRUPTED : identified(&s, &status);
        FlashOutcome o = {};
        if (result == 0 && flash_blank_check(&s, s.chip.size, &o) != OUTCOME_DONE) {
            progress_newline();
            result = o.kind == OUTCOME_INTERRUPTED ? (int)EXIT_INTERRUPTED : not_blank(&o, "");
        }
        if (result == EXIT_INTERRUPTED) {
            session_idle(&s);
            return result;
        }
        release_flash(&s);
    }
    return say_verdict(result, "%s is blank (%d KiB, %.1f s)", s.chip.name, s.chip.size / 1024,
                       verdict_seconds());
}
