// What a board's write did beyond the image, in words: the protection put back (or why it could
// not be), an update's counts, and the verdict's extra clauses.
#include "words.h"

#include "board.h"
#include "protection.h"
#include "verdict.h"
#include "waits.h"

#include <stdio.h>

// Protection that could not be put back: the image is written.
int not_restored(const FlashOutcome* o) {
    if (o->kind == OUTCOME_BUSY || o->kind == OUTCOME_SILENT) {
        say_wait_failed(o->kind == OUTCOME_SILENT ? WAIT_SILENT : WAIT_BUSY, o->status,
                        "the status write", o->limit);
    } else if (o->status >= 0) {
        printf("!!! the protection could not be put back: the status reads 0x%02x: hold the "
               "write-protect pin high; the image is written \n",
               o->status);
    } else {
        char bits[3 * OUTCOME_REGISTER + 1];
        format_locks(bits, sizeof bits, o->read, o->pages);
        printf("!!! the protection could not be put back: the block-protection register reads "
               "%s; the image is written \n",
               bits);
    }
    fail_because("the protection could not be put back: the image is written");
    return EXIT_VERIFY_FAILED;
}

void say_restored(const FlashSession* s, const FlashOutcome* o, char* text, int size) {
    char bits[3 * OUTCOME_REGISTER + 1];
    switch (o->how) {
    case RESTORED_NOTHING:
        printf("protection: none found, and %s comes up unprotected: nothing set\n", s->chip.name);
        snprintf(text, (size_t)size, "nothing to protect");
        return;
    case RESTORED_REGISTER:
        format_locks(bits, sizeof bits, o->read, o->pages);
        printf("protection put back: block-protection register %s\n", bits);
        snprintf(text, (size_t)size, "protection put back: register %s", bits);
        return;
    case RESTORED_SECTORS:
        printf("protection put back: %d sector%s protected, status 0x%02x\n", o->address,
               o->address == 1 ? "" : "s", o->status);
        snprintf(text, (size_t)size, "protection put back: %d sector%s", o->address,
                 o->address == 1 ? "" : "s");
        return;
    default:
        printf("protection put back: status 0x%02x\n", o->status);
        snprintf(text, (size_t)size, "protection put back: status 0x%02x", o->status);
        return;
    }
}

void say_updated(const UpdateCount* count) {
    if (count->unit == PAGE_SIZE)
        printf("updated %d of %d pages, %d the same\n", count->written, count->units,
               count->units - count->written);
    else
        printf("updated %d of %d sectors of %d KiB, %d the same\n", count->written, count->units,
               count->unit / 1024, count->units - count->written);
}

void done_text(const BoardDone* done, char* text, int size) {
    int used = 0;
    text[0] = '\0';
    if (done->kept > 0)
        used += snprintf(text + used, (size_t)(size - used), ", %d region%s kept", done->kept,
                         done->kept == 1 ? "" : "s");
    if (done->updated && used < size)
        used += snprintf(text + used, (size_t)(size - used), ", %d written, %d skipped",
                         done->update.written, done->update.units - done->update.written);
    if (done->serial[0] != '\0' && used < size)
        used += snprintf(text + used, (size_t)(size - used), ", serial %s", done->serial);
    if (done->restored != 0 && used < size)
        snprintf(text + used, (size_t)(size - used), ", %s", done->protection);
}
