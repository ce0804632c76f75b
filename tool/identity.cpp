// The words about which chip answers that the programs share.
#include "identity.h"

#include <stdio.h>
#include <string.h>

void say_older(const FlashSession* s, char* text, int size) {
    const OlderChip* older = find_older_chip(s->older[0], s->older[1]);
    if (s->older[0] == 0x00)
        snprintf(text, (size_t)size,
                 "it answers only the older electronic signature (0xab: %02x), of a chip older "
                 "than the 25-series identification",
                 s->older[1]);
    else
        snprintf(text, (size_t)size,
                 "it answers only the older identification (0x90: %02x %02x%s%s)", s->older[0],
                 s->older[1], older != NULL ? ", " : "", older != NULL ? older->name : "");
}

// Appends `clause` to `text`, after a semicolon where it is not the first.
static void add(char* text, int size, const char* clause) {
    const size_t used = strlen(text);
    snprintf(text + used, (size_t)size - used, "%s%s", used ? "; " : "", clause);
}

// The table's command for an erase of `bytes`, or 0.
static int table_erase(const FlashTable* t, int bytes) {
    if (bytes == 4096 && t->erase_4k != 0)
        return t->erase_4k;
    for (int i = 0; i < t->erase_count; i++) {
        if (t->erases[i].size == bytes)
            return t->erases[i].command;
    }
    return 0;
}

static const char* qe_place(int qe) {
    return qe == QE_STATUS2_BIT1   ? "status register 2 bit 1"
           : qe == QE_STATUS1_BIT6 ? "status bit 6"
           : qe == QE_ELSEWHERE    ? "a register of its own"
                                   : "none";
}

void table_contradiction(char* text, int size, const FlashSession* s) {
    const FlashTable* t = &s->table;
    const FlashChip* chip = &s->chip;
    char clause[96];
    text[0] = '\0';
    if (t->differs & TABLE_SIZE) {
        const long long kib = t->bytes / 1024;
        snprintf(clause, sizeof clause, "its table gives %d KiB, %s has %d KiB",
                 kib > 0x7FFFFFFF ? 0x7FFFFFFF : (int)kib, chip->name, chip->size / 1024);
        add(text, size, clause);
    }
    const struct {
        int bytes;
        unsigned char row;
        const char* name;
    } erases[] = {{4096, chip->small_erase, "4 KiB"}, {64 * 1024, chip->sector_erase, "64 KiB"}};
    for (const auto& e : erases) {
        const int command = table_erase(t, e.bytes);
        if ((t->differs & TABLE_ERASE) && e.row != 0 && command != 0 && command != e.row) {
            snprintf(clause, sizeof clause, "its %s erase is 0x%02x, %s's 0x%02x", e.name, command,
                     chip->name, e.row);
            add(text, size, clause);
        }
    }
    if (t->differs & TABLE_QE) {
        snprintf(clause, sizeof clause, "its quad-enable bit is in %s, %s's in %s", qe_place(t->qe),
                 chip->name, qe_place(row_qe(chip)));
        add(text, size, clause);
    }
}
