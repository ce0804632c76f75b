// lptspi-check's findings on the flash's protection: the status decoded, the block locks, and
// --unprotect, which clears them by the family's own procedure.
#include "check_parts.h"

#include "protection.h"
#include "waits.h"
#include "../flash/commands.h"
#include "../flash/wait.h"

#include <stdio.h>
#include <string.h>

// What lptspi --fast does with a status lptspi refuses, one clause: it clears the protection by
// the family's procedure unless a lock bit holds it, the write-protect pin being low.
static const char* fast_on_status(const FlashChip* chip, int status, int pin_lock) {
    if (pin_lock == PIN_LOCK_DOWN)
        return "the status registers are locked down (SRP1, see status register 2): no status "
               "write is taken, so the protection stays, for lptspi --fast too";
    if (!status_protects(chip, status))
        return "lptspi --fast takes it as it is";
    if (pin_lock == PIN_LOCK_HELD)
        return "the write-protect pin is low with the lock bit set: the protection stays until the "
               "pin is held high, for lptspi --fast too";
    if (pin_lock == PIN_LOCK_UNKNOWN)
        return "lptspi --fast clears the protection itself if the write-protect pin is held high "
               "(the lock bit set keeps it while the pin is low; no command reads the pin)";
    return "lptspi --fast clears the protection itself";
}

// Appends `clause` to the line being built in `line`, after "; " where it is not the first.
static void add_clause(char* line, size_t size, const char* clause) {
    const size_t used = strlen(line);
    snprintf(line + used, size - used, "%s%s", used ? "; " : "", clause);
}

// Status register 2, each bit the family gives a meaning and what it means for lptspi and lptspi
// --fast: QE, CMP, SRP1 (with SRP0 from the first register), and the one-time lock bits set.
static void say_status2(int status, int status2, const FlashChip* chip) {
    const Status2Bits* bits = chip->status2;
    char line[512] = "", locks[32] = "";
    add_clause(line, sizeof line,
               (status2 & bits->quad)
                   ? "QE set: quad mode on, which lptspi --fast and lptspi-check "
                     "--unprotect keep"
                   : "QE clear");
    if (bits->protect != 0)
        add_clause(line, sizeof line,
                   (status2 & bits->protect)
                       ? "CMP set: the BP bits' protection turned over (with none set the whole "
                         "chip is protected): lptspi --fast clears it, and for lptspi, "
                         "lptspi-check --unprotect"
                       : "CMP clear");
    if (bits->lockdown != 0)
        add_clause(line, sizeof line,
                   !(status2 & bits->lockdown) ? "SRP1 clear: not locked down"
                   : (status & chip->status->lock)
                       ? "SRP1 and SRP0 set: the status registers locked for good (one-time "
                         "program): no status write is ever taken"
                       : "SRP1 set: the status registers locked down until the power is cycled "
                         "(no status write is taken): switch the board off and on");
    for (int bit = 0; bit < 8; bit++) {
        if (status2 & bits->one_time & (1 << bit)) {
            strcat(locks, locks[0] ? " " : "");
            strcat(locks, bits->names[bit]);
        }
    }
    if (locks[0]) {
        strcat(locks, " set (one-time, kept)");
        add_clause(line, sizeof line, locks);
    }
    printf("flash: status register 2 0x%02x: %s\n", status2, line);
}

// The status decoded with the bit names of the chip's family (the common ones for a chip not in
// the table).
void say_status(int status, const FlashChip* chip, const CheckFindings* f) {
    const StatusBits* bits = chip != NULL ? chip->status : &STATUS_BP;
    char protection[64] = "", others[64] = "";
    for (int bit = 2; bit <= 6; bit++) {
        char* list = (bits->protect & (1 << bit)) ? protection : others;
        if (status & (1 << bit)) {
            strcat(list, list[0] ? " " : "");
            strcat(list, bits->names[bit]);
        }
    }
    char lock[64] = "";
    if (bits->lock != 0)
        snprintf(lock, sizeof lock, ", status register %s%s%s",
                 status & bits->lock ? "locked (" : "not locked",
                 status & bits->lock ? bits->names[7] : "", status & bits->lock ? ")" : "");
    else if (status & 0x80)
        snprintf(lock, sizeof lock, ", %s", bits->names[7]);
    // CMP (status register 2) turns the BP bits' protection over: none of them set protects all.
    const int cmp = chip != NULL && chip->status2 != NULL && f->protection.status2 >= 0 &&
                    (f->protection.status2 & chip->status2->protect) != 0;
    printf("flash: status 0x%02x: %s, write latch %s, %s%s%s%s%s%s%s\n", status,
           status & STATUS_BUSY ? "busy" : "not busy", status & STATUS_LATCH ? "set" : "clear",
           bits->protect == 0 ? "block protection kept in a register of its own"
           : protection[0]    ? "block protection on ("
           : cmp              ? "no BP bit set"
                              : "no block protection",
           protection, protection[0] ? ")" : "",
           cmp ? protection[0] ? " turned over by CMP"
                               : ", which CMP turns into the whole chip protected"
               : "",
           others[0] ? ", also " : "", others, lock);
    if (chip != NULL && chip->status2 != NULL && f->protection.status2 >= 0)
        say_status2(status, f->protection.status2, chip);
    if (status & STATUS_BUSY)
        printf("flash: busy: an erase or a program is still running, or the chip is stuck: wait "
               "and run again, or switch the board off and on\n");
    else if (status != 0x00 && (status & bits->idle) == 0)
        printf("flash: lptspi refuses a flash whose status is not 0x00: %s%s\n",
               fast_on_status(chip, status, f->pin_lock),
               f->family || f->pin_lock == PIN_LOCK_HELD
                   ? ""
                   : "; for lptspi, lptspi-check --unprotect clears it");
}

// Prints the block-protection register as read, after `what`; returns whether any block is
// locked.
static int show_locks(const ProtectionState* p, const char* what) {
    char shown[3 * OUTCOME_REGISTER + 1];
    format_locks(shown, sizeof shown, p->bits, p->len);
    printf("%s%s", what, shown);
    return p->protects;
}

// The locks of a chip whose protection is a register of its own: while any block is locked its
// bulk erase and its programs there are ignored.
void say_locks(FlashSession* s, const FlashChip* chip, CheckFindings* f) {
    if (chip == NULL || f->protection.where != PROTECTED_IN_REGISTER || session_stopped(s))
        return;
    char what[64];
    snprintf(what, sizeof what, "flash: %s block-protection register (0x72): ", chip->name);
    f->locks = show_locks(&f->protection, what);
    if (f->locks)
        printf(": blocks locked, as at every power-up: lptspi --fast unlocks them itself; the "
               "chip ignores lptspi's bulk erase, and "
               "lptspi waits for ever on status = 02 (the write latch the erase command left set): "
               "for lptspi, lptspi-check --unprotect unlocks them until the chip is powered off\n");
    else
        printf(": no block locked (every power-up locks them again)\n");
}

// After an unprotect that did not hold, the procedure sent write disable, as the write enable
// may still have stood: nothing else may program or erase this chip.
static void disable_writes(FlashSession* s) {
    int now = mc_read_status(s);
    if (now & STATUS_LATCH)
        printf("unprotect: the write latch stays set after write disable (status 0x%02x): switch "
               "the board off and on before using it\n",
               now);
    else
        printf("unprotect: write disable sent: status 0x%02x, the write latch clear\n", now);
}

// Clears the protection bits of the status register (on the AT25DF family that is its global
// unprotect, once more when the first write only cleared the lock), and whether it held.
static void clear_status(FlashSession* s, int status, const FlashChip* chip, CheckFindings* f) {
    if (status_unprotected(chip, status) && !f->protection.protects) {
        printf("unprotect: nothing to clear (status 0x%02x)\n", status);
        return;
    }
    const int before2 = f->protection.status2;
    FlashOutcome o = {};
    const int outcome = clear_protection_bits(s, &f->protection, &o);
    const int now = o.status;
    if (outcome == OUTCOME_INTERRUPTED)
        return;
    if (chip == NULL)
        chip = &s->chip;
    if (outcome == OUTCOME_BUSY || outcome == OUTCOME_SILENT) {
        if (outcome == OUTCOME_SILENT)
            printf("unprotect: the flash stopped answering after the status write: its status "
                   "reads 0xff: check the chip's power and the cable\n");
        else
            printf("unprotect: the flash stayed busy (status 0x%02x) for %.0f ms after the status "
                   "write, twice the longest its datasheet gives: switch the board off and on and "
                   "run again\n",
                   now, o.limit * 1e3);
        f->wiring = 1;
        return;
    }
    if (outcome == OUTCOME_DONE) {
        f->status = 0;
        f->pin_lock = PIN_LOCK_NONE;
        if (before2 > 0 || o.status2 > 0) { // status register 2 held something
            printf("unprotect: status 0x%02x, status register 2 0x%02x cleared to 0x%02x, "
                   "0x%02x%s: %s\n",
                   status, before2, now, o.status2,
                   (o.status2 & chip->status2->quad) ? " (QE kept)" : "",
                   now == 0x00 && !f->family ? "lptspi takes this flash now"
                                             : "nothing is protected now, but lptspi still cannot "
                                               "program it (see above)");
            return;
        }
        if (now == 0x00 && !f->family) {
            printf("unprotect: status 0x%02x cleared to 0x00: lptspi takes this flash now\n",
                   status);
            return;
        }
        printf("unprotect: status 0x%02x cleared to 0x%02x%s: nothing is protected now, but "
               "lptspi still cannot program it (see above)\n",
               status, now,
               o.how == CLEARED_BY_GLOBAL_UNPROTECT ? " (global unprotect)"
               : o.how == CLEARED_BY_EWSR_STATUS    ? " (enable-write-status, write status)"
                                                    : "");
        return;
    }
    char reason[256];
    status_kept_reason(reason, sizeof reason, chip, now, o.status2);
    printf("unprotect: %s\n", reason);
    f->pin_lock = PIN_LOCK_HELD;
    disable_writes(s);
}

// The global unlock of a chip whose blocks lock in a register of their own, and whether it
// held.
static void unlock_blocks(FlashSession* s, CheckFindings* f) {
    if (!f->locks) {
        printf("unprotect: nothing to clear (no block locked)\n");
        return;
    }
    FlashOutcome o = {};
    if (clear_protection(s, &f->protection, &o) == OUTCOME_INTERRUPTED)
        return;
    f->locks = show_locks(&f->protection, "unprotect: after the global unlock the "
                                          "block-protection register reads ");
    if (!f->locks) {
        printf(": every block unlocked: lptspi takes this flash now, until it is powered off\n");
        return;
    }
    printf(": %s\n", UNLOCK_IGNORED);
    f->pin_lock = PIN_LOCK_HELD;
    disable_writes(s);
}

// Clears block protection by the family's own procedure (write enable and write status 0x00 on
// a chip not in the table), and says whether it held.
void unprotect(FlashSession* s, int status, const FlashChip* chip, CheckFindings* f) {
    if (status & STATUS_BUSY) {
        printf("unprotect: not tried while the flash is busy\n");
        return;
    }
    if (chip != NULL && f->protection.where == PROTECTED_IN_REGISTER)
        unlock_blocks(s, f);
    else if (chip != NULL && f->protection.where == PROTECTED_NOWHERE)
        printf("unprotect: nothing to clear: %s has no block protection%s\n", chip->name,
               chip->pin_protects != 0 ? " but its write-protect pin (see above)" : "");
    else
        clear_status(s, status, chip, f);
}
