// The port claimed once, each board's session on it, and the page checks the runs share.
#include "board.h"

#include "image.h"
#include "progress.h"
#include "verdict.h"
#include "../flash/commands.h"
#include "../port/opening.h"
#include "../port/registers.h"
#include "../port/system.h"

#include <stdio.h>
#include <string.h>

static int claimed = -1; // not yet tried
static int claimed_number = 0;

void forget_claim() {
    claimed = -1;
}

int claim_port(int number) {
    if (claimed < 0) {
        claimed_number = number;
        claimed = OpenLpt(number) != 0;
        if (!claimed)
            printf("Game over cant get a handle for the parallel port ! \n");
        else
            InitPort(); // an ECP port set to byte mode, the control lines reset
    }
    if (!claimed)
        fail_because("LPT%d cannot be used (see above): nothing written", claimed_number);
    return claimed;
}

int board_begin(int busy_bits) {
    Out32(baseport, IDLE_LINES);
    _sleep(100);
    int status = mc_read_status();
    if ((status & busy_bits) != 0) {
        printf("serial flash not idle! reporting state 0x%02x\n\n", status);
        fail_because("the flash is not idle (status 0x%02x): nothing written", status);
        return -1;
    }
    printf("serial flash in idle state 0x%02x\n\n", status);
    return status;
}

int claim_idle_flash(int number, int busy_bits) {
    if (!claim_port(number))
        return -1;
    return board_begin(busy_bits);
}

void release_flash() {
    Out32(baseport, IDLE_LINES);
    _sleep(100);
}

// Lists the first `limit` bytes of a page that differ ("0a7: a5 != b5", offset, read, expected);
// returns how many differ in all.
static int list_differences(const unsigned char* read, const unsigned char* page, int limit) {
    int differ = 0;
    for (int i = 0; i < PAGE_SIZE; i++) {
        if (read[i] != page[i] && differ++ < limit)
            printf("%03x: %02x != %02x\n", i, read[i], page[i]);
    }
    return differ;
}

int verify_pages(const unsigned char* image, int pages) {
    unsigned char readback[PAGE_SIZE];
    memset(readback, 0, sizeof readback);
    for (int n = 0; n < pages; n++) {
        const unsigned char* page = image + n * PAGE_SIZE;
        mc_read(n * PAGE_SIZE, readback, PAGE_SIZE);
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

enum { LISTED_DIFFERENCES = 16 };

int check_pages(const Image* image) {
    unsigned char readback[PAGE_SIZE], second[PAGE_SIZE];
    Progress progress;
    progress_start(&progress, "verifying", "pages", image->pages);
    for (int n = 0; n < image->pages; n++) {
        const unsigned char* page = image->bytes + n * PAGE_SIZE;
        mc_read(n * PAGE_SIZE, readback, PAGE_SIZE);
        if (memcmp(readback, page, PAGE_SIZE) == 0) {
            progress_show(&progress, n + 1, -1);
            continue;
        }
        progress_newline();
        mc_read(n * PAGE_SIZE, second, PAGE_SIZE);
        if (memcmp(readback, second, PAGE_SIZE) != 0) {
            printf("!!! page %d read differently twice: the reads are unreliable, not the flash: "
                   "check the cable (lptspi-check shows how) \n",
                   n);
            fail_because("page %d read differently twice: the reads are unreliable, not the "
                         "flash",
                         n);
            return EXIT_VERIFY_FAILED;
        }
        printf("!!! page %d failed to verify \n", n);
        const int differ = list_differences(readback, page, LISTED_DIFFERENCES);
        if (differ > LISTED_DIFFERENCES)
            printf("and %d more bytes differ\n", differ - LISTED_DIFFERENCES);
        fail_because("page %d differs from %s (%d byte%s)", n, image->path, differ,
                     differ == 1 ? "" : "s");
        return EXIT_VERIFY_FAILED;
    }
    progress_end(&progress, image->pages);
    return EXIT_VERIFIED;
}
