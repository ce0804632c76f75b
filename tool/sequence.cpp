#include "sequence.h"

#include "image.h"
#include "protection.h"
#include "../flash/commands.h"
#include "../flash/link.h"
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

// Reads the first `pages` pages back and compares them with `image`, up to the first that
// differs, whose differing bytes are listed. With `again`, a page that differs is read once more
// first: two reads that differ tell of unreliable reads, not of the flash. Returns the exit
// status.
static int verify_pages(const unsigned char* image, int pages, int again) {
    unsigned char readback[PAGE_SIZE], second[PAGE_SIZE];
    memset(readback, 0, sizeof readback);
    int result = EXIT_VERIFIED;
    for (int n = 0; n < pages; n++) {
        const unsigned char* page = image + n * PAGE_SIZE;
        mc_read(n * PAGE_SIZE, readback, PAGE_SIZE);
        if (memcmp(readback, page, PAGE_SIZE) == 0) {
            printf("\rpage %d ok", n + 1);
            continue;
        }
        if (again) {
            mc_read(n * PAGE_SIZE, second, PAGE_SIZE);
            if (memcmp(readback, second, PAGE_SIZE) != 0) {
                printf("!!! page %d read differently twice: the reads are unreliable, not the "
                       "flash: check the cable (lptspi-check shows how) \n",
                       n);
                return EXIT_VERIFY_FAILED;
            }
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
    if (fast)
        return program_fast(image, pages);
    linkfast = 0;
    if (claim_idle_flash(0xFF) < 0) {
        free(image);
        return EXIT_NO_PORT_OR_BUSY;
    }
    printf("Bulk erasing flash checking status... \n");

    mc_erase_bulk();
    wait_for_erase();

    printf("\n done! \n");
    printf("programming code..\n");
    printf("%d pages ...\n", pages);
    for (int n = 0; n < pages; n++) {
        int address = n * PAGE_SIZE;
        printf("\rprogramming at %4d", address / PAGE_SIZE);
        mc_program(address, image + address, PAGE_SIZE);
        while (mc_read_status() != 0x00) {
        }
    }
    return verify_and_release(image, pages, 0);
}

int verify_and_release(unsigned char* image, int pages, int again) {
    _sleep(100);
    printf("\ndone, verifying...\n");
    int result = verify_pages(image, pages, again);
    printf("\ndone!");
    release_flash();
    free(image);
    return result;
}

int verify_flash(unsigned char* image, int pages) {
    linkfast = 1;
    // A flash busy with a program or an erase answers reads with garbage; block protection and
    // a set write latch stop erases and programs, not reads.
    int status = claim_idle_flash(STATUS_BUSY);
    if (status < 0) {
        free(image);
        return EXIT_NO_PORT_OR_BUSY;
    }
    end_cut_words(&status);
    printf("%d pages ...\n", pages);
    printf("verifying...\n");
    int result = verify_pages(image, pages, 1);
    printf("\ndone!");
    release_flash();
    free(image);
    return result;
}
