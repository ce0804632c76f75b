#include "backup.h"

#include "image.h"
#include "outfile.h"
#include "sequence.h"
#include "../flash/commands.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum {
    // One fast-read frame per chunk: 16 pages keep the progress line moving (about 0.13 s of
    // port accesses per chunk) while the frame overhead stays near 0.1 %.
    CHUNK_SIZE = 4096,
    // Capacity codes of 25-series chips: 4 KiB to 16 MiB.
    SMALLEST_CAPACITY = 12,
    LARGEST_CAPACITY = 24,
    ASSUMED_SIZE = 1 << 20
};

static void read_whole(unsigned char* buffer, int size, int pass) {
    for (int address = 0; address < size; address += CHUNK_SIZE) {
        printf("\rread %d at page %5d", pass, address / PAGE_SIZE);
        mc_read(address, buffer + address, CHUNK_SIZE);
    }
}

static int blank_page(const unsigned char* page) {
    for (int i = 0; i < PAGE_SIZE; i++) {
        if (page[i] != 0xFF)
            return 0;
    }
    return 1;
}

// The size the identification implies, or 0 when no flash answered.
static int flash_size(const unsigned char* id) {
    printf("flash id %02x %02x %02x", id[0], id[1], id[2]);
    if ((id[0] == 0x00 && id[1] == 0x00 && id[2] == 0x00) ||
        (id[0] == 0xFF && id[1] == 0xFF && id[2] == 0xFF)) {
        printf(": no flash answered\n");
        return 0;
    }
    if (id[2] < SMALLEST_CAPACITY || id[2] > LARGEST_CAPACITY) {
        printf(", capacity code 0x%02x unknown: assuming %d KiB\n", id[2], ASSUMED_SIZE / 1024);
        return ASSUMED_SIZE;
    }
    int size = 1 << id[2];
    printf(", %d KiB\n", size / 1024);
    return size;
}

// Scrambles and writes the first `pages` pages of `chip`; the chip buffer is changed.
static int save(const char* path, unsigned char* chip, int pages) {
    int length = pages * PAGE_SIZE;
    descramble(chip, length);
    char reason[256];
    if (write_whole_file(path, chip, (size_t)length, reason, (int)sizeof reason) != 0) {
        printf("Cant write %s: %s \n", path, reason);
        return EXIT_BACKUP_NOT_WRITTEN;
    }
    printf("%d pages saved to %s\n", pages, path);
    return EXIT_BACKUP_SAVED;
}

int backup_flash(const char* path) {
    // A flash busy with a program or an erase answers reads with garbage.
    if (!claim_idle_flash())
        return EXIT_BACKUP_NOT_WRITTEN;

    unsigned char id[3];
    mc_read_id(id);
    int size = flash_size(id);
    if (size == 0)
        return EXIT_BACKUP_NOT_WRITTEN;

    unsigned char* first = (unsigned char*)malloc((size_t)size);
    unsigned char* second = (unsigned char*)malloc((size_t)size);
    if (first == NULL || second == NULL) {
        free(first);
        free(second);
        printf("Cant malloc memory for the flash ! \n");
        return EXIT_BACKUP_NOT_WRITTEN;
    }

    int pages = size / PAGE_SIZE;
    printf("reading %d pages twice...\n", pages);
    read_whole(first, size, 1);
    read_whole(second, size, 2);
    printf("\n");
    release_flash();

    // A flaky wire or a flash changing under the reads: trust neither read.
    for (int n = 0; n < pages; n++) {
        if (memcmp(first + n * PAGE_SIZE, second + n * PAGE_SIZE, PAGE_SIZE) != 0) {
            printf("!!! page %d read differently twice, %s not written \n", n, path);
            free(first);
            free(second);
            return EXIT_READS_DIFFER;
        }
    }
    printf("both reads agree\n");
    free(second);

    // lptspi writes at most MAX_PAGES pages from address 0: save up to the last one in use.
    int writable = pages < MAX_PAGES ? pages : MAX_PAGES;
    int used = 0;
    for (int n = 0; n < writable; n++) {
        if (!blank_page(first + n * PAGE_SIZE))
            used = n + 1;
    }
    int beyond = 0;
    for (int n = writable; n < pages && !beyond; n++) {
        if (!blank_page(first + n * PAGE_SIZE)) {
            printf("warning: the flash holds data beyond page %d (first in page %d), which "
                   "lptspi cannot write back: it is not in the backup\n",
                   MAX_PAGES - 1, n);
            beyond = 1;
        }
    }
    if (used == 0 && !beyond)
        printf("the flash is blank\n");
    int result = save(path, first, used);
    free(first);
    return result;
}
