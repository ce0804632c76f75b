// lptspi --verify, top to bottom.
#include "verify.h"

#include "board.h"
#include "protection.h"
#include "verdict.h"
#include "words.h"
#include "../flash/commands.h"
#include "../flash/identify.h"
#include "../port/interrupt.h"

#include <stdio.h>

int verify_flash(const Job* job) {
    const Image* image = job->image;
    verdict_start();
    FlashSession s;
    // A flash busy with a program or an erase answers reads with garbage; block protection and
    // a set write latch stop erases and programs, not reads.
    int status = claim_idle_flash(job->port, LINK_FAST, &s, STATUS_BUSY);
    int result = EXIT_NOTHING_WRITTEN;
    if (status >= 0) {
        RunWords words;
        listen(&s, &words);
        end_cut_words(&s, &status);
        // The chip named for the verdict; one that does not say what it is ("the flash") is
        // compared all the same, as reading needs nothing of its row.
        unsigned char ids[2][3];
        FlashOutcome o = {};
        if (flash_identify(&s, 2, ids, &o) == OUTCOME_INTERRUPTED) {
            session_idle(&s);
            return EXIT_INTERRUPTED;
        }
        printf("%d pages ...\n", image->pages);
        printf("verifying...\n");
        result = check_pages(&s, image);
        if (result == EXIT_INTERRUPTED) {
            session_idle(&s);
            return result;
        }
        release_flash(&s);
    } else if (session_stopped(&s)) {
        session_idle(&s);
        return EXIT_INTERRUPTED;
    }
    char sha[32];
    short_sha256(image->bytes, image->size, sha, sizeof sha);
    return say_verdict(result, "%s holds %s (%d pages, firmware sha256 %s, %.1f s)", s.chip.name,
                       image->path, image->pages, sha, verdict_seconds());
}
