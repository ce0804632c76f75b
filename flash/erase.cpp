// Erasing a range by the chip's erase geometries, and checking that the erase took.
#include "write.h"

#include "commands.h"
#include "wait.h"
#include "../port/clock.h"

#include <string.h>

enum { PAGE = 256 };

int erase_geometries(const FlashChip* chip, EraseGeometry* list) {
    int n = 0;
    if (chip->bulk_erase != 0)
        list[n++] = {0, chip->bulk_erase, chip->bulk_ms, chip->bulk_max_ms};
    if (chip->sector_erase != 0)
        list[n++] = {ERASE_SECTOR, chip->sector_erase, chip->sector_ms, chip->sector_max_ms};
    if (chip->small_erase != 0)
        list[n++] = {ERASE_SMALL, chip->small_erase, chip->sector_ms, chip->sector_max_ms};
    if (chip->page_erase != 0)
        list[n++] = {PAGE, chip->page_erase, chip->sector_ms, chip->sector_max_ms};
    return n;
}

EraseGeometry erase_plan(const FlashChip* chip, int bytes, int* count) {
    EraseGeometry list[4];
    const int n = erase_geometries(chip, list);
    EraseGeometry plan = n > 0 ? list[0] : EraseGeometry{PAGE, 0, 0, 0};
    *count = 1;
    if (plan.size != 0) {
        *count = (bytes + plan.size - 1) / plan.size;
        if (*count < 0)
            *count = 0;
    }
    return plan;
}

static int failed(FlashOutcome* o, int step, int wait, int status, double limit) {
    outcome_set(o, step, wait_outcome(wait), 0, status);
    o->limit = limit;
    return o->kind;
}

// Waits for a whole-chip erase that usually takes `usual_ms`, at most `limit` seconds, telling
// how far it is with the flash's status.
static int wait_chip_erase(FlashSession* s, int usual_ms, double limit, int* status) {
    const double start = seconds_now();
    FlashEvent e = {};
    e.what = EVENT_ERASING;
    for (;;) {
        // A tenth of a second at a time, so that the line moves.
        int wait = wait_ready(s, 0.1, STATUS_READINGS, status);
        const double elapsed = seconds_now() - start;
        if (wait != WAIT_BUSY)
            return wait;
        if (elapsed > limit)
            return WAIT_BUSY;
        e.done = usual_ms > 0 ? (int)(elapsed * 1000) : 0;
        e.status = *status;
        tell(s, &e);
    }
}

int flash_erase(FlashSession* s, int pages, FlashOutcome* o) {
    int count = 0, status = 0;
    const EraseGeometry plan = erase_plan(&s->chip, pages * PAGE, &count);
    const double limit = 2 * plan.max_ms / 1000.0;
    o->erase_unit = plan.size;
    FlashEvent e = {};
    e.what = EVENT_ERASE_BEGINS;
    e.unit = plan.size;
    e.total = plan.size == 0 ? (plan.typical_ms > 0 ? plan.typical_ms : 1) : count;
    tell(s, &e);
    if (plan.size == 0) {
        mc_erase_bulk(s);
        int wait = wait_chip_erase(s, plan.typical_ms, limit, &status);
        if (wait != WAIT_READY)
            return failed(o, STEP_ERASE, wait, status, limit);
    } else {
        e.what = EVENT_ERASING;
        e.status = -1;
        for (int n = 0; n < count; n++) {
            mc_erase_at(s, plan.command, n * plan.size);
            int wait = wait_ready(s, limit, STATUS_READINGS, &status);
            if (wait != WAIT_READY)
                return failed(o, STEP_ERASE, wait, status, limit);
            e.done = n + 1;
            tell(s, &e);
        }
    }
    e.what = EVENT_ERASE_ENDS;
    e.done = plan.size == 0 ? 0 : count;
    tell(s, &e);
    return OUTCOME_DONE;
}

int flash_blank(const unsigned char* page) {
    for (int i = 0; i < PAGE; i++) {
        if (page[i] != 0xFF)
            return 0;
    }
    return 1;
}

// One page from each 64 KiB block the image uses must read blank after the erase: a chip that
// ignored its erase (protected, or not the family its identification names) is found here
// rather than by a page that fails to verify. A page that is not blank is read again: two reads
// that differ tell of a flaky cable, not of protection.
int flash_erase_took(FlashSession* s, int pages, FlashOutcome* o) {
    unsigned char page[PAGE], again[PAGE];
    for (int address = 0; address < pages * PAGE; address += ERASE_SECTOR) {
        mc_read(s, address, page, PAGE);
        if (session_stopped(s)) {
            outcome_set(o, STEP_ERASE_CHECK, OUTCOME_INTERRUPTED, address, -1);
            return o->kind;
        }
        if (flash_blank(page))
            continue;
        mc_read(s, address, again, PAGE);
        const int kind = memcmp(page, again, PAGE) != 0 ? OUTCOME_READS_DIFFER : OUTCOME_NOT_BLANK;
        // An erase the chip refused leaves its write enable standing: nothing may erase or
        // program this chip now.
        if (kind == OUTCOME_NOT_BLANK)
            mc_write_disable(s);
        outcome_set(o, STEP_ERASE_CHECK, kind, address, -1);
        return kind;
    }
    return OUTCOME_DONE;
}
