// lptspi's own run, top to bottom.
#include "sequence.h"

#include "../flash/commands.h"
#include "../port/interrupt.h"
#include "../port/system.h"

#include <stdio.h>

// Waits for the bulk erase, reading the status every 100 ms and showing each reading. Returns 0
// when Ctrl-C stopped it.
static int wait_for_erase(FlashSession* s) {
    _sleep(100);
    for (;;) {
        int status = mc_read_status(s);
        if (session_stopped(s))
            return 0;
        printf("\rstatus = %02x ", status);
        if (status == 0x00)
            return 1;
        _sleep(100);
    }
}

// Ctrl-C: the lines left idle, the program's note is main's to say.
static int stopped(FlashSession* s) {
    session_idle(s);
    return EXIT_INTERRUPTED;
}

int program_flash(const Job* job) {
    const Image* image = job->image;
    const int port = job->port;
    const unsigned char* bytes = image->bytes;
    const int pages = image->pages;
    FlashSession s;
    if (claim_idle_flash(port, LINK_PLAIN, &s, 0xFF) < 0)
        return session_stopped(&s) ? stopped(&s) : EXIT_NOTHING_WRITTEN;
    printf("Bulk erasing flash checking status... \n");

    mc_erase_bulk(&s);
    if (!wait_for_erase(&s))
        return stopped(&s);

    printf("\n done! \n");
    printf("programming code..\n");
    printf("%d pages ...\n", pages);
    for (int n = 0; n < pages; n++) {
        int address = n * PAGE_SIZE;
        printf("\rprogramming at %4d", address / PAGE_SIZE);
        mc_program(&s, address, bytes + address, PAGE_SIZE);
        while (mc_read_status(&s) != 0x00) {
            if (session_stopped(&s))
                return stopped(&s);
        }
    }
    _sleep(100);
    printf("\ndone, verifying...\n");
    int result = verify_pages(&s, bytes, pages);
    if (result == EXIT_INTERRUPTED)
        return stopped(&s);
    printf("\ndone!");
    release_flash(&s);
    return result;
}
