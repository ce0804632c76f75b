// lptspi-check's flash findings: the data-in line, the identification, the family, how
// reliably the chip reads; its protection is check_protection.cpp's.
#include "check_parts.h"

#include "identity.h"
#include "image.h"
#include "protection.h"
#include "../flash/commands.h"
#include "../flash/identify.h"
#include "../flash/wake.h"
#include "../port/registers.h"
#include "../port/system.h"

#include <stdio.h>
#include <string.h>

enum {
    CHUNK = 4096,
    RELIABILITY_BYTES = 64 * 1024 // or the whole chip when it is smaller
};

// Returns 1 when a chip answers on the data-in line, the identification read three times into
// `o` (and the session's chip when the reads agree); -1 when Ctrl-C stopped it. A chip that
// answers nothing at first is sent release from deep power-down before it is identified.
static int check_lines(FlashSession* s, unsigned char ids[3][3], int* status, FlashOutcome* o) {
    session_idle(s);
    _sleep(100);
    if ((prStatus() & ADAPTER_MISO) != 0)
        printf("lines: data-in (pin 10) reads high with the flash released\n");
    else
        printf("lines: data-in (pin 10) reads low with the flash released: it is shorted to "
               "ground, or a chip holds it low\n");

    const int released = wake_if_silent(s);
    flash_identify(s, 3, ids, o);
    const int woke = released && chip_answers(ids[0]);
    *status = mc_read_status(s);
    if (end_cut_words(s, status))
        flash_identify(s, 3, ids, o);
    if (session_stopped(s))
        return -1;
    int ones = *status == 0xFF, zeros = *status == 0x00;
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++) {
            ones = ones && ids[i][j] == 0xFF;
            zeros = zeros && ids[i][j] == 0x00;
        }
    }
    if (ones) {
        printf("lines: data-in stays high with the flash selected and clocked: no chip answers: "
               "check the chip's power (pin 2, the always-high line, feeds the adapter), the "
               "ground (pins 18-25), that the cable is on the right connector the right way "
               "round, and that a chip is there\n");
        return 0;
    }
    if (zeros) {
        printf("lines: data-in stays low with the flash selected and clocked: pin 10 is shorted "
               "to ground, or the chip is held in reset\n");
        return 0;
    }
    printf("lines: data-in follows the flash when it is selected and clocked: a chip answers\n");
    if (woke)
        printf("flash: the chip answered nothing until its release from deep power-down (0xab): "
               "it was asleep, as a board's processor may leave it, and woke; lptspi --fast, "
               "--verify, lptspi-backup and the station wake it themselves, lptspi does not (it "
               "would find status 0xff: not idle)\n");
    return 1;
}

// JEDEC manufacturer codes of the common 25-series makers.
static const char* maker(int code) {
    static const struct {
        int code;
        const char* name;
    } makers[] = {{0x01, "Spansion/Cypress/Infineon"},
                  {0x04, "Fujitsu"},
                  {0x0B, "XTX"},
                  {0x1C, "EON"},
                  {0x1F, "Atmel/Adesto"},
                  {0x20, "ST/Micron"},
                  {0x37, "AMIC"},
                  {0x5E, "Zbit"},
                  {0x62, "ON Semiconductor"},
                  {0x68, "Boya"},
                  {0x85, "Puya"},
                  {0x8C, "ESMT"},
                  {0x9D, "ISSI"},
                  {0xA1, "Fudan"},
                  {0xBF, "SST/Microchip"},
                  {0xC2, "Macronix"},
                  {0xC8, "GigaDevice"},
                  {0xEF, "Winbond"}};
    for (unsigned i = 0; i < sizeof makers / sizeof makers[0]; i++) {
        if (makers[i].code == code)
            return makers[i].name;
    }
    return "unknown maker";
}

// What a chip's own parameter table says of a chip the table of families does not list.
static void say_table(const FlashTable* t, const FlashChip* chip) {
    char erases[96] = "";
    for (int i = 0; i < t->erase_count; i++) {
        const size_t used = strlen(erases);
        snprintf(erases + used, sizeof erases - used, "%s%d KiB (0x%02x)", i ? ", " : "",
                 t->erases[i].size / 1024, t->erases[i].command);
    }
    printf("flash: not in lptspi's table of flash chips, but its own parameter table (SFDP %d.%d) "
           "describes it: %d KiB, erases %s, the status written after 0x%02x, %s; lptspi --fast "
           "takes it as that table says\n",
           t->major, t->minor, chip->size / 1024, erases[0] ? erases : "none listed",
           t->status_enable,
           t->qe == QE_NOT_GIVEN ? "its quad-enable bit not given"
           : t->qe == QE_NONE    ? "no quad-enable bit"
                                 : "a quad-enable bit, which the unprotect keeps");
}

// Says what the identification tells and which family of the table answers it (in `*chip`, or
// NULL); returns the size, or 0 when the identification does not give one.
static int say_id(const FlashSession* s, unsigned char ids[3][3], const FlashOutcome* o,
                  const FlashChip** chip, CheckFindings* f) {
    const unsigned char* id = ids[0];
    *chip = NULL;
    if (o->kind == OUTCOME_ID_DIFFERS) {
        printf("flash: id read differently three times (%02x %02x %02x, %02x %02x %02x, %02x %02x "
               "%02x): the reads are unreliable: check the cable\n",
               ids[0][0], ids[0][1], ids[0][2], ids[1][0], ids[1][1], ids[1][2], ids[2][0],
               ids[2][1], ids[2][2]);
        f->wiring = 1;
        return 0;
    }
    if (o->kind == OUTCOME_OLDER_CHIP) {
        char older[128];
        say_older(s, older, sizeof older);
        printf("flash: id %02x %02x %02x, the same three times: no answer to the identification "
               "(0x9f), but %s: a chip of the older generation, which lptspi does not support\n",
               id[0], id[1], id[2], older);
        f->older = 1;
        f->family = 1;
        return 0;
    }
    // NULL: not in the table; a chip its own parameter table describes is the row made of it.
    *chip = s->kind == CHIP_KNOWN || s->kind == CHIP_TABLE ? &s->chip : NULL;
    const int size = s->chip.size;
    if (size == 0) {
        printf("flash: id %02x %02x %02x, the same three times: %s (%02x), capacity code %02x, a "
               "size this tool does not know\n",
               id[0], id[1], id[2], maker(id[0]), id[0], id[2]);
        f->no_size = 1; // lptspi --fast takes no such chip
        return 0;
    }
    const int named = s->kind == CHIP_KNOWN;
    printf("flash: id %02x %02x %02x, the same three times: %s (%02x)%s%s, %d KiB\n", id[0], id[1],
           id[2], maker(id[0]), id[0], named ? " " : "", named ? s->chip.name : "", size / 1024);
    if (s->kind == CHIP_TABLE)
        say_table(&s->table, &s->chip);
    else if (s->kind == CHIP_OTHER)
        printf("flash: the identification of %s, but status bits %s does not have: another chip "
               "that answers it, taken as a common 25-series chip of the size its identification "
               "gives\n",
               find_chip(id)->name, find_chip(id)->name);
    else if (*chip == NULL)
        printf("flash: not in lptspi's table of flash chips: taken as a common 25-series chip of "
               "the size its identification gives\n");
    if (s->kind == CHIP_KNOWN && s->table.differs) {
        char differs[192];
        table_contradiction(differs, sizeof differs, s);
        printf("flash: its own parameter table (SFDP) contradicts %s: %s: a relabelled or cloned "
               "chip, or a wrong table: lptspi --fast refuses it\n",
               s->chip.name, differs);
        f->table = 1;
    }
    return size;
}

// Bulk erases that take this long get a line: lptspi shows the status for all that time.
static const int LONG_ERASE_MS = 20000;

// What the family's datasheet says about lptspi's own run: it refuses any status but 0x00,
// erases with 0xC7 and polls until the status reads 0x00, programs each page with 0x02 after a
// write enable, and verifies. One line for each thing that stops it.
static void say_family(const FlashChip* chip, int status) {
    if (chip == NULL)
        return;
    const int obstacles = plain_run_obstacles(chip, status);
    if (obstacles & PLAIN_PIN_BIT) {
        int pin = 0;
        while ((chip->status->idle & (1 << pin)) == 0)
            pin++;
        printf("flash: %s reads status 0x%02x even with nothing protected (%s: the write-protect "
               "pin high, as the adapter holds it): lptspi --fast programs it; lptspi refuses it "
               "as not idle\n",
               chip->name, chip->status->idle, chip->status->names[pin]);
    }
    if (obstacles & PLAIN_NO_BULK) {
        printf("flash: %s has no bulk erase: lptspi --fast erases it sector by sector; lptspi "
               "cannot erase it, and waits for ever on status = 02 (the write latch its erase "
               "command left set)\n",
               chip->name);
    } else if (chip->bulk_ms >= LONG_ERASE_MS) {
        printf("flash: %s takes about %d s to erase, up to %d s: lptspi shows status = 03 "
               "meanwhile\n",
               chip->name, chip->bulk_ms / 1000, chip->bulk_max_ms / 1000);
    }
    if (chip->pin_protects != 0)
        printf("flash: %s's write-protect pin (W, pin 3) protects its bottom %d KiB while it is "
               "held low, whatever the status says: hold W high (the adapter's wiring decides; "
               "no command reads the pin)\n",
               chip->name, chip->pin_protects / 1024);
    if (obstacles & PLAIN_BYTES) {
        printf("flash: %s programs one byte per command: lptspi --fast programs it in words; "
               "lptspi writes only the first byte of each page\n",
               chip->name);
    }
}

// The first 64 KiB (or the whole chip) read three times, compared bit by bit.
static void check_reads(FlashSession* s, int size, CheckFindings* f) {
    static unsigned char reads[3][RELIABILITY_BYTES];
    int length = size < RELIABILITY_BYTES ? size : RELIABILITY_BYTES;
    for (int pass = 0; pass < 3; pass++) {
        for (int address = 0; address < length; address += CHUNK)
            mc_read(s, address, reads[pass] + address, CHUNK);
    }
    if (session_stopped(s))
        return;
    long bits = 0;
    int pages = 0;
    char listed[96] = "";
    for (int page = 0; page < length / PAGE_SIZE; page++) {
        int in_page = 0;
        for (int i = page * PAGE_SIZE; i < (page + 1) * PAGE_SIZE; i++) {
            unsigned differ = (unsigned)((reads[0][i] ^ reads[1][i]) | (reads[0][i] ^ reads[2][i]));
            for (; differ != 0; differ &= differ - 1)
                in_page++;
        }
        if (in_page == 0)
            continue;
        bits += in_page;
        if (++pages <= 8) {
            size_t used = strlen(listed);
            snprintf(listed + used, sizeof listed - used, "%s%d", used ? ", " : "", page);
        }
    }
    if (bits == 0) {
        printf("reads: the first %d KiB read three times, all alike\n", length / 1024);
        return;
    }
    printf("reads: %ld bits differed between three reads of the first %d KiB, in page%s %s%s: "
           "the cable is unreliable (too long, no ground return, a noisy supply): shorten it and "
           "connect all the ground pins\n",
           bits, length / 1024, pages > 1 ? "s" : "", listed, pages > 8 ? " and more" : "");
    f->wiring = 1;
}

void check_flash(FlashSession* s, const CheckOptions* options, CheckFindings* f) {
    unsigned char ids[3][3];
    int status = 0;
    FlashOutcome o = {};
    const int answers = check_lines(s, ids, &status, &o);
    if (answers < 0)
        return;
    if (!answers) {
        f->wiring = 1;
        if (options->unprotect)
            printf("unprotect: not tried without a chip answering\n");
        return;
    }
    int size = 0;
    const FlashChip* chip = NULL;
    if (status & STATUS_BUSY)
        printf("flash: the id cannot be read while the flash is busy\n");
    else
        size = say_id(s, ids, &o, &chip, f);
    // A bit that shows the write-protect pin is the family's problem, not the status's.
    f->status = (status & ~(chip != NULL ? chip->status->idle : 0)) != 0x00;
    f->family = f->family || plain_run_obstacles(chip, status) != 0;
    f->busy = (status & STATUS_BUSY) != 0;
    if (chip == NULL && (s->kind == CHIP_KNOWN || s->kind == CHIP_TABLE)) {
        // Busy: the family is not taken from an identification read meanwhile.
        s->chip = FlashChip();
        s->chip.name = "the flash";
        s->kind = 0;
    }
    read_protection(s, status, &f->protection);
    f->pin_lock = f->protection.pin_lock;
    // Status register 2's CMP refuses lptspi's bulk erase as much as the BP bits do.
    if (f->protection.status2 >= 0 && f->protection.protects)
        f->status = 1;
    say_status(status, chip, f);
    say_family(chip, status);
    say_locks(s, chip, f);
    if (session_stopped(s))
        return;
    if (status & STATUS_BUSY)
        printf("reads: not checked while the flash is busy\n");
    else if (f->older)
        printf("reads: not checked on a chip lptspi does not support\n");
    else
        check_reads(s, size != 0 ? size : RELIABILITY_BYTES, f);
    if (session_stopped(s))
        return;
    if (options->unprotect && f->older)
        printf("unprotect: not tried on a chip lptspi does not support\n");
    else if (options->unprotect && f->wiring)
        printf("unprotect: not tried while the reads are unreliable\n");
    else if (options->unprotect)
        unprotect(s, status, chip, f);
}
