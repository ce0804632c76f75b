// The port claimed, each board's session on it, and the page checks the runs share.
#include "board.h"

#include "image.h"
#include "words.h"
#include "verdict.h"
#include "../flash/commands.h"
#include "../flash/wake.h"
#include "../flash/write.h"
#include "../port/interrupt.h"
#include "../port/opening.h"
#include "../port/registers.h"

#include <stdio.h>
#include <string.h>

int claim_port(int number, int link, FlashSession* s) {
    session_open(s, link); // nothing claimed yet: no chip, no stop
    if (OpenLpt(number) == 0) {
        printf("Game over cant get a handle for the parallel port ! \n");
        fail_because("LPT%d cannot be used (see above): nothing written", number);
        return 0;
    }
    InitPort();            // an ECP port set to byte mode, the control lines reset
    session_open(s, link); // on the port claimed
    return 1;
}

int board_begin(FlashSession* s, int busy_bits) {
    // Every run but lptspi's own first wakes a chip that a board's processor left in deep
    // power-down: asleep, it answers nothing but its release.
    int status = s->link == LINK_PLAIN ? session_begin(s) : session_begin_awake(s);
    if (session_stopped(s))
        return -1;
    if ((status & busy_bits) != 0) {
        printf("serial flash not idle! reporting state 0x%02x\n\n", status);
        fail_because("the flash is not idle (status 0x%02x): nothing written", status);
        return -1;
    }
    printf("serial flash in idle state 0x%02x\n\n", status);
    return status;
}

int claim_idle_flash(int number, int link, FlashSession* s, int busy_bits) {
    if (!claim_port(number, link, s))
        return -1;
    return board_begin(s, busy_bits);
}

void release_flash(FlashSession* s) {
    session_end(s);
}

int verify_pages(FlashSession* s, const unsigned char* image, int pages) {
    unsigned char readback[PAGE_SIZE];
    memset(readback, 0, sizeof readback);
    for (int n = 0; n < pages; n++) {
        const unsigned char* page = image + n * PAGE_SIZE;
        mc_read(s, n * PAGE_SIZE, readback, PAGE_SIZE);
        if (session_stopped(s))
            return EXIT_INTERRUPTED;
        if (memcmp(readback, page, PAGE_SIZE) == 0) {
            printf("\rpage %d ok", n + 1);
            continue;
        }
        printf("!!! page %d failed to verify \n", n);
        list_differences(readback, page, PAGE_SIZE);
        return EXIT_VERIFY_FAILED;
    }
    return EXIT_VERIFIED;
}

int check_pages(FlashSession* s, const Image* image) {
    FlashOutcome o = {};
    if (flash_verify(s, image->bytes, image->pages, &o) == OUTCOME_DONE)
        return EXIT_VERIFIED;
    return say_outcome(s, &o, image);
}
