// The words of the runs that write and read boards: what the flash procedures tell on the way
// (the progress lines, a protection cleared, the erase and the programming begun), and their
// outcomes turned into the run's "!!!" line and the verdict's clause.
#pragma once

#include "image.h"
#include "progress.h"
#include "fast.h"
#include "../flash/outcome.h"
#include "../flash/session.h"
#include "../flash/write.h"

// What the words of one run keep between the events they hear.
struct RunWords {
    FlashWatch watch;
    Progress progress;
    const FlashSession* session; // whose chip the words name
};

// From now on the session's procedures are heard by `words`, which puts them into words.
void listen(FlashSession* s, RunWords* words);

// Says why the outcome `o` (not done) ends the run, on a line of its own starting "!!!", and
// notes it for the verdict; `image` is the image written or compared. Returns the exit status:
// nothing written for the steps before the erase, a failed write or verify after it, and
// EXIT_INTERRUPTED after Ctrl-C, which says nothing (the program's note does).
int say_outcome(const FlashSession* s, const FlashOutcome* o, const Image* image);

// The protection put back (restore_protection's outcome `o`, done) said on one line, and in
// `text` a clause for the verdict ("protection put back: status 0x1c").
void say_restored(const FlashSession* s, const FlashOutcome* o, char* text, int size);

// An update's counts said on one line.
void say_updated(const UpdateCount* count);

// What a board's write did beyond the image, as the verdict's extra clauses (", 2 regions
// kept"), or "".
void done_text(const BoardDone* done, char* text, int size);

// Says which chip the identification found ("flash M25P80 (20 20 14), 1024 KiB"; a chip its
// own parameter table describes, or one that shares a family's identification, as such).
void say_chip(const FlashSession* s);

// Lists the first `limit` bytes of a page that differ ("0a7: a5 != b5", offset, read, expected);
// returns how many differ in all.
int list_differences(const unsigned char* read, const unsigned char* page, int limit);
