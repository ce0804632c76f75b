#include "check.h"

#include "image.h"
#include "protection.h"
#include "sequence.h"
#include "waits.h"
#include "../flash/chips.h"
#include "../flash/commands.h"
#include "../flash/link.h"
#include "../port/clock.h"
#include "../port/diagnosis.h"
#include "../port/interrupt.h"
#include "../port/opening.h"
#include "../port/registers.h"
#include "../port/system.h"

#include <stdio.h>
#include <string.h>

enum {
    CHUNK = 4096,
    RELIABILITY_BYTES = 64 * 1024, // or the whole chip when it is smaller
    MISO = 0x40,
    PIN_SECONDS = 3
};

// A port or driver problem ends the run at once; the flash's problems let the other flash
// checks go on: the wiring's (no chip answering, unreliable reads), and a status lptspi refuses,
// which --unprotect may clear.
static int wiring_problem = 0;
static int status_problem = 0;
// What keeps lptspi's own run from programming the chip besides its status: what the family
// cannot do (for good), and blocks locked in a register of their own (until unlocked).
static int family_problem = 0;
static int lock_problem = 0;

// The port checked: LPT<lpt_number>, named `lpt` in every finding.
static int lpt_number = 1;
static char lpt[8] = "LPT1";

static void flash_problem() {
    wiring_problem = 1;
}

static int port_problem() {
    printf("lines, flash: not checked without the port and its driver\n");
    printf("result: the port or its driver is not ready (see above)\n");
    return CHECK_PORT_OR_DRIVER;
}

// ---- platform, port, driver ----------------------------------------------------------------

static int say_platform(const PlatformFacts* p) {
    if (p->family == SYSVER_WIN9X) {
        printf("platform: Windows 95/98/Me family, version %lu.%lu build %lu: lptspi drives the "
               "port directly, no driver needed\n",
               p->major, p->minor, p->build);
        return 1;
    }
    if (p->family == SYSVER_NT) {
        printf("platform: Windows NT family, version %lu.%lu build %lu, %s: lptspi reaches the "
               "port through its driver hwinterface%s\n",
               p->major, p->minor, p->build, p->windows64 ? "64-bit" : "32-bit",
               p->windows64 ? ", which 64-bit Windows loads only with a signature it accepts" : "");
        return 1;
    }
    printf("platform: not a Windows family lptspi knows: lptspi cannot run here\n");
    return 0;
}

static int say_claim(int claim, unsigned long error) {
    switch (claim) {
    case LPT_FREE:
        printf("port: %s is free, and claimed for this check\n", lpt);
        return 1;
    case LPT_HELD:
        printf("port: %s is held by another program (error %lu): close it (a print spooler, a "
               "printer's software, another lptspi) and run again\n",
               lpt, error);
        return 0;
    case LPT_ABSENT:
        printf("port: there is no %s (error %lu): no parallel port, or one disabled in the "
               "firmware setup or in Device Manager; USB printer adapters do not work\n",
               lpt, error);
        return 0;
    default:
        printf("port: %s cannot be claimed (error %lu)\n", lpt, error);
        return 0;
    }
}

// Every parallel port the PC has, and how to use one when the port asked for cannot be claimed.
static void list_ports(int family) {
    static const char* const claims[] = {"free", "held by another program", "absent",
                                         "cannot be claimed"};
    LptFacts ports[SURVEYED_LPTS];
    SurveyLpts(family, ports);
    int usable = 0;
    printf("port: the parallel ports of this PC:\n");
    for (int n = 1; n <= SURVEYED_LPTS; n++) {
        const LptFacts* p = &ports[n - 1];
        printf("port:   LPT%d %s", n, claims[p->claim]);
        if (p->located >= 0 && (p->located & HWI_PORT_FROM_SYSTEM) == 0)
            printf(", at 0x%04x if it is where PCs usually have it", p->base);
        else if (p->located >= 0 && p->ecp != 0)
            printf(", at 0x%04x, its ECP block at 0x%04x", p->base, p->ecp);
        else if (p->located >= 0)
            printf(", at 0x%04x, no ECP block", p->base);
        printf("\n");
        if (p->claim == LPT_FREE && usable == 0)
            usable = n;
    }
    if (usable == 0) {
        printf("port: no parallel port is free\n");
        return;
    }
    printf("port: to use LPT%d, run lptspi, lptspi-backup and lptspi-check with --port LPT%d",
           usable, usable);
    if (usable != 1)
        printf(" or with LPTSPI_PORT=LPT%d set", usable);
    if (ports[0].claim == LPT_ABSENT)
        printf(", or rename it to LPT1 in Device Manager (Ports (COM & LPT), the port's "
               "Properties, Port Settings, LPT Port Number)");
    printf("\n");
}

// Why 64-bit Windows refused the driver's signature, from how it booted.
static void say_signature(const PlatformFacts* p) {
    if (p->secureboot == 1)
        printf("driver: Secure Boot is on, which keeps test-signing off: turn Secure Boot off in "
               "the firmware setup, then run bcdedit /set testsigning on as administrator and "
               "restart\n");
    else if (p->testsigning == 0)
        printf("driver: test-signing is off: run bcdedit /set testsigning on as administrator, "
               "then restart\n");
    else if (p->testsigning == 1)
        printf("driver: test-signing is on, so Windows does not trust the certificate: import "
               "lptspi-driver-signing.cer into the Root and TrustedPublisher stores (README.txt "
               "says how), or use the hwinterface.sys of this package\n");
    else
        printf("driver: turn test-signing on and import the package's certificate (README.txt "
               "says how)\n");
}

static int say_driver(const DriverFacts* d, const PlatformFacts* p) {
    switch (d->state) {
    case DRIVER_RUNNING:
        printf("driver: running (\\\\.\\hwinterface opened)\n");
        return 1;
    case DRIVER_STARTED:
        printf("driver: was stopped, and is started now\n");
        return 1;
    case DRIVER_REGISTERED:
        printf("driver: was not registered: registered now as the service hwinterface and "
               "started (it loads at every boot from now on)\n");
        return 1;
    }
    if (d->step == STEP_MANAGER) {
        printf("driver: the service manager cannot be opened (error %lu)\n", d->error);
    } else if (d->step == STEP_REGISTER && d->error == ERROR_ACCESS_DENIED) {
        printf("driver: not registered, and registering it needs an administrator: run "
               "lptspi-check once from an administrator's command prompt\n");
    } else if (d->step == STEP_START && d->error == ERROR_ACCESS_DENIED) {
        printf("driver: stopped, and this user may not start it: run lptspi-check once from an "
               "administrator's command prompt\n");
    } else if (d->step == STEP_START && (d->error == ERROR_FILE_NOT_FOUND ||
                                         d->error == ERROR_PATH_NOT_FOUND || !d->file_present)) {
        printf("driver: %s is missing: copy the package's hwinterface.sys there\n", d->file);
    } else if (d->step == STEP_START && d->error == ERROR_INVALID_IMAGE_HASH) {
        printf("driver: Windows refused the driver's signature (error %lu)\n", d->error);
        say_signature(p);
    } else if (d->step == STEP_START && d->error == ERROR_SERVICE_DISABLED) {
        printf("driver: the service hwinterface is disabled: run sc config hwinterface start= "
               "system as administrator\n");
    } else if (d->step == STEP_DEVICE) {
        printf("driver: the service runs but \\\\.\\hwinterface does not open (error %lu): "
               "restart the PC, and if that does not help install this package's "
               "hwinterface.sys again\n",
               d->error);
    } else {
        printf("driver: the service hwinterface cannot be %s (error %lu)\n",
               d->step == STEP_REGISTER  ? "registered"
               : d->step == STEP_SERVICE ? "opened"
                                         : "started",
               d->error);
    }
    return 0;
}

// How the port's registers were found: HWI_PORT_* flags from the driver, or -1 when it cannot say.
static int located = -1;

// Where the port's registers are and how that was found. Returns 0 when nothing says where they
// are (LPT4 to LPT9 without a driver that finds them).
static int find_registers(int family) {
    unsigned short base = 0, ecp = 0, usual = LegacyBase(lpt_number);
    int flags = UseLpt(lpt_number, family, &base, &ecp);
    located = flags;
    if (sysver == SYSVER_WIN9X && usual == 0) {
        printf("port: %s cannot be found: on Windows 95/98/Me lptspi finds LPT1 to LPT3 only, at "
               "0x378, 0x278 and 0x3BC\n",
               lpt);
        return 0;
    } else if (sysver == SYSVER_WIN9X) {
        printf("port: %s's registers taken at 0x%04x: on Windows 95/98/Me lptspi cannot ask "
               "where a card put them, so a card must sit at 0x%x\n",
               lpt, usual, usual);
    } else if (flags < 0 && usual == 0) {
        printf("port: the driver cannot tell where %s is (an older hwinterface.sys finds LPT1 to "
               "LPT3 only): install this package's driver, or name the port LPT1, LPT2 or LPT3 in "
               "Device Manager\n",
               lpt);
        return 0;
    } else if (flags < 0) {
        printf("port: %s's registers taken at 0x%04x: the driver cannot tell where %s is (an "
               "older hwinterface.sys); for a PCI or PCIe card install this package's driver\n",
               lpt, usual, lpt);
    } else if ((flags & HWI_PORT_FROM_SYSTEM) == 0) {
        printf("port: %s's registers taken at 0x%04x: the system does not describe %s to the "
               "driver, so the usual place is used\n",
               lpt, base, lpt);
    } else {
        if (ecp != 0)
            printf("port: %s's registers at 0x%04x as the system placed them, its ECP block at "
                   "0x%04x\n",
                   lpt, base, ecp);
        else
            printf("port: %s's registers at 0x%04x as the system placed them, no ECP block\n", lpt,
                   base);
    }
    return 1;
}

// The driver serves only the parallel ports it knows: a refusal here says the port is not one.
static int registers_reachable() {
    int value = 0;
    unsigned long error = ProbePort((unsigned short)(baseport + 1), &value);
    if (error == 0)
        return 1;
    if (error == ERROR_ACCESS_DENIED)
        printf("driver: it refuses %s's status register at 0x%04x (access denied): it serves "
               "only the parallel ports it knows of; install this package's hwinterface.sys and "
               "restart\n",
               lpt, baseport + 1);
    else
        printf("driver: reading %s's status register at 0x%04x fails (error %lu)\n", lpt,
               baseport + 1, error);
    return 0;
}

static void say_ecr() {
    if (ecpport == 0) {
        printf("port: no ECP block, so no extended control register to set up\n");
        InitPort();
        return;
    }
    int ecr = prECP();
    if ((ecr & 0x03) == 0x01)
        printf("port: ECR at 0x%04x reads 0x%02x: an ECP port, which lptspi sets to byte mode\n",
               ecpport + 2, ecr);
    else
        printf("port: no ECR at 0x%04x (it reads 0x%02x): a plain port, used as it is\n",
               ecpport + 2, ecr);
    InitPort();
}

// A parallel port's data register keeps what is written to it; where nothing answers, the bus
// reads 0xFF. Both values leave the flash released.
static int data_register_holds() {
    Out32(baseport, 0x07);
    int held = Inp32(baseport);
    Out32(baseport, IDLE_LINES);
    int idle = Inp32(baseport);
    if (held == 0x07 && idle == IDLE_LINES)
        return 1;
    printf("port: %s's data register at 0x%04x does not keep what is written to it (0x07 reads "
           "back as 0x%02x): no parallel port answers there\n",
           lpt, baseport, held);
    if (sysver == SYSVER_WIN9X)
        printf("port: on Windows 95/98/Me lptspi uses %s at 0x%x only: set the card to 0x%x in "
               "its setup, or use the NT family, where this package's driver finds PCI and PCIe "
               "cards wherever the system put them\n",
               lpt, baseport, baseport);
    else if (located < 0)
        printf("port: this package's hwinterface.sys finds PCI and PCIe cards wherever the system "
               "put them; the installed one cannot: install this package's driver and restart\n");
    else
        printf("port: the port is disabled in the firmware setup or the card does not work; this "
               "package's driver finds PCI and PCIe cards wherever the system puts them\n");
    return 0;
}

// ---- lines and flash -----------------------------------------------------------------------

// Returns 1 when a chip answers on the data-in line.
static int check_lines(unsigned char ids[3][3], int* status) {
    Out32(baseport, IDLE_LINES);
    _sleep(100);
    if ((prStatus() & MISO) != 0)
        printf("lines: data-in (pin 10) reads high with the flash released\n");
    else
        printf("lines: data-in (pin 10) reads low with the flash released: it is shorted to "
               "ground, or a chip holds it low\n");

    for (int i = 0; i < 3; i++)
        mc_read_id(ids[i]);
    *status = mc_read_status();
    if (end_cut_words(status)) {
        for (int i = 0; i < 3; i++)
            mc_read_id(ids[i]);
    }
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

// Says what the identification tells and which family of the table answers it (in `*chip`, or
// NULL); returns the size, or 0 when the identification does not give one.
static int say_id(unsigned char ids[3][3], const FlashChip** chip) {
    const unsigned char* id = ids[0];
    *chip = NULL;
    if (memcmp(ids[0], ids[1], 3) != 0 || memcmp(ids[0], ids[2], 3) != 0) {
        printf("flash: id read differently three times (%02x %02x %02x, %02x %02x %02x, %02x %02x "
               "%02x): the reads are unreliable: check the cable\n",
               ids[0][0], ids[0][1], ids[0][2], ids[1][0], ids[1][1], ids[1][2], ids[2][0],
               ids[2][1], ids[2][2]);
        flash_problem();
        return 0;
    }
    *chip = find_chip(id);
    int size = *chip != NULL ? (*chip)->size : mc_id_size(id);
    if (size == 0) {
        printf("flash: id %02x %02x %02x, the same three times: %s (%02x), capacity code %02x, a "
               "size this tool does not know\n",
               id[0], id[1], id[2], maker(id[0]), id[0], id[2]);
        return 0;
    }
    printf("flash: id %02x %02x %02x, the same three times: %s (%02x)%s%s, %d KiB\n", id[0], id[1],
           id[2], maker(id[0]), id[0], *chip != NULL ? " " : "", *chip != NULL ? (*chip)->name : "",
           size / 1024);
    if (*chip == NULL)
        printf("flash: not in lptspi's table of flash chips: taken as a common 25-series chip of "
               "the size its identification gives\n");
    return size;
}

// The status decoded with the bit names of the chip's family (the common ones for a chip not in
// the table).
static void say_status(int status, const FlashChip* chip) {
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
    printf("flash: status 0x%02x: %s, write latch %s, %s%s%s%s%s%s\n", status,
           status & STATUS_BUSY ? "busy" : "not busy", status & STATUS_LATCH ? "set" : "clear",
           bits->protect == 0 ? "block protection kept in a register of its own"
           : protection[0]    ? "block protection on ("
                              : "no block protection",
           protection, protection[0] ? ")" : "", others[0] ? ", also " : "", others, lock);
    if (status & STATUS_BUSY)
        printf("flash: busy: an erase or a program is still running, or the chip is stuck: wait "
               "and run again, or switch the board off and on\n");
    else if (status != 0x00 && (status & bits->idle) == 0)
        printf("flash: lptspi refuses a flash whose status is not 0x00: lptspi-check --unprotect "
               "clears it\n");
}

// Bulk erases that take this long get a line: lptspi shows the status for all that time.
static const int LONG_ERASE_MS = 20000;

// What the family's datasheet says about lptspi's own run: it refuses any status but 0x00,
// erases with 0xC7 and polls until the status reads 0x00, programs each page with 0x02 after a
// write enable, and verifies. One line for each thing that stops it.
static void say_family(const FlashChip* chip, int status) {
    if (chip == NULL)
        return;
    if ((status & chip->status->idle) != 0) {
        int pin = 0;
        while ((chip->status->idle & (1 << pin)) == 0)
            pin++;
        printf("flash: %s reads status 0x%02x even with nothing protected (%s: the write-protect "
               "pin high, as the adapter holds it): lptspi refuses it as not idle; lptspi --fast "
               "programs it\n",
               chip->name, chip->status->idle, chip->status->names[pin]);
        family_problem = 1;
    }
    if (chip->bulk_erase == 0) {
        printf("flash: %s has no bulk erase: lptspi cannot erase it, and waits for ever on "
               "status = 02 (the write latch its erase command left set); lptspi --fast erases it "
               "sector by sector\n",
               chip->name);
        family_problem = 1;
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
    if (chip->program == PROGRAM_AAI_WORD) {
        printf("flash: %s programs one byte per command: lptspi writes only the first byte of "
               "each page; lptspi --fast programs it\n",
               chip->name);
        family_problem = 1;
    }
}

// Reads the block-protection register of a chip that keeps one; returns whether any block is
// locked, having printed the register as `what`.
static int read_locks(const FlashChip* chip, const char* what) {
    unsigned char bits[32];
    int locked = 0;
    int len = read_block_locks(chip, bits, &locked);
    char shown[3 * 32 + 1];
    format_locks(shown, sizeof shown, bits, len);
    printf("%s%s", what, shown);
    return locked;
}

// The locks of a chip whose protection is a register of its own: while any block is locked its
// bulk erase and its programs there are ignored.
static void say_locks(const FlashChip* chip) {
    if (chip == NULL || chip->protection_register == 0)
        return;
    char what[64];
    snprintf(what, sizeof what, "flash: %s block-protection register (0x72): ", chip->name);
    lock_problem = read_locks(chip, what);
    if (lock_problem)
        printf(": blocks locked, as at every power-up: the chip ignores lptspi's bulk erase, and "
               "lptspi waits for ever on status = 02 (the write latch the erase command left set); "
               "lptspi-check --unprotect unlocks them until the chip is powered off\n");
    else
        printf(": no block locked (every power-up locks them again)\n");
}

// The first 64 KiB (or the whole chip) read three times, compared bit by bit.
static void check_reads(int size) {
    static unsigned char reads[3][RELIABILITY_BYTES];
    int length = size < RELIABILITY_BYTES ? size : RELIABILITY_BYTES;
    for (int pass = 0; pass < 3; pass++) {
        for (int address = 0; address < length; address += CHUNK)
            mc_read(address, reads[pass] + address, CHUNK);
    }
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
    flash_problem();
}

// After an unprotect that did not hold the write enable may still stand: nothing else may program
// or erase this chip.
static void disable_writes() {
    mc_write_disable();
    int now = mc_read_status();
    if (now & STATUS_LATCH)
        printf("unprotect: the write latch stays set after write disable (status 0x%02x): switch "
               "the board off and on before using it\n",
               now);
    else
        printf("unprotect: write disable sent: status 0x%02x, the write latch clear\n", now);
}

// Clears the protection bits of the status register (on the AT25DF family that is its global
// unprotect, once more when the first write only cleared the lock), and whether it held.
static void clear_status(int status, const FlashChip* chip) {
    if (status_unprotected(chip, status)) {
        printf("unprotect: nothing to clear (status 0x%02x)\n", status);
        return;
    }
    int now = 0;
    int outcome = clear_status_protection(chip, status, &now);
    if (outcome != WAIT_READY) {
        if (outcome == WAIT_SILENT)
            printf("unprotect: the flash stopped answering after the status write: its status "
                   "reads 0xff: check the chip's power and the cable\n");
        else
            printf("unprotect: the flash stayed busy (status 0x%02x) for %.0f ms after the status "
                   "write, twice the longest its datasheet gives: switch the board off and on and "
                   "run again\n",
                   now, status_write_limit(chip) * 1e3);
        flash_problem();
        return;
    }
    const int at25 = chip != NULL && chip->unprotect == UNPROTECT_AT25_GLOBAL;
    if (status_unprotected(chip, now)) {
        status_problem = 0;
        if (now == 0x00 && !family_problem) {
            printf("unprotect: status 0x%02x cleared to 0x00: lptspi takes this flash now\n",
                   status);
            return;
        }
        printf("unprotect: status 0x%02x cleared to 0x%02x%s: nothing is protected now, but "
               "lptspi still cannot program it (see above)\n",
               status, now,
               at25 ? " (global unprotect)"
               : chip != NULL && chip->status_enable == ENABLE_EWSR
                   ? " (enable-write-status, write status)"
                   : "");
        return;
    }
    char reason[256];
    status_kept_reason(reason, sizeof reason, chip, now);
    printf("unprotect: %s\n", reason);
    disable_writes();
}

// The global unlock of a chip whose blocks lock in a register of their own, and whether it held.
static void unlock_blocks(const FlashChip* chip) {
    if (!lock_problem) {
        printf("unprotect: nothing to clear (no block locked)\n");
        return;
    }
    mc_global_unlock();
    lock_problem = read_locks(chip, "unprotect: after the global unlock the block-protection "
                                    "register reads ");
    if (!lock_problem) {
        printf(": every block unlocked: lptspi takes this flash now, until it is powered off\n");
        return;
    }
    printf(": %s\n", UNLOCK_IGNORED);
    disable_writes();
}

// Clears block protection by the family's own procedure (write enable and write status 0x00 on
// a chip not in the table), and says whether it held.
static void unprotect(int status, const FlashChip* chip) {
    if (status & STATUS_BUSY) {
        printf("unprotect: not tried while the flash is busy\n");
        return;
    }
    if (chip != NULL && chip->unprotect == UNPROTECT_SST26_GLOBAL)
        unlock_blocks(chip);
    else if (chip != NULL && chip->unprotect == UNPROTECT_NONE)
        printf("unprotect: nothing to clear: %s has no block protection%s\n", chip->name,
               chip->pin_protects != 0 ? " but its write-protect pin (see above)" : "");
    else
        clear_status(status, chip);
}

// ---- speed ---------------------------------------------------------------------------------

// Port accesses of the runs, from the link's: lptspi's own link takes four a bit and two a
// frame; the fast link two a bit sent and three a bit received.
static const double DEFAULT_PAGE_ACCESSES = (2 + 1 * 32) + (2 + 260 * 32) + (2 + 2 * 32) +
                                            (2 + 261 * 32); // write enable, program, poll, read
static const double FAST_PAGE_ACCESSES =
    (2 + 1 * 16) + (2 + 260 * 16) + (2 + 16 + 16 * 24) + (2 + 5 * 16 + 256 * 24);
static const double FAST_PAGE_REQUESTS = 4;
static const double BACKUP_FRAMES = 2 * 256; // two reads of 1 MiB, 4 KiB a frame
static const double BACKUP_FRAME_ACCESSES = 2 + 5 * 16 + CHUNK * 24;

static void measure_speed() {
    // Single accesses, as many as a tenth of a second takes.
    unsigned short status_port = (unsigned short)(baseport + 1);
    long count = 0;
    double start = seconds_now(), elapsed = 0;
    do {
        for (int i = 0; i < 1000; i++)
            Inp32(status_port);
        count += 1000;
        elapsed = seconds_now() - start;
    } while (elapsed < 0.1);
    double single = elapsed / (double)count;
    // A whole frame, which the driver makes in one request where it can.
    static unsigned char chunk[CHUNK];
    start = seconds_now();
    mc_read(0, chunk, CHUNK);
    double inside = (seconds_now() - start) / BACKUP_FRAME_ACCESSES;
    if (sysver == SYSVER_NT && hframes == 1)
        printf("speed: a port access takes %.2f us here as a driver request of its own, %.2f us "
               "inside a frame the driver makes\n",
               single * 1e6, inside * 1e6);
    else
        printf("speed: a port access takes %.2f us here%s\n", single * 1e6,
               sysver == SYSVER_NT ? " (a driver request each: the driver makes no frames)" : "");
    double request = single > inside ? single - inside : 0;
    double full = MAX_PAGES * (DEFAULT_PAGE_ACCESSES * single + 0.1) + 0.5;
    double fast = MAX_PAGES * (FAST_PAGE_ACCESSES * inside + FAST_PAGE_REQUESTS * request) + 0.3;
    double backup = BACKUP_FRAMES * (BACKUP_FRAME_ACCESSES * inside + request);
    printf("speed: on this PC a full 4095-page image takes lptspi about %.0f s and lptspi --fast "
           "about %.0f s, a 1 MiB flash takes lptspi-backup about %.0f s, besides the flash's own "
           "erase and program times\n",
           full, fast, backup);
}

// ---- pins ----------------------------------------------------------------------------------

static void hold_pins() {
    static const struct {
        int lines;
        const char* what;
    } steps[] = {{0x05, "pin 2 (the always-high line) high"},
                 {0x07, "pin 3 (data to the flash) high"},
                 {0x01, "pin 4 (chip select) low: the flash selected"},
                 {0x0D, "pin 5 (clock) high"}};
    printf("pins: each output line at its working level for %d s, the others idle: measure "
           "against pins 18-25 (ground)\n",
           PIN_SECONDS);
    for (unsigned i = 0; i < sizeof steps / sizeof steps[0]; i++) {
        printf("pins: %s\n", steps[i].what);
        // The clock moves only with the flash released, so the flash sees no command.
        Out32(baseport, steps[i].lines);
        for (int s = 0; s < PIN_SECONDS; s++) {
            _sleep(1000);
            CheckInterrupt();
        }
    }
    Out32(baseport, IDLE_LINES);
    printf("pins: all lines idle again (pins 2 and 4 high, 3 and 5 low)\n");
}

// --------------------------------------------------------------------------------------------

int check_all(const CheckOptions* options) {
    wiring_problem = 0;
    status_problem = 0;
    family_problem = 0;
    lock_problem = 0;
    linkfast = 1;

    PlatformFacts platform;
    ReadPlatform(&platform);
    if (!say_platform(&platform))
        return port_problem();
    lpt_number = options->port != 0 ? options->port : 1;
    snprintf(lpt, sizeof lpt, "LPT%d", lpt_number);
    if (options->port_env != NULL)
        printf("port: LPTSPI_PORT=%s is set%s\n", options->port_env,
               options->port_option ? ", and --port overrides it" : ": the programs use that port");
    unsigned long error = 0;
    int claim = ClaimLpt(lpt_number, &error);
    if (!say_claim(claim, error)) {
        if (claim == LPT_HELD || claim == LPT_ABSENT)
            list_ports(platform.family);
        return port_problem();
    }
    if (platform.family == SYSVER_NT) {
        DriverFacts driver;
        BringUpDriver(&driver);
        if (!say_driver(&driver, &platform))
            return port_problem();
    }
    if (!find_registers(platform.family) || !registers_reachable())
        return port_problem();
    say_ecr();
    if (!data_register_holds())
        return port_problem();

    unsigned char ids[3][3];
    int status = 0;
    if (check_lines(ids, &status)) {
        int size = 0;
        const FlashChip* chip = NULL;
        if (status & STATUS_BUSY)
            printf("flash: the id cannot be read while the flash is busy\n");
        else
            size = say_id(ids, &chip);
        say_status(status, chip);
        // A bit that shows the write-protect pin is the family's problem, not the status's.
        status_problem = (status & ~(chip != NULL ? chip->status->idle : 0)) != 0x00;
        say_family(chip, status);
        say_locks(chip);
        if (status & STATUS_BUSY)
            printf("reads: not checked while the flash is busy\n");
        else
            check_reads(size != 0 ? size : RELIABILITY_BYTES);
        if (options->unprotect && wiring_problem)
            printf("unprotect: not tried while the reads are unreliable\n");
        else if (options->unprotect)
            unprotect(status, chip);
    } else {
        flash_problem();
        if (options->unprotect)
            printf("unprotect: not tried without a chip answering\n");
    }
    measure_speed();
    if (options->pins)
        hold_pins();
    release_flash();

    if (!wiring_problem && !status_problem && !lock_problem && !family_problem) {
        printf("result: everything lptspi needs was found\n");
        return CHECK_READY;
    }
    if (!wiring_problem && !status_problem && !lock_problem) {
        printf("result: lptspi cannot program this flash (see above)\n");
        return CHECK_FLASH_OR_WIRING;
    }
    printf("result: the flash or its wiring needs attention (see above)\n");
    return CHECK_FLASH_OR_WIRING;
}
