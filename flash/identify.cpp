// Which chip answers on a session: its identification read, resolved against the table, and
// the kind of answer it was.
#include "identify.h"

#include "commands.h"

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

int flash_identify(FlashSession* s, int reads, unsigned char ids[][3], FlashOutcome* o) {
    memset(o, 0, sizeof *o);
    outcome_set(o, STEP_IDENTIFY, OUTCOME_DONE, 0, -1);
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
    if (s->kind == CHIP_SILENT)
        o->kind = OUTCOME_NO_CHIP;
    else if (s->kind == CHIP_NO_SIZE)
        o->kind = OUTCOME_NO_SIZE;
    return o->kind;
}

int chip_answers(const unsigned char* id) {
    const int zeros = id[0] == 0x00 && id[1] == 0x00 && id[2] == 0x00;
    const int ones = id[0] == 0xFF && id[1] == 0xFF && id[2] == 0xFF;
    return !zeros && !ones;
}
