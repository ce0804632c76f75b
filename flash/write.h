// Writing an image into the session's chip, reading it back and reading it out: the procedures
// every program that writes or reads a board calls, each returning its outcome.
#pragma once

#include "outcome.h"
#include "procedures.h"
#include "session.h"

enum { ERASE_SECTOR = 64 * 1024, ERASE_SMALL = 4 * 1024 };

// One erase geometry of a chip: `size` bytes (0: the whole chip) erased by `command`, its typical
// and its longest time.
struct EraseGeometry {
    int size;
    unsigned char command;
    int typical_ms, max_ms;
};

// The chip's erase geometries, the largest first; returns how many.
int erase_geometries(const FlashChip* chip, EraseGeometry* list);

// How a range from address 0 of `bytes` bytes is erased: the whole chip where it can be, else
// `*count` units of the geometry returned, the smallest that the chip's 64 KiB sectors allow.
EraseGeometry erase_plan(const FlashChip* chip, int bytes, int* count);

// Whether all 256 bytes of `page` are 0xFF, as an erase leaves them.
int flash_blank(const unsigned char* page);

// The chip erased by its plan for the first `pages` pages, telling how far it is; then one page
// from each 64 KiB block read: it must be blank (a page that is not is read again). Each returns
// the outcome's kind.
int flash_erase(FlashSession* s, int pages, FlashOutcome* o);
int flash_erase_took(FlashSession* s, int pages, FlashOutcome* o);

// The image's first `pages` pages written into the identified chip, unless its parameter table
// contradicts the row of its identification (refused before anything is done): its protection
// cleared by
// the family's procedure (`p`, as read at the start), the chip erased by its plan, the erase
// checked (one page of each 64 KiB must read blank; a page that is not is read again), the pages
// programmed as the family programs. Returns the outcome's kind; tells the listener each step.
int flash_write(FlashSession* s, ProtectionState* p, const unsigned char* image, int pages,
                FlashOutcome* o);

// The first `pages` pages read back and compared with `image`: a page that differs is read once
// more, as two reads that differ tell of unreliable reads, not of the flash. Returns the
// outcome's kind (the page's bytes in `o->read`).
int flash_verify(FlashSession* s, const unsigned char* image, int pages, FlashOutcome* o);

// Reads the chip's first `size` bytes, told as read number 0: done when every byte is 0xFF;
// else the first page that is not blank (`address`, its bytes in `read`), read twice: the
// reads differing, or it is not blank.
int flash_blank_check(FlashSession* s, int size, FlashOutcome* o);

// What an update did: erase units of `unit` bytes, `written` of `units` rewritten.
struct UpdateCount {
    int unit;
    int units;
    int written;
};

// The image's first `pages` pages written where the chip differs: each erase unit the image
// covers (the family's smallest erase) read and compared; only a unit that differs is erased
// (after the family's unprotect, on the first), checked blank, programmed and read back.
// Returns the outcome's kind; tells EVENT_READ_BEGINS (pass 4: comparing, in units) and its
// progress.
int flash_update(FlashSession* s, ProtectionState* p, const unsigned char* image, int pages,
                 UpdateCount* count, FlashOutcome* o);

// `size` bytes from flash address `from` into `buffer`, in frames of `chunk` bytes, told as read
// number `pass`. Returns the outcome's kind.
int flash_read(FlashSession* s, int from, unsigned char* buffer, int size, int pass,
               FlashOutcome* o);
