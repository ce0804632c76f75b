// lptspi --verify, top to bottom.
#include "verify.h"

#include "board.h"
#include "protection.h"
#include "verdict.h"
#include "../flash/commands.h"
#include "../flash/link.h"

#include <stdio.h>

int verify_flash(const Image* image, int port) {
    verdict_start();
    linkfast = 1;
    // A flash busy with a program or an erase answers reads with garbage; block protection and
    // a set write latch stop erases and programs, not reads.
    int status = claim_idle_flash(port, STATUS_BUSY);
    int result = EXIT_NOTHING_WRITTEN;
    if (status >= 0) {
        end_cut_words(&status);
        printf("%d pages ...\n", image->pages);
        printf("verifying...\n");
        result = check_pages(image);
        release_flash();
    }
    char sha[32];
    short_sha256(image->bytes, image->size, sha, sizeof sha);
    return say_verdict(result, "the flash holds %s (%d pages, firmware sha256 %s, %.1f s)",
                       image->path, image->pages, sha, verdict_seconds());
}
