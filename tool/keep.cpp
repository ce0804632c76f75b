// The board's own bytes: the regions refused, read from the board and put into its image.
#include "keep.h"

#include "board.h"
#include "verdict.h"
#include "../flash/write.h"
#include "../port/interrupt.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { SHOWN_BYTES = 16 };

int regions_refused(const Job* job) {
    const int bytes = job->image->pages * PAGE_SIZE;
    if (job->has_serial) {
        const Serial* n = &job->serial;
        if (n->offset + n->length > bytes) {
            printf("Error --serial at 0x%x (%d bytes) lies outside %s (%d bytes in %d pages): "
                   "nothing touched \n",
                   n->offset, n->length, job->image->path, bytes, job->image->pages);
            fail_because("the serial number lies outside %s: nothing touched", job->image->path);
            return 1;
        }
        for (int i = 0; i < job->keeps; i++) {
            const Region* q = &job->keep[i];
            if (n->offset < q->offset + q->length && q->offset < n->offset + n->length) {
                printf("Error --serial at 0x%x overlaps --keep 0x%x:%d: nothing touched \n",
                       n->offset, q->offset, q->length);
                fail_because("the serial number and a region to keep overlap: nothing touched");
                return 1;
            }
        }
    }
    for (int i = 0; i < job->keeps; i++) {
        const Region* r = &job->keep[i];
        if (r->offset + r->length > bytes) {
            printf("Error --keep 0x%x:%d lies outside %s (%d bytes in %d pages): nothing "
                   "touched \n",
                   r->offset, r->length, job->image->path, bytes, job->image->pages);
            fail_because("--keep 0x%x:%d lies outside %s: nothing touched", r->offset, r->length,
                         job->image->path);
            return 1;
        }
        for (int j = 0; j < i; j++) {
            const Region* q = &job->keep[j];
            if (r->offset < q->offset + q->length && q->offset < r->offset + r->length) {
                printf("Error --keep 0x%x:%d overlaps --keep 0x%x:%d: nothing touched \n",
                       r->offset, r->length, q->offset, q->length);
                fail_because("the regions to keep overlap: nothing touched");
                return 1;
            }
        }
    }
    return 0;
}

enum { LOGGED_BYTES = 64 };

int keep_regions(FlashSession* s, const Job* job, unsigned char* board, char* logged, int size) {
    int used = 0;
    logged[0] = '\0';
    for (int i = 0; i < job->keeps; i++) {
        const Region* r = &job->keep[i];
        if (r->offset + r->length > s->chip.size) {
            printf("!!! --keep 0x%x:%d lies outside %s (%d KiB): nothing erased \n", r->offset,
                   r->length, s->chip.name, s->chip.size / 1024);
            fail_because("a region to keep lies outside %s: nothing erased", s->chip.name);
            return EXIT_NOTHING_WRITTEN;
        }
    }
    for (int i = 0; i < job->keeps; i++) {
        const Region* r = &job->keep[i];
        unsigned char* first = (unsigned char*)malloc((size_t)r->length * 2);
        if (first == NULL) {
            printf("!!! no memory for the region 0x%x:%d: nothing erased \n", r->offset, r->length);
            fail_because("no memory for a region to keep: nothing erased");
            return EXIT_NOTHING_WRITTEN;
        }
        unsigned char* second = first + r->length;
        FlashOutcome o = {};
        // Read twice: what is kept must be what the board holds, not a cable's flipped bit.
        const FlashWatch* watch = s->watch;
        s->watch = NULL; // no progress line for a few bytes
        flash_read(s, r->offset, first, r->length, 0, &o);
        flash_read(s, r->offset, second, r->length, 0, &o);
        s->watch = watch;
        if (session_stopped(s)) {
            free(first);
            return EXIT_INTERRUPTED;
        }
        if (memcmp(first, second, (size_t)r->length) != 0) {
            free(first);
            printf("!!! the region 0x%x:%d read differently twice: the reads are unreliable: "
                   "nothing erased \n",
                   r->offset, r->length);
            fail_because("the region 0x%x:%d read differently twice: nothing erased", r->offset,
                         r->length);
            return EXIT_NOTHING_WRITTEN;
        }
        memcpy(board + r->offset, first, (size_t)r->length);
        printf("kept 0x%06x:%d from the flash:", r->offset, r->length);
        for (int k = 0; k < r->length && k < SHOWN_BYTES; k++)
            printf(" %02x", first[k]);
        printf("%s\n", r->length > SHOWN_BYTES ? " ..." : "");
        if (used < size)
            used += snprintf(logged + used, (size_t)(size - used), "%s0x%x=", i > 0 ? " " : "",
                             r->offset);
        for (int k = 0; k < r->length && k < LOGGED_BYTES && used < size; k++)
            used += snprintf(logged + used, (size_t)(size - used), "%02x", first[k]);
        if (r->length > LOGGED_BYTES && used < size)
            used += snprintf(logged + used, (size_t)(size - used), "...");
        free(first);
    }
    return 0;
}
