// lptspi --fast and --update: the fast run's order and its words, for every flash family in the
// table.
#include "fast.h"

#include "board.h"
#include "keep.h"
#include "protection.h"
#include "verdict.h"
#include "words.h"
#include "../flash/commands.h"
#include "../flash/identify.h"
#include "../port/interrupt.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// After the write: the protection put back, said in one line and kept for the verdict.
int protect_again(FlashSession* s, const ProtectionState* found, BoardDone* done) {
    FlashOutcome o = {};
    if (restore_protection(s, found, &o) == OUTCOME_INTERRUPTED)
        return EXIT_INTERRUPTED;
    if (o.kind != OUTCOME_DONE)
        return say_outcome(s, &o, NULL);
    done->restored = o.how;
    say_restored(s, &o, done->protection, (int)sizeof done->protection);
    return EXIT_VERIFIED;
}

void found_protection(FlashSession* s, const Job* job, int status, ProtectionState* p) {
    read_protection(s, status, p);
    if (job->protect)
        read_sector_protection(s, p);
}

// The write itself, on the board's image (the job's with the board's own bytes in it).
static int write_image(FlashSession* s, const Job* job, const Image* board, int status,
                       BoardDone* done) {
    FlashOutcome o = {};
    ProtectionState protection;
    found_protection(s, job, status, &protection);
    const ProtectionState found = protection; // as the run found it, for --protect
    int result;
    if (job->update) {
        done->updated = 1;
        if (flash_update(s, &protection, board->bytes, board->pages, &done->update, &o) !=
            OUTCOME_DONE)
            return say_outcome(s, &o, board);
        say_updated(&done->update);
        result = EXIT_VERIFIED;
    } else {
        if (flash_write(s, &protection, board->bytes, board->pages, &o) != OUTCOME_DONE)
            return say_outcome(s, &o, board);
        result = check_pages(s, board);
    }
    if (result == EXIT_VERIFIED && job->protect)
        result = protect_again(s, &found, done);
    return result;
}

int write_board(FlashSession* s, const Job* job, int status, BoardDone* done) {
    const Image* image = job->image;
    RunWords words;
    listen(s, &words);
    memset(done, 0, sizeof *done);
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
    if (job->keeps == 0 && !job->has_serial)
        return write_image(s, job, image, status, done);
    // The board's serial number and its own bytes go into a copy of the image, which is written
    // and verified whole.
    Image board = *image;
    board.bytes = (unsigned char*)malloc((size_t)image->pages * PAGE_SIZE + 1);
    if (board.bytes == NULL) {
        printf("Cant malloc memory for the board's image ! \n");
        fail_because("no memory for the board's image: nothing erased");
        return EXIT_NOTHING_WRITTEN;
    }
    memcpy(board.bytes, image->bytes, (size_t)image->pages * PAGE_SIZE);
    if (job->has_serial) {
        serial_bytes(&job->serial, job->serial.value, board.bytes + job->serial.offset);
        serial_text(&job->serial, job->serial.value, done->serial);
        printf("serial %s at 0x%06x\n", done->serial, job->serial.offset);
    }
    int result = keep_regions(s, job, board.bytes, done->kept_bytes, (int)sizeof done->kept_bytes);
    if (result == 0) {
        done->kept = job->keeps;
        result = write_image(s, job, &board, status, done);
    }
    free(board.bytes);
    return result;
}

int write_and_judge(FlashSession* s, const Job* job, int status, BoardDone* done) {
    const Image* image = job->image;
    int result = EXIT_NOTHING_WRITTEN;
    memset(done, 0, sizeof *done);
    if (status >= 0 || session_stopped(s)) {
        result = session_stopped(s) ? EXIT_INTERRUPTED : write_board(s, job, status, done);
        if (result == EXIT_INTERRUPTED) {
            session_idle(s);
            return result;
        }
        release_flash(s);
    }
    char sha[32], extra[192];
    short_sha256(image->bytes, image->size, sha, sizeof sha);
    done_text(done, extra, (int)sizeof extra);
    return say_verdict(result, "%s holds %s (%d pages, firmware sha256 %s%s, %.1f s)", s->chip.name,
                       image->path, image->pages, sha, extra, verdict_seconds());
}

int program_fast(const Job* job) {
    verdict_start();
    if (regions_refused(job))
        return say_verdict(EXIT_NOTHING_WRITTEN, "%s", "");
    FlashSession s;
    session_open(&s, LINK_FAST); // named "the flash" until a chip is identified
    // A busy flash is refused; its protection bits are cleared by write_board.
    const int status = claim_idle_flash(job->port, LINK_FAST, &s, STATUS_BUSY);
    BoardDone done;
    return write_and_judge(&s, job, status, &done);
}
