// lptspi's own run, top to bottom.
#include "sequence.h"

#include "../flash/commands.h"
#include "../flash/link.h"
#include "../port/system.h"

#include <stdio.h>

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

int program_flash(const Image* image, int port) {
    const unsigned char* bytes = image->bytes;
    const int pages = image->pages;
    linkfast = 0;
    if (claim_idle_flash(port, 0xFF) < 0)
        return EXIT_NOTHING_WRITTEN;
    printf("Bulk erasing flash checking status... \n");

    mc_erase_bulk();
    wait_for_erase();

    printf("\n done! \n");
    printf("programming code..\n");
    printf("%d pages ...\n", pages);
    for (int n = 0; n < pages; n++) {
        int address = n * PAGE_SIZE;
        printf("\rprogramming at %4d", address / PAGE_SIZE);
        mc_program(address, bytes + address, PAGE_SIZE);
        while (mc_read_status() != 0x00) {
        }
    }
    _sleep(100);
    printf("\ndone, verifying...\n");
    int result = verify_pages(bytes, pages);
    printf("\ndone!");
    release_flash();
    return result;
}
