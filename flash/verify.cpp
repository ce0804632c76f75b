// Reading the chip back against an image, and reading it out.
#include "write.h"

#include "commands.h"

#include <string.h>

enum { PAGE = 256, CHUNK = 4096 };

static void told(FlashSession* s, int what, int done, int total, int pass) {
    FlashEvent e = {};
    e.what = what;
    e.done = done;
    e.total = total;
    e.status = -1;
    e.pass = pass;
    tell(s, &e);
}

int flash_verify(FlashSession* s, const unsigned char* image, int pages, FlashOutcome* o) {
    unsigned char second[PAGE];
    outcome_set(o, STEP_VERIFY, OUTCOME_DONE, 0, -1);
    told(s, EVENT_VERIFY_BEGINS, 0, pages, 0);
    for (int n = 0; n < pages; n++) {
        const unsigned char* page = image + n * PAGE;
        mc_read(s, n * PAGE, o->read, PAGE);
        if (session_stopped(s)) {
            outcome_set(o, STEP_VERIFY, OUTCOME_INTERRUPTED, n * PAGE, -1);
            return o->kind;
        }
        if (memcmp(o->read, page, PAGE) == 0) {
            told(s, EVENT_VERIFYING, n + 1, pages, 0);
            continue;
        }
        mc_read(s, n * PAGE, second, PAGE);
        const int kind =
            memcmp(o->read, second, PAGE) != 0 ? OUTCOME_READS_DIFFER : OUTCOME_DIFFERS;
        outcome_set(o, STEP_VERIFY, kind, n * PAGE, -1);
        o->differ = 0;
        for (int i = 0; i < PAGE; i++)
            o->differ += o->read[i] != page[i];
        return kind;
    }
    told(s, EVENT_VERIFY_ENDS, pages, pages, 0);
    return OUTCOME_DONE;
}

int flash_read(FlashSession* s, int from, unsigned char* buffer, int size, int pass,
               FlashOutcome* o) {
    outcome_set(o, STEP_READ, OUTCOME_DONE, from, -1);
    told(s, EVENT_READ_BEGINS, 0, size / PAGE, pass);
    for (int address = 0; address < size; address += CHUNK) {
        mc_read(s, from + address, buffer + address,
                size - address < CHUNK ? size - address : CHUNK);
        if (session_stopped(s)) {
            outcome_set(o, STEP_READ, OUTCOME_INTERRUPTED, from + address, -1);
            return o->kind;
        }
        told(s, EVENT_READING, (address + CHUNK < size ? address + CHUNK : size) / PAGE,
             size / PAGE, pass);
    }
    told(s, EVENT_READ_ENDS, size / PAGE, size / PAGE, pass);
    return OUTCOME_DONE;
}

int flash_blank_check(FlashSession* s, int size, FlashOutcome* o) {
    static unsigned char chunk[CHUNK];
    const int step = size < CHUNK ? size : CHUNK;
    outcome_set(o, STEP_READ, OUTCOME_DONE, 0, -1);
    told(s, EVENT_READ_BEGINS, 0, size / PAGE, 0);
    for (int address = 0; address < size; address += step) {
        mc_read(s, address, chunk, step);
        if (session_stopped(s)) {
            outcome_set(o, STEP_READ, OUTCOME_INTERRUPTED, address, -1);
            return o->kind;
        }
        for (int at = 0; at < step; at += PAGE) {
            if (flash_blank(chunk + at))
                continue;
            unsigned char again[PAGE];
            mc_read(s, address + at, again, PAGE);
            memcpy(o->read, chunk + at, PAGE);
            const int differ = memcmp(again, chunk + at, PAGE) != 0;
            outcome_set(o, STEP_READ, differ ? OUTCOME_READS_DIFFER : OUTCOME_NOT_BLANK,
                        address + at, -1);
            o->differ = 0;
            for (int i = 0; i < PAGE; i++)
                o->differ += chunk[at + i] != 0xFF;
            return o->kind;
        }
        told(s, EVENT_READING, (address + step) / PAGE, size / PAGE, 0);
    }
    told(s, EVENT_READ_ENDS, size / PAGE, size / PAGE, 0);
    return OUTCOME_DONE;
}
