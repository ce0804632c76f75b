// lptspi-backup's run: the flash read whole twice and saved as an image lptspi writes back.
#include "backup.h"

#include "board.h"
#include "identity.h"
#include "image.h"
#include "outfile.h"
#include "progress.h"
#include "protection.h"
#include "sha256.h"
#include "verdict.h"
#include "words.h"
#include "../flash/chips.h"
#include "../flash/commands.h"
#include "../flash/identify.h"
#include "../flash/procedures.h"
#include "../flash/write.h"
#include "../port/interrupt.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum {
    // One fast-read frame per chunk: 16 pages keep the progress line moving (about 0.13 s of
    // port accesses per chunk) while the frame overhead stays near 0.1 %.
    CHUNK_SIZE = 4096,
    ASSUMED_SIZE = 1 << 20,
    ADDRESS_SPACE = 1 << 24 // all that 24-bit addresses reach
};

static int save(NewFile* file, unsigned char* chip, int pages);

// The firmware's digest in the file saved, for the verdict.
static char saved_firmware[SHA256_HEX];

static int refuse_taken_name(const char* path) {
    printf("%s exists: a backup never replaces a file, choose another name \n", path);
    fail_because("%s exists: nothing written", path);
    return EXIT_BACKUP_NOT_WRITTEN;
}

// Reads `size` bytes from flash address `from` into `buffer`, showing the progress as read
// `pass`. Returns 0 when Ctrl-C stopped it.
static int read_span(FlashSession* s, unsigned char* buffer, int from, int size, int pass) {
    FlashOutcome o = {};
    return flash_read(s, from, buffer, size, pass, &o) == OUTCOME_DONE;
}

// The chip that answers `id`, its row in `*chip`, and the size to read: the table's, the chip's
// own parameter table's, or else the size the identification gives (1 MiB when it gives none); 0
// when no flash answered, or only one of the older generation that lptspi does not support.
static int flash_size(const FlashSession* s, const unsigned char* id, int kind,
                      const FlashChip* chip) {
    if (kind == CHIP_KNOWN) {
        printf("flash %s (%02x %02x %02x), %d KiB\n", chip->name, id[0], id[1], id[2],
               chip->size / 1024);
        return chip->size;
    }
    printf("flash id %02x %02x %02x", id[0], id[1], id[2]);
    if (kind == CHIP_TABLE) {
        printf(", %d KiB: not in lptspi's table of flash chips, its own parameter table (SFDP) "
               "gives its size\n",
               chip->size / 1024);
        return chip->size;
    }
    if (kind == CHIP_OLDER) {
        char older[128];
        say_older(s, older, sizeof older);
        printf(", but %s: lptspi does not support it\n", older);
        fail_because("the flash answers only the older identification: nothing read");
        return 0;
    }
    if (kind == CHIP_OTHER) {
        const FlashChip* row = find_chip(id);
        printf(", %d KiB: %s's identification, but its status shows bits %s does not have: taken "
               "as a common 25-series chip of the size its identification gives\n",
               chip->size / 1024, row->name, row->name);
        return chip->size;
    }
    if (kind == CHIP_SILENT) {
        printf(": no flash answered\n");
        fail_because("no flash answered (id %02x %02x %02x)", id[0], id[1], id[2]);
        return 0;
    }
    if (kind == CHIP_NO_SIZE) {
        printf(", capacity code 0x%02x unknown, not in lptspi's table of flash chips: assuming "
               "%d KiB\n",
               id[2], ASSUMED_SIZE / 1024);
        return ASSUMED_SIZE;
    }
    printf(", %d KiB: not in lptspi's table of flash chips, taken as a common 25-series chip of "
           "the size its identification gives\n",
           chip->size / 1024);
    return chip->size;
}

// Whether the flash shows what protects it from lptspi's erase and programs: the status bits of
// its family, or the block-protection register of a family that keeps one.
static void say_protection(FlashSession* s, int status) {
    ProtectionState p;
    read_protection(s, status, &p);
    if (p.where == PROTECTED_IN_REGISTER) {
        if (p.protects)
            printf("the flash's blocks are locked (its block-protection register): lptspi's "
                   "erase and programs will be ignored until they are unlocked (lptspi-check "
                   "--unprotect)\n");
    } else if (p.protects) {
        printf("the flash is write-protected: lptspi will refuse it until the protection is "
               "cleared (lptspi-check --unprotect)\n");
    }
}

// Whether a chip of `size` bytes shows its own start again beyond it, as a 25-series chip does
// since it wraps its addresses at its size: at each power of two from `first_bound` to the end of
// the 24-bit address space, the first and the last page and the first page in use must read as they
// do below `size`. Returns -1 when they all do, or the first address that does not: the chip is
// larger than its identification says and a backup of `size` bytes would leave the rest out.
static int wrap_mismatch(FlashSession* s, const unsigned char* chip, int size, int first_bound) {
    int anchor = 0;
    while (anchor < size && blank_page(chip + anchor))
        anchor += PAGE_SIZE;
    if (anchor == size)
        anchor = 0;
    unsigned char page[PAGE_SIZE];
    for (int bound = first_bound; bound < ADDRESS_SPACE; bound *= 2) {
        const int probes[3] = {bound, 2 * bound - PAGE_SIZE, bound + anchor};
        for (int i = 0; i < 3; i++) {
            mc_read(s, probes[i], page, PAGE_SIZE);
            if (memcmp(page, chip + probes[i] % size, PAGE_SIZE) != 0)
                return probes[i];
        }
    }
    return -1;
}

// The first page address from `size` on whose bytes in `beyond` (read from `size` to twice it)
// differ from the chip's start in `chip`, or -1.
static int repeat_mismatch(const unsigned char* chip, const unsigned char* beyond, int size) {
    for (int n = 0; n < size; n += PAGE_SIZE) {
        if (memcmp(chip + n, beyond + n, PAGE_SIZE) != 0)
            return size + n;
    }
    return -1;
}

// Reads the flash into `chip` twice and checks what was read; a chip whose size is not the
// table's is read once more from its size to twice it, where it must repeat its start. Returns
// the page count to save, or -1 with the exit status in `*status` and the reason printed; data
// the backup cannot hold makes the status EXIT_BACKUP_PARTIAL.
static int read_checked(FlashSession* s, unsigned char* chip, unsigned char* again, int size,
                        int from_table, const char* path, int* status) {
    int pages = size / PAGE_SIZE;
    // Beyond 16 MiB the 24-bit addresses wrap whatever the chip.
    const int repeats = !from_table && size < ADDRESS_SPACE;
    if (repeats)
        printf("reading %d pages twice, and the %d after them once: a chip of that size repeats "
               "its start there\n",
               pages, pages);
    else
        printf("reading %d pages twice...\n", pages);
    if (!read_span(s, chip, 0, size, 1) || !read_span(s, again, 0, size, 2)) {
        *status = EXIT_INTERRUPTED;
        return -1;
    }
    // A flaky wire or a flash changing under the reads: trust neither read.
    int differ = -1;
    for (int n = 0; n < pages && differ < 0; n++) {
        if (memcmp(chip + n * PAGE_SIZE, again + n * PAGE_SIZE, PAGE_SIZE) != 0)
            differ = n;
    }
    if (differ < 0 && repeats && !read_span(s, again, size, size, 3)) {
        *status = EXIT_INTERRUPTED;
        return -1;
    }
    progress_newline();
    if (differ >= 0) {
        release_flash(s);
        printf("!!! page %d read differently twice, %s not written \n", differ, path);
        fail_because("page %d read differently twice: the reads are unreliable, %s not written",
                     differ, path);
        *status = EXIT_READS_DIFFER;
        return -1;
    }
    int wrong = repeats ? repeat_mismatch(chip, again, size) : -1;
    if (wrong < 0)
        wrong = wrap_mismatch(s, chip, size, repeats ? 2 * size : size);
    release_flash(s);
    if (wrong >= 0) {
        printf("!!! the flash does not repeat its first %d KiB at 0x%06x: it is larger than its "
               "identification says, %s not written \n",
               size / 1024, wrong, path);
        fail_because("the flash is larger than its identification says: %s not written", path);
        *status = EXIT_READS_DIFFER;
        return -1;
    }
    printf("both reads agree\n");

    // lptspi writes at most MAX_PAGES pages from address 0: save up to the last one in use.
    int writable = pages < MAX_PAGES ? pages : MAX_PAGES;
    int used = 0;
    for (int n = 0; n < writable; n++) {
        if (!blank_page(chip + n * PAGE_SIZE))
            used = n + 1;
    }
    int beyond = 0;
    for (int n = writable; n < pages && !beyond; n++) {
        if (!blank_page(chip + n * PAGE_SIZE)) {
            printf("warning: the flash holds data beyond page %d (first in page %d), which "
                   "lptspi cannot write back: it is not in the backup\n",
                   MAX_PAGES - 1, n);
            beyond = 1;
            *status = EXIT_BACKUP_PARTIAL;
        }
    }
    if (used == 0 && !beyond)
        printf("the flash is blank\n");
    return used;
}

// Claims the port, checks the flash can be read, identifies it and reads it; writes the backup
// into `file`. Returns the exit status, the chip's row in `*chip`.
static int back_up(NewFile* file, FlashSession* s) {
    // A flash busy with a program or an erase answers reads with garbage. Block protection, the
    // bits that lock it and a set write latch stop erases and programs, not reads.
    int status = board_begin(s, STATUS_BUSY);
    if (status < 0)
        return session_stopped(s) ? (int)EXIT_INTERRUPTED : (int)EXIT_BACKUP_NOT_WRITTEN;
    end_cut_words(s, &status);

    unsigned char ids[2][3];
    FlashOutcome o = {};
    if (flash_identify(s, 2, ids, &o) == OUTCOME_INTERRUPTED)
        return EXIT_INTERRUPTED;
    const unsigned char* id = ids[0];
    if (o.kind == OUTCOME_ID_DIFFERS) {
        const unsigned char* again = o.again;
        printf("!!! flash id read differently twice (%02x %02x %02x, then %02x %02x %02x), %s not "
               "written \n",
               id[0], id[1], id[2], again[0], again[1], again[2], file->path);
        fail_because("the flash's identification read differently twice: %s not written",
                     file->path);
        return EXIT_READS_DIFFER;
    }
    const int kind = s->kind;
    const FlashChip* chip = &s->chip;
    if (kind != CHIP_OLDER)
        say_protection(s, status);
    int size = flash_size(s, id, kind, chip);
    if (size == 0)
        return EXIT_BACKUP_NOT_WRITTEN;

    unsigned char* bytes = (unsigned char*)malloc((size_t)size);
    unsigned char* second = (unsigned char*)malloc((size_t)size);
    if (bytes == NULL || second == NULL) {
        free(bytes);
        free(second);
        printf("Cant malloc memory for the flash ! \n");
        fail_because("no memory for the flash's %d KiB", size / 1024);
        return EXIT_BACKUP_NOT_WRITTEN;
    }
    int result = EXIT_BACKUP_SAVED;
    // The table's size, or the chip's own parameter table's, is the chip's; an identification's
    // capacity code is checked by the reads beyond it.
    const int sized = kind == CHIP_KNOWN || kind == CHIP_TABLE;
    int pages = read_checked(s, bytes, second, size, sized, file->path, &result);
    free(second);
    if (pages >= 0) {
        int saved = save(file, bytes, pages);
        if (saved != EXIT_BACKUP_SAVED)
            result = saved;
    }
    free(bytes);
    return result;
}

// Scrambles and writes the first `pages` pages of `chip`; the chip buffer is changed.
static int save(NewFile* file, unsigned char* chip, int pages) {
    int length = pages * PAGE_SIZE;
    descramble(chip, length);
    char reason[256];
    int failure = new_file_finish(file, chip, (size_t)length, reason, (int)sizeof reason);
    if (failure == OUTFILE_EXISTS)
        return refuse_taken_name(file->path);
    if (failure != 0) {
        printf("Cant write %s: %s \n", file->path, reason);
        fail_because("%s could not be written: %s", file->path, reason);
        return EXIT_BACKUP_NOT_WRITTEN;
    }
    printf("%d pages saved to %s\n", pages, file->path);
    // What a technician compares: the file's digest, and that of the firmware it holds.
    char image[SHA256_HEX];
    sha256_hex(chip, (size_t)length, image);
    descramble(chip, length);
    sha256_hex(chip, (size_t)length, saved_firmware);
    printf("%s  %s\n", image, file->path);
    printf("%s  (the firmware in it)\n", saved_firmware);
    return EXIT_BACKUP_SAVED;
}

int backup_flash(const char* path, int port) {
    verdict_start();
    // The file is made before the port is touched, so that a name that is taken or a folder that
    // takes no files is found before the reads, not after them.
    NewFile file;
    char reason[256];
    int opened = new_file_begin(&file, path, reason, (int)sizeof reason);
    if (opened == OUTFILE_EXISTS)
        return say_verdict(refuse_taken_name(path), "%s", "");
    if (opened != 0) {
        printf("Cant create %s: %s \n", path, reason);
        fail_because("%s could not be created: %s", path, reason);
        return say_verdict(EXIT_BACKUP_NOT_WRITTEN, "%s", "");
    }
    FlashSession s;
    session_open(&s, LINK_FAST);
    RunWords words;
    int result = EXIT_BACKUP_NOT_WRITTEN;
    if (claim_port(port, LINK_FAST, &s)) {
        listen(&s, &words);
        result = back_up(&file, &s);
    }
    new_file_abandon(&file); // nothing to do once the file was written
    if (result == EXIT_INTERRUPTED) {
        // Ctrl-C leaves nothing behind: the temporary file gone, the lines idle.
        session_idle(&s);
        printf("\nInterrupted: %s not written \n", path);
        return EXIT_INTERRUPTED;
    }
    if (result == EXIT_BACKUP_PARTIAL)
        fail_because("saved to %s without the data past page %d, which lptspi cannot write "
                     "back",
                     path, MAX_PAGES - 1);
    return say_verdict(result, "%s saved to %s (firmware sha256 %.12s..., %.1f s)", s.chip.name,
                       path, saved_firmware, verdict_seconds());
}
