// Each family's procedure for reading and clearing its protection, and for ending a word
// sequence found cut short.
#include "procedures.h"

#include "commands.h"
#include "wait.h"

#include <stddef.h>
#include <string.h>

enum { WRITE_ENABLE = 0x06, ENABLE_WRITE_STATUS = 0x50 };

const StatusBits* family_status_bits(const FlashChip* chip) {
    return chip != NULL ? chip->status : &STATUS_BP;
}

int status_unprotected(const FlashChip* chip, int status) {
    return (status & ~family_status_bits(chip)->idle) == 0;
}

static int pin_lock_of(const FlashChip* chip, int status) {
    const StatusBits* bits = family_status_bits(chip);
    if ((status & bits->lock) == 0)
        return PIN_LOCK_NONE;
    // A family whose status shows the pin (the AT25DF's WPP) tells whether the lock holds.
    if (bits->idle != 0)
        return (status & bits->idle) != 0 ? PIN_LOCK_NONE : PIN_LOCK_HELD;
    return PIN_LOCK_UNKNOWN;
}

static void read_register(FlashSession* s, ProtectionState* p) {
    p->len = s->chip.protection_register < OUTCOME_REGISTER ? s->chip.protection_register
                                                            : OUTCOME_REGISTER;
    mc_read_protection(s, p->bits, p->len);
    p->protects = 0;
    for (int i = 0; i < p->len; i++)
        p->protects = p->protects || p->bits[i] != 0;
}

int kept_status(const FlashChip* chip, int status) {
    return status & family_status_bits(chip)->keep;
}

int kept_status2(const FlashChip* chip, int status2) {
    const Status2Bits* bits = chip != NULL ? chip->status2 : NULL;
    if (bits == NULL || status2 < 0)
        return -1;
    return status2 & ~bits->protect & bits->writable;
}

// Whether the second status register protects: CMP set turns the BP bits' protection over.
static int status2_protects(const FlashChip* chip, int status2) {
    return chip->status2 != NULL && status2 >= 0 && (status2 & chip->status2->protect) != 0;
}

void read_protection(FlashSession* s, int status, ProtectionState* p) {
    *p = ProtectionState();
    p->where = s->chip.protection->where;
    p->status = status;
    p->status2 = -1;
    if (p->where == PROTECTED_IN_REGISTER) {
        read_register(s, p);
        return;
    }
    if (s->chip.status2 != NULL)
        p->status2 = mc_read_status2(s);
    p->protects = status_protects(&s->chip, status) || status2_protects(&s->chip, p->status2);
    p->pin_lock = pin_lock_of(&s->chip, status);
    // SRP1 refuses every status write, whatever the pin.
    if (p->protects && p->status2 >= 0 && (p->status2 & s->chip.status2->lockdown) != 0)
        p->pin_lock = PIN_LOCK_DOWN;
}

// The write-enable latch cleared after a protection that stayed: the write enable may still
// stand, and nothing may erase this chip now.
static int stayed(FlashSession* s, ProtectionState* p, FlashOutcome* o) {
    mc_write_disable(s);
    if (p->pin_lock != PIN_LOCK_DOWN)
        p->pin_lock = PIN_LOCK_HELD;
    outcome_set(o, STEP_UNPROTECT, OUTCOME_STILL_LOCKED, 0, o->status);
    o->in_register = p->where == PROTECTED_IN_REGISTER;
    return OUTCOME_STILL_LOCKED;
}

static int clear_nothing(FlashSession*, ProtectionState*, FlashOutcome*) {
    return OUTCOME_DONE;
}

// Whether the status registers read `now` and `now2` show nothing protected: the status holds
// nothing but the bits an unprotected idle chip of the family reads and the bits it keeps, and no
// bit of the second register protects.
static int cleared(const FlashChip* chip, int now, int now2) {
    const StatusBits* bits = chip->status;
    return (now & ~(bits->idle | bits->keep)) == 0 && !status2_protects(chip, now2);
}

// Writes back the status registers with the family's protection bits cleared, every bit it keeps
// as read (a second register in the same frame, so that a one-byte write cannot clear it), after
// the family's status-write enable, and waits for its cycle to end; where the write finds the lock
// set and clears only that (the AT25DF's global unprotect), once more.
static int clear_status(FlashSession* s, ProtectionState* p, FlashOutcome* o) {
    const StatusBits* bits = s->chip.status;
    const int status = p->status, enable = s->chip.protection->status_enable;
    const int value = kept_status(&s->chip, status), value2 = kept_status2(&s->chip, p->status2);
    int now = 0, now2 = -1;
    mc_write_statuses(s, enable, value, value2);
    // The status write is a cycle of its own: busy, the write latch set, until it ends.
    int wait = wait_status_write(s, &now);
    if (wait == WAIT_READY && s->chip.protection->global_reset && (status & bits->lock) &&
        !(now & bits->lock) && (now & bits->protect)) {
        mc_write_statuses(s, enable, value, value2);
        wait = wait_status_write(s, &now);
    }
    if (wait == WAIT_READY && value2 >= 0)
        now2 = mc_read_status2(s);
    o->status = now;
    o->status2 = now2;
    if (wait != WAIT_READY) {
        outcome_set(o, STEP_UNPROTECT, wait_outcome(wait), 0, now);
        o->limit = status_write_limit(&s->chip);
        if (wait != WAIT_STOPPED)
            mc_write_disable(s);
        return o->kind;
    }
    if (!cleared(&s->chip, now, now2))
        return stayed(s, p, o);
    const int before2 = p->status2;
    read_protection(s, now, p);
    FlashEvent e = {};
    e.what = EVENT_CLEARED;
    e.before = status;
    e.after = now;
    e.written = value;
    e.before2 = before2;
    e.after2 = now2;
    e.written2 = value2;
    e.how = s->chip.protection->how;
    o->how = e.how;
    tell(s, &e);
    return OUTCOME_DONE;
}

// The global unlock of a chip whose blocks lock in a register of their own.
static int clear_register(FlashSession* s, ProtectionState* p, FlashOutcome* o) {
    unsigned char before[OUTCOME_REGISTER];
    const int len = p->len;
    memcpy(before, p->bits, sizeof before);
    mc_global_unlock(s);
    read_register(s, p);
    if (session_stopped(s)) {
        outcome_set(o, STEP_UNPROTECT, OUTCOME_INTERRUPTED, 0, -1);
        return OUTCOME_INTERRUPTED;
    }
    if (p->protects)
        return stayed(s, p, o);
    FlashEvent e = {};
    e.what = EVENT_CLEARED;
    e.how = CLEARED_BY_GLOBAL_UNLOCK;
    o->how = e.how;
    e.bits = before;
    e.len = len;
    tell(s, &e);
    return OUTCOME_DONE;
}

// The procedures that put protection back (restore.cpp).
int restore_status(FlashSession* s, const ProtectionState* found, FlashOutcome* o);
int restore_register(FlashSession* s, const ProtectionState* found, FlashOutcome* o);
int restore_nothing(FlashSession* s, const ProtectionState* found, FlashOutcome* o);

const Protection PROTECT_NONE = {PROTECTED_NOWHERE, clear_nothing, 0, 0, 0, restore_nothing};
const Protection PROTECT_STATUS_WREN = {
    PROTECTED_IN_STATUS, clear_status, CLEARED_BY_WRITE_STATUS, WRITE_ENABLE, 0, restore_status};
const Protection PROTECT_STATUS_EWSR = {
    PROTECTED_IN_STATUS, clear_status, CLEARED_BY_EWSR_STATUS, ENABLE_WRITE_STATUS, 0,
    restore_status};
// Write enable, then write status 0x00: the global unprotect of every sector, refused while the
// sector-protection lock (SPRL, bit 7) is set with the write-protect pin low; a write that finds
// SPRL set resets only SPRL.
const Protection PROTECT_GLOBAL_UNPROTECT = {
    PROTECTED_IN_STATUS, clear_status, CLEARED_BY_GLOBAL_UNPROTECT, WRITE_ENABLE, 1,
    restore_status};
// Write enable, then the global block-protection unlock (0x98).
const Protection PROTECT_GLOBAL_UNLOCK = {
    PROTECTED_IN_REGISTER, clear_register, CLEARED_BY_GLOBAL_UNLOCK, WRITE_ENABLE, 0,
    restore_register};

int clear_protection(FlashSession* s, ProtectionState* p, FlashOutcome* o) {
    outcome_set(o, STEP_UNPROTECT, OUTCOME_DONE, 0, p->status);
    if (!p->protects)
        return OUTCOME_DONE;
    return s->chip.protection->clear(s, p, o);
}

int clear_protection_bits(FlashSession* s, ProtectionState* p, FlashOutcome* o) {
    outcome_set(o, STEP_UNPROTECT, OUTCOME_DONE, 0, p->status);
    return s->chip.protection->clear(s, p, o);
}

int end_word_sequence(FlashSession* s, int* status, unsigned char* id) {
    if ((*status & STATUS_WORDS) == 0)
        return 0;
    mc_read_id(s, id);
    const int silent = id[0] == 0xFF && id[1] == 0xFF && id[2] == 0xFF;
    const FlashChip* chip = find_chip(id);
    if (!silent && (chip == NULL || !chip->program->words))
        return 0; // bit 6 is a protection bit of this chip's
    mc_write_disable(s);
    *status = mc_read_status(s);
    return 1;
}

int plain_run_obstacles(const FlashChip* chip, int status) {
    if (chip == NULL)
        return 0;
    return ((status & chip->status->idle) != 0 ? PLAIN_PIN_BIT : 0) |
           (chip->bulk_erase == 0 ? PLAIN_NO_BULK : 0) | (chip->program->words ? PLAIN_BYTES : 0);
}

int fast_refusal(int kind, int status, int pin_lock, int table_differs) {
    if (status & STATUS_BUSY)
        return FAST_BUSY;
    if (kind == CHIP_OLDER)
        return FAST_OLDER;
    if (kind == CHIP_NO_SIZE)
        return FAST_NO_SIZE;
    if (table_differs)
        return FAST_TABLE;
    if (pin_lock == PIN_LOCK_DOWN)
        return FAST_LOCKED_DOWN;
    if (pin_lock == PIN_LOCK_HELD)
        return FAST_PIN_LOCK;
    if (pin_lock == PIN_LOCK_UNKNOWN)
        return FAST_PIN_UNKNOWN;
    return 0;
}
