// Protection put back after a write: what the run found, or the chip's power-up protection,
// written by the family's own commands and read back.
#include "procedures.h"

#include "commands.h"
#include "wait.h"

#include <string.h>

enum { SECTOR = 64 * 1024, ENABLE_WRITE_STATUS = 0x50, AT_GLOBAL = 0x3C, AT_SWP = 0x0C };

void read_sector_protection(FlashSession* s, ProtectionState* p) {
    p->sectors = 0;
    if (!s->chip.protection->global_reset)
        return; // only the AT25DF keeps a protection bit for each sector
    const int sectors = s->chip.size / SECTOR;
    memset(p->sector_bits, 0, sizeof p->sector_bits);
    for (int n = 0; n < sectors && n < 8 * OUTCOME_REGISTER; n++) {
        if (mc_sector_protected(s, n * SECTOR))
            p->sector_bits[n / 8] = (unsigned char)(p->sector_bits[n / 8] | 1 << (n % 8));
    }
    p->sectors = sectors;
}

static void write_status_value(FlashSession* s, int value) {
    if (s->chip.protection->status_enable == ENABLE_WRITE_STATUS)
        mc_write_status_ewsr(s, value);
    else
        mc_write_status(s, value);
}

// Writes `value` to the status register and waits for its cycle; the outcome of a wait that
// did not end ready.
static int status_written(FlashSession* s, int value, FlashOutcome* o) {
    int now = 0;
    write_status_value(s, value);
    const int wait = wait_status_write(s, &now);
    o->status = now;
    if (wait == WAIT_READY)
        return OUTCOME_DONE;
    outcome_set(o, STEP_PROTECT, wait_outcome(wait), 0, now);
    o->limit = status_write_limit(&s->chip);
    return o->kind;
}

// The sectors `found` showed protected, each protected again (the chip's sector lock clear, as
// the run left it), then the lock as found; or every sector, as at power-up, by the global
// protect.
static int restore_sectors(FlashSession* s, const ProtectionState* found, FlashOutcome* o) {
    const StatusBits* bits = s->chip.status;
    const int lock = found->status & bits->lock;
    int count = 0;
    int value = -1;
    if (!found->protects || (found->status & AT_SWP) == AT_SWP) {
        value = AT_GLOBAL | lock; // every sector: at power-up, or as found
        o->how = RESTORED_STATUS;
    } else {
        for (int n = 0; n < found->sectors; n++) {
            if (found->sector_bits[n / 8] & (1 << (n % 8))) {
                mc_protect_sector(s, n * SECTOR);
                count++;
            }
        }
        o->how = RESTORED_SECTORS;
        o->address = count;
        if (lock)
            value = lock | 0x04; // the lock alone: bits 5-2 neither all set nor all clear
    }
    if (value >= 0 && status_written(s, value, o) != OUTCOME_DONE)
        return o->kind;
    o->status = mc_read_status(s);
    const int swp = !found->protects ? AT_SWP : found->status & AT_SWP;
    if ((o->status & (AT_SWP | bits->lock)) != (swp | lock))
        outcome_set(o, STEP_PROTECT, OUTCOME_NOT_RESTORED, 0, o->status);
    return o->kind;
}

int restore_status(FlashSession* s, const ProtectionState* found, FlashOutcome* o) {
    outcome_set(o, STEP_PROTECT, OUTCOME_DONE, 0, -1);
    if (s->chip.protection->global_reset)
        return restore_sectors(s, found, o);
    const StatusBits* bits = s->chip.status;
    const int mask = bits->protect | bits->lock;
    const int target = found->protects ? found->status & mask : s->chip.power_up_status & mask;
    if (target == 0) {
        o->how = RESTORED_NOTHING;
        return OUTCOME_DONE;
    }
    o->how = RESTORED_STATUS;
    const int now = mc_read_status(s);
    if (status_written(s, (now & ~mask & ~(STATUS_BUSY | STATUS_LATCH)) | target, o) !=
        OUTCOME_DONE)
        return o->kind;
    o->status = mc_read_status(s);
    if ((o->status & mask) != target)
        outcome_set(o, STEP_PROTECT, OUTCOME_NOT_RESTORED, 0, o->status);
    return o->kind;
}

int restore_register(FlashSession* s, const ProtectionState* found, FlashOutcome* o) {
    outcome_set(o, STEP_PROTECT, OUTCOME_DONE, 0, -1);
    const int len = found->len;
    unsigned char target[OUTCOME_REGISTER] = {};
    if (found->protects)
        memcpy(target, found->bits, (size_t)len);
    else
        memcpy(target, s->chip.power_up_locks,
               (size_t)(len < (int)sizeof s->chip.power_up_locks
                            ? len
                            : (int)sizeof s->chip.power_up_locks));
    int any = 0;
    for (int i = 0; i < len; i++)
        any = any || target[i] != 0;
    if (!any) {
        o->how = RESTORED_NOTHING;
        return OUTCOME_DONE;
    }
    o->how = RESTORED_REGISTER;
    mc_write_protection(s, target, len);
    mc_read_protection(s, o->read, len);
    o->pages = len;
    if (memcmp(o->read, target, (size_t)len) != 0)
        outcome_set(o, STEP_PROTECT, OUTCOME_NOT_RESTORED, 0, -1);
    return o->kind;
}

int restore_nothing(FlashSession*, const ProtectionState*, FlashOutcome* o) {
    outcome_set(o, STEP_PROTECT, OUTCOME_DONE, 0, -1);
    o->how = RESTORED_NOTHING;
    return OUTCOME_DONE;
}

int restore_protection(FlashSession* s, const ProtectionState* found, FlashOutcome* o) {
    const int kind = s->chip.protection->restore(s, found, o);
    if (kind == OUTCOME_DONE && session_stopped(s)) {
        outcome_set(o, STEP_PROTECT, OUTCOME_INTERRUPTED, 0, -1);
        return o->kind;
    }
    if (kind != OUTCOME_DONE && kind != OUTCOME_INTERRUPTED)
        mc_write_disable(s);
    return o->kind;
}
