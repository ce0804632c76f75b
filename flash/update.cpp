// Writing only what differs: the erase units an image covers compared with the chip, and only
// those that differ erased, programmed and read back.
#include "write.h"

#include "commands.h"
#include "wait.h"

#include <string.h>

enum { PAGE = 256, CHUNK = 4096, LARGEST_UNIT = 64 * 1024 };

// The smallest erase the chip has, which an update rewrites at a time.
static EraseGeometry update_unit(const FlashChip* chip) {
    EraseGeometry list[4];
    const int n = erase_geometries(chip, list);
    EraseGeometry unit = {PAGE, 0, 0, 0};
    for (int i = 0; i < n; i++) {
        if (list[i].size != 0 && list[i].size <= LARGEST_UNIT)
            unit = list[i];
    }
    return unit;
}

// The unit at `address` erased, checked blank and programmed with the image's `count` pages
// from `first`, then read back.
static int rewrite(FlashSession* s, const EraseGeometry* unit, int address,
                   const unsigned char* image, int first, int count, FlashOutcome* o) {
    const double limit = 2 * unit->max_ms / 1000.0;
    int status = 0;
    mc_erase_at(s, unit->command, address);
    const int wait = wait_ready(s, limit, STATUS_READINGS, &status);
    if (wait != WAIT_READY) {
        outcome_set(o, STEP_ERASE, wait_outcome(wait), address, status);
        o->limit = limit;
        o->erase_unit = unit->size;
        return o->kind;
    }
    unsigned char page[PAGE], again[PAGE];
    mc_read(s, address, page, PAGE);
    if (!flash_blank(page)) {
        mc_read(s, address, again, PAGE);
        const int kind = memcmp(page, again, PAGE) != 0 ? OUTCOME_READS_DIFFER : OUTCOME_NOT_BLANK;
        if (kind == OUTCOME_NOT_BLANK)
            mc_write_disable(s); // the refused erase's write enable may still stand
        outcome_set(o, STEP_ERASE_CHECK, kind, address, -1);
        return kind;
    }
    // The progress is the comparison's: the programming tells no one.
    const FlashWatch* watch = s->watch;
    s->watch = NULL;
    const int kind = s->chip.program->write(s, image, first, count, o);
    s->watch = watch;
    if (kind != OUTCOME_DONE)
        return kind;
    for (int n = first; n < first + count; n++) {
        mc_read(s, n * PAGE, o->read, PAGE);
        if (memcmp(o->read, image + n * PAGE, PAGE) == 0)
            continue;
        mc_read(s, n * PAGE, again, PAGE);
        const int differ = memcmp(o->read, again, PAGE) != 0;
        outcome_set(o, STEP_VERIFY, differ ? OUTCOME_READS_DIFFER : OUTCOME_DIFFERS, n * PAGE, -1);
        o->differ = 0;
        for (int i = 0; i < PAGE; i++)
            o->differ += o->read[i] != image[n * PAGE + i];
        return o->kind;
    }
    return OUTCOME_DONE;
}

int flash_update(FlashSession* s, ProtectionState* p, const unsigned char* image, int pages,
                 UpdateCount* count, FlashOutcome* o) {
    static unsigned char chip[LARGEST_UNIT];
    const EraseGeometry unit = update_unit(&s->chip);
    const int bytes = pages * PAGE;
    count->unit = unit.size;
    count->units = (bytes + unit.size - 1) / unit.size;
    count->written = 0;
    outcome_set(o, STEP_VERIFY, OUTCOME_DONE, 0, -1);
    FlashEvent e = {};
    e.what = EVENT_READ_BEGINS;
    e.total = count->units;
    e.pass = 4;
    e.unit = unit.size;
    e.status = -1;
    tell(s, &e);
    int cleared = 0;
    for (int n = 0; n < count->units; n++) {
        const int address = n * unit.size;
        const int length = bytes - address < unit.size ? bytes - address : unit.size;
        // Read a frame at a time, up to the first that differs: the unit is rewritten whole.
        int same = 1;
        for (int at = 0; at < length && same; at += CHUNK) {
            const int part = length - at < CHUNK ? length - at : CHUNK;
            mc_read(s, address + at, chip + at, part);
            same = memcmp(chip + at, image + address + at, (size_t)part) == 0;
        }
        if (session_stopped(s)) {
            outcome_set(o, STEP_READ, OUTCOME_INTERRUPTED, address, -1);
            return o->kind;
        }
        if (!same) {
            if (!cleared && clear_protection(s, p, o) != OUTCOME_DONE)
                return o->kind;
            cleared = 1;
            if (rewrite(s, &unit, address, image, address / PAGE, length / PAGE, o) != OUTCOME_DONE)
                return o->kind;
            count->written++;
        }
        e.what = EVENT_READING;
        e.done = n + 1;
        tell(s, &e);
    }
    e.what = EVENT_READ_ENDS;
    e.done = count->units;
    tell(s, &e);
    outcome_set(o, STEP_VERIFY, OUTCOME_DONE, 0, -1);
    return OUTCOME_DONE;
}
