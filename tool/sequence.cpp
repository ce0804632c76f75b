#include "sequence.h"

#include "image.h"
#include "../flash/commands.h"
#include "../flash/link.h"
#include "../port/clock.h"
#include "../port/opening.h"
#include "../port/registers.h"
#include "../port/system.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int port_number = 1;

int claim_idle_flash(int busy_bits) {
    if (OpenLpt(port_number) == 0) {
        printf("Game over cant get a handle for the parallel port ! \n");
        return -1;
    }
    InitPort();
    Out32(baseport, IDLE_LINES);
    _sleep(100);
    int status = mc_read_status();
    if ((status & busy_bits) != 0) {
        printf("serial flash not idle! reporting state 0x%02x\n\n", status);
        return -1;
    }
    printf("serial flash in idle state 0x%02x\n\n", status);
    return status;
}

void release_flash() {
    Out32(baseport, IDLE_LINES);
    _sleep(100);
}

// Waits for the bulk erase, reading the status every 100 ms and showing each reading.
static void wait_for_erase() {
    _sleep(100);
    for (;;) {
        int status = mc_read_status();
        printf("\rstatus = %02x ", status);
        if (status == 0x00)
            break;
        _sleep(100);
    }
}

// The fast run's status readings: several in one frame, so that a wait costs a few frames rather
// than one frame per reading. Returns the latest.
enum { STATUS_READINGS = 16 };

static int read_latest_status() {
    unsigned char statuses[STATUS_READINGS];
    mc_read_statuses(statuses, STATUS_READINGS);
    return statuses[STATUS_READINGS - 1];
}

// The same wait without pauses: the status is read again at once, and shown when it changes and
// at least every 100 ms, so that the console is not flooded.
static void poll_erase() {
    int shown = -1;
    unsigned long last = 0;
    for (;;) {
        int status = read_latest_status();
        unsigned long now = ticks_ms();
        if (status != shown || now - last >= 100) {
            printf("\rstatus = %02x ", status);
            shown = status;
            last = now;
        }
        if (status == 0x00)
            break;
    }
}

// Reads the first `pages` pages back and compares them with `image`, up to the first that
// differs, whose differing bytes are listed. Returns the exit status.
static int verify_pages(const unsigned char* image, int pages) {
    unsigned char readback[PAGE_SIZE];
    memset(readback, 0, sizeof readback);
    int result = EXIT_VERIFIED;
    for (int n = 0; n < pages; n++) {
        const unsigned char* page = image + n * PAGE_SIZE;
        mc_read(n * PAGE_SIZE, readback, PAGE_SIZE);
        if (memcmp(readback, page, PAGE_SIZE) == 0) {
            printf("\rpage %d ok", n + 1);
            continue;
        }
        printf("!!! page %d failed to verify \n", n);
        for (int i = 0; i < PAGE_SIZE; i++) {
            if (readback[i] != page[i])
                printf("%03x: %02x != %02x\n", i, readback[i], page[i]);
        }
        result = EXIT_VERIFY_FAILED;
        break;
    }
    return result;
}

int program_flash(unsigned char* image, int pages, int fast) {
    linkfast = fast;
    if (claim_idle_flash(0xFF) < 0) {
        free(image);
        return EXIT_NO_PORT_OR_BUSY;
    }
    printf("Bulk erasing flash checking status... \n");

    mc_erase_bulk();
    if (fast)
        poll_erase();
    else
        wait_for_erase();

    printf("\n done! \n");
    printf("programming code..\n");
    printf("%d pages ...\n", pages);
    for (int n = 0; n < pages; n++) {
        int address = n * PAGE_SIZE;
        printf("\rprogramming at %4d", address / PAGE_SIZE);
        if (fast && blank_page(image + address))
            continue; // the erase left it so
        mc_program(address, image + address, PAGE_SIZE);
        while ((fast ? read_latest_status() : mc_read_status()) != 0x00) {
        }
    }

    _sleep(100);
    printf("\ndone, verifying...\n");
    int result = verify_pages(image, pages);
    printf("\ndone!");
    release_flash();
    free(image);
    return result;
}

int verify_flash(unsigned char* image, int pages) {
    linkfast = 1;
    // A flash busy with a program or an erase answers reads with garbage; block protection and
    // a set write latch stop erases and programs, not reads.
    if (claim_idle_flash(STATUS_BUSY) < 0) {
        free(image);
        return EXIT_NO_PORT_OR_BUSY;
    }
    printf("%d pages ...\n", pages);
    printf("verifying...\n");
    int result = verify_pages(image, pages);
    printf("\ndone!");
    release_flash();
    free(image);
    return result;
}
