// lptspi --fast: the fast run's order and its words, for every flash family in the table.
#include "fast.h"

#include "board.h"
#include "protection.h"
#include "verdict.h"
#include "words.h"
#include "../flash/commands.h"
#include "../flash/identify.h"
#include "../flash/write.h"
#include "../port/interrupt.h"

#include <stdio.h>

int write_board(FlashSession* s, const Image* image, int status) {
    RunWords words;
    listen(s, &words);
    FlashOutcome o = {};
    end_cut_words(s, &status);
    unsigned char ids[2][3];
    if (flash_identify(s, 2, ids, &o) != OUTCOME_DONE)
        return say_outcome(s, &o, image);
    say_chip(s);
    if (image->pages > s->chip.size / PAGE_SIZE) {
        outcome_set(&o, STEP_SIZE, OUTCOME_TOO_SMALL, image->pages, status);
        o.pages = s->chip.size / PAGE_SIZE;
        return say_outcome(s, &o, image);
    }
    ProtectionState protection;
    read_protection(s, status, &protection);
    if (flash_write(s, &protection, image->bytes, image->pages, &o) != OUTCOME_DONE)
        return say_outcome(s, &o, image);
    return check_pages(s, image);
}

int write_and_judge(FlashSession* s, const Image* image, int status) {
    int result = EXIT_NOTHING_WRITTEN;
    if (status >= 0 || session_stopped(s)) {
        result = session_stopped(s) ? EXIT_INTERRUPTED : write_board(s, image, status);
        if (result == EXIT_INTERRUPTED) {
            session_idle(s);
            return result;
        }
        release_flash(s);
    }
    char sha[32];
    short_sha256(image->bytes, image->size, sha, sizeof sha);
    return say_verdict(result, "%s holds %s (%d pages, firmware sha256 %s, %.1f s)", s->chip.name,
                       image->path, image->pages, sha, verdict_seconds());
}

int program_fast(const Job* job) {
    const Image* image = job->image;
    verdict_start();
    FlashSession s;
    session_open(&s, LINK_FAST); // named "the flash" until a chip is identified
    // A busy flash is refused; its protection bits are cleared by write_board.
    const int status = claim_idle_flash(job->port, LINK_FAST, &s, STATUS_BUSY);
    return write_and_judge(&s, image, status);
}
