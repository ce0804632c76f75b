// lptspi-check's speed finding: how long a port access takes on this PC, and what that makes
// of a run of each program.
#include "check_parts.h"

#include "image.h"
#include "../flash/commands.h"
#include "../port/clock.h"
#include "../port/registers.h"
#include "../port/system.h"

#include <stdio.h>

enum { CHUNK = 4096 };

// Port accesses of the runs, from the link's: lptspi's own link takes four a bit and two a
// frame; the fast link two a bit sent and three a bit received.
static const double DEFAULT_PAGE_ACCESSES = (2 + 1 * 32) + (2 + 260 * 32) + (2 + 2 * 32) +
                                            (2 + 261 * 32); // write enable, program, poll, read
static const double FAST_PAGE_ACCESSES =
    (2 + 1 * 16) + (2 + 260 * 16) + (2 + 16 + 16 * 24) + (2 + 5 * 16 + 256 * 24);
static const double FAST_PAGE_REQUESTS = 4;
static const double BACKUP_FRAMES = 2 * 256; // two reads of 1 MiB, 4 KiB a frame
static const double BACKUP_FRAME_ACCESSES = 2 + 5 * 16 + CHUNK * 24;

void measure_speed(FlashSession* s) {
    // Single accesses, as many as a tenth of a second takes.
    unsigned short status_port = (unsigned short)(baseport + 1);
    long count = 0;
    double start = seconds_now(), elapsed = 0;
    do {
        for (int i = 0; i < 1000; i++)
            Inp32(status_port);
        count += 1000;
        elapsed = seconds_now() - start;
    } while (elapsed < 0.1);
    double single = elapsed / (double)count;
    // A whole frame, which the driver makes in one request where it can.
    static unsigned char chunk[CHUNK];
    start = seconds_now();
    mc_read(s, 0, chunk, CHUNK);
    double inside = (seconds_now() - start) / BACKUP_FRAME_ACCESSES;
    if (sysver == SYSVER_NT && hframes == 1)
        printf("speed: a port access takes %.2f us here as a driver request of its own, %.2f us "
               "inside a frame the driver makes\n",
               single * 1e6, inside * 1e6);
    else
        printf("speed: a port access takes %.2f us here%s\n", single * 1e6,
               sysver == SYSVER_NT ? " (a driver request each: the driver makes no frames)" : "");
    double request = single > inside ? single - inside : 0;
    double full = MAX_PAGES * (DEFAULT_PAGE_ACCESSES * single + 0.1) + 0.5;
    double fast = MAX_PAGES * (FAST_PAGE_ACCESSES * inside + FAST_PAGE_REQUESTS * request) + 0.3;
    double backup = BACKUP_FRAMES * (BACKUP_FRAME_ACCESSES * inside + request);
    printf("speed: on this PC a full 4095-page image takes lptspi about %.0f s and lptspi --fast "
           "about %.0f s, a 1 MiB flash takes lptspi-backup about %.0f s, besides the flash's own "
           "erase and program times\n",
           full, fast, backup);
}
