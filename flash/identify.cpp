// Which chip answers on a session: its identification read, resolved against the table, and
// the kind of answer it was; the chip's own parameter table read beside it, and the older
// identification where 0x9F finds no chip.
#include "identify.h"

#include "commands.h"
#include "sfdp.h"

#include <string.h>

void tell(FlashSession* s, const FlashEvent* event) {
    if (s->watch != NULL && s->watch->heard != NULL)
        s->watch->heard(s->watch->listener, event);
}

void outcome_set(FlashOutcome* o, int step, int kind, int address, int status) {
    o->step = step;
    o->kind = kind;
    o->address = address;
    o->status = status;
}

// No chip answers 0x9F: one of the older generation answers 0x90 with its maker and device, or
// 0xAB with its signature. Returns whether one did, what it read in `s->older`.
static int older_identification(FlashSession* s) {
    mc_read_maker_device(s, s->older);
    const int zeros = s->older[0] == 0x00 && s->older[1] == 0x00;
    const int ones = s->older[0] == 0xFF && s->older[1] == 0xFF;
    if (!zeros && !ones)
        return 1;
    const int signature = mc_read_signature(s);
    s->older[0] = 0x00; // no maker
    s->older[1] = (unsigned char)signature;
    return signature != 0x00 && signature != 0xFF;
}

// A family whose identification another chip shares: a status showing bits that family never
// sets is the other chip's, taken as the common model of the size its identification gives.
static void shared_identification(FlashSession* s) {
    if (s->kind != CHIP_KNOWN || s->chip.foreign_status == 0)
        return;
    const int status = mc_read_status(s);
    if ((status & s->chip.foreign_status) == 0 || status == 0xFF)
        return;
    common_chip(s->id, &s->chip);
    s->kind = CHIP_OTHER;
}

int flash_identify(FlashSession* s, int reads, unsigned char ids[][3], FlashOutcome* o) {
    memset(o, 0, sizeof *o);
    outcome_set(o, STEP_IDENTIFY, OUTCOME_DONE, 0, -1);
    memset(&s->table, 0, sizeof s->table);
    s->table.qe = QE_NOT_GIVEN;
    if (reads < 2)
        reads = 2;
    for (int i = 0; i < reads; i++)
        mc_read_id(s, ids[i]);
    memcpy(o->id, ids[0], 3);
    if (session_stopped(s)) {
        o->kind = OUTCOME_INTERRUPTED;
        return o->kind;
    }
    for (int i = 1; i < reads; i++) {
        if (memcmp(ids[0], ids[i], 3) != 0) {
            memcpy(o->again, ids[i], 3);
            o->kind = OUTCOME_ID_DIFFERS;
            return o->kind;
        }
    }
    memcpy(s->id, ids[0], 3);
    s->kind = resolve_chip(ids[0], &s->chip);
    if (s->kind == CHIP_SILENT) {
        o->kind = OUTCOME_NO_CHIP;
        if (older_identification(s)) {
            s->kind = CHIP_OLDER;
            o->kind = OUTCOME_OLDER_CHIP;
        }
    } else {
        shared_identification(s);
        // The second witness: a known chip's table must agree with its row; an unknown chip's
        // describes it.
        flash_read_table(s, &s->table);
        if (s->table.valid && s->kind == CHIP_KNOWN)
            s->table.differs = table_differs(&s->table, &s->chip);
        else if (s->table.valid && chip_from_table(&s->table, &s->chip))
            s->kind = CHIP_TABLE;
        if (s->kind == CHIP_NO_SIZE)
            o->kind = OUTCOME_NO_SIZE;
    }
    if (session_stopped(s))
        o->kind = OUTCOME_INTERRUPTED;
    return o->kind;
}

int chip_answers(const unsigned char* id) {
    const int zeros = id[0] == 0x00 && id[1] == 0x00 && id[2] == 0x00;
    const int ones = id[0] == 0xFF && id[1] == 0xFF && id[2] == 0xFF;
    return !zeros && !ones;
}
