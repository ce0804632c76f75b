// Programming an erased chip as its family programs: pages, or words by auto-address
// increment; and the write procedure that clears, erases, checks and programs.
#include "write.h"

#include "commands.h"
#include "wait.h"

#include <string.h>

enum { PAGE = 256 };

static void programming(FlashSession* s, int what, int done, int total) {
    FlashEvent e = {};
    e.what = what;
    e.done = done;
    e.total = total;
    e.status = -1;
    tell(s, &e);
}

// Page programs, each followed by its wait.
static int program_pages(FlashSession* s, const unsigned char* image, int first, int count,
                         FlashOutcome* o) {
    const double limit = 2 * s->chip.program_max_us / 1e6;
    const int pages = first + count;
    for (int n = first; n < pages; n++) {
        int address = n * PAGE;
        programming(s, EVENT_PROGRAMMING, n, pages);
        if (flash_blank(image + address))
            continue; // the erase left it so
        mc_program(s, address, image + address, PAGE);
        int status = 0;
        int wait = wait_ready(s, limit, STATUS_READINGS, &status);
        if (wait != WAIT_READY) {
            outcome_set(o, STEP_PROGRAM, wait_outcome(wait), address, status);
            o->limit = limit;
            return o->kind;
        }
        if (status & STATUS_LATCH) {
            // A program ends by clearing the latch: one the chip refused leaves it set.
            mc_write_disable(s);
            outcome_set(o, STEP_PROGRAM, OUTCOME_LATCH_KEPT, address, status);
            return o->kind;
        }
    }
    return OUTCOME_DONE;
}

// Waits for the word just sent: on the busy line where the family has one, else by reading the
// status twice in a row.
static int wait_word(FlashSession* s, double limit, int* status) {
    if (s->chip.program->busy_line)
        return wait_busy_line(s, limit);
    return wait_ready(s, limit, 2, status);
}

// Write disable, which ends a word sequence; then, where the busy line was on, 0x80 turns it off.
static void end_words(FlashSession* s) {
    mc_write_disable(s);
    if (s->chip.program->busy_line)
        mc_busy_line(s, 0);
}

// The busy line turned off once a stop was noted, before the lines are left.
static void close_busy_line(FlashSession* s) {
    s->closing = 1;
    mc_busy_line(s, 0);
    s->closing = 0;
}

// The address of the first word of the page at `address` that does not read as the image has
// it: where a chip that left its word sequence within the page stopped taking words.
static int first_unwritten(FlashSession* s, const unsigned char* image, int address) {
    unsigned char page[PAGE];
    mc_read(s, address, page, PAGE);
    for (int i = 0; i < PAGE; i += 2) {
        if (page[i] != image[address + i] || page[i + 1] != image[address + i + 1])
            return address + i;
    }
    return address + PAGE - 2;
}

// Ends a word sequence a stop cut into: once the chip is no longer busy with its last word (a
// busy chip takes nothing but read status), write disable.
static void close_words(FlashSession* s, double limit) {
    int status = 0;
    s->closing = 1;
    wait_word(s, limit, &status);
    end_words(s);
    s->closing = 0;
}

// Auto-address-increment word programming, one sequence per run of pages that are not blank:
// write enable and the first word with its address, then each word alone, write disable to end
// it. Each word is waited for: a word sent while the chip is still busy with the one before would
// be lost, and a frame on a fast port may take less than a word's program time. A word the chip
// took leaves it in its sequence (status bit 6), which read status shows: after every word, or
// on the busy line, after the first word of each page (read status then finds the line showing
// ready, all ones, or the status of a chip that left its sequence).
static int program_words(FlashSession* s, const unsigned char* image, int first, int count,
                         FlashOutcome* o) {
    const double limit = 2 * s->chip.program_max_us / 1e6;
    const int busy_line = s->chip.program->busy_line;
    const int pages = first + count;
    int in_sequence = 0, status = 0, wait = WAIT_READY, refused = -1;
    o->words = 1;
    if (busy_line)
        mc_busy_line(s, 1);
    for (int n = first; n < pages && wait == WAIT_READY && refused < 0; n++) {
        int address = n * PAGE;
        programming(s, EVENT_PROGRAMMING, n, pages);
        if (flash_blank(image + address)) {
            if (in_sequence) {
                mc_write_disable(s);
                wait = wait_ready(s, limit, 2, &status);
                in_sequence = 0;
            }
            continue; // the erase left it so
        }
        for (int i = 0; i < PAGE && wait == WAIT_READY && refused < 0; i += 2) {
            if (in_sequence)
                mc_words_next(s, image + address + i);
            else
                mc_words_start(s, address + i, image + address + i);
            in_sequence = 1;
            wait = wait_word(s, limit, &status);
            if (wait == WAIT_BUSY && busy_line)
                status = -1; // the busy line stayed low: no status was read
            // On the busy line the sequence is checked by read status after a page's first word and
            // after its last: a word refused in between is found by reading the page back.
            const int checked = !busy_line || i == 0 || i == PAGE - 2;
            if (wait == WAIT_READY && busy_line && checked)
                status = mc_read_status(s);
            if (wait == WAIT_READY && checked && (status & STATUS_WORDS) == 0)
                refused = busy_line && i != 0 ? first_unwritten(s, image, address) : address + i;
        }
    }
    if (wait == WAIT_STOPPED) {
        if (s->stop_first != 0)
            close_words(s, limit);
        else if (busy_line)
            close_busy_line(s);
        outcome_set(o, STEP_PROGRAM, OUTCOME_INTERRUPTED, 0, status);
        return o->kind;
    }
    if (in_sequence) {
        mc_write_disable(s); // also after a failed wait: the chip takes nothing more now
        if (wait == WAIT_READY && refused < 0)
            wait = wait_ready(s, limit, 2, &status);
    }
    if (busy_line)
        mc_busy_line(s, 0);
    if (refused >= 0) {
        outcome_set(o, STEP_PROGRAM, OUTCOME_WORDS_LEFT, refused, status);
        return o->kind;
    }
    if (wait != WAIT_READY) {
        outcome_set(o, STEP_PROGRAM, wait_outcome(wait), 0, status);
        o->limit = limit;
        return o->kind;
    }
    return OUTCOME_DONE;
}

const Programming PROGRAM_PAGES = {program_pages, 0, 0};
const Programming PROGRAM_WORDS = {program_words, 1, 0};
const Programming PROGRAM_WORDS_BUSY_LINE = {program_words, 1, 1};

int flash_write(FlashSession* s, ProtectionState* p, const unsigned char* image, int pages,
                FlashOutcome* o) {
    // A chip whose own table contradicts the row of its identification is not the chip the row
    // describes (relabelled, or a clone): nothing is done to it.
    if (s->kind == CHIP_KNOWN && s->table.differs) {
        outcome_set(o, STEP_IDENTIFY, OUTCOME_TABLE_DIFFERS, 0, p->status);
        return o->kind;
    }
    if (clear_protection(s, p, o) != OUTCOME_DONE)
        return o->kind;
    if (flash_erase(s, pages, o) != OUTCOME_DONE || flash_erase_took(s, pages, o) != OUTCOME_DONE)
        return o->kind;
    programming(s, EVENT_PROGRAM_BEGINS, 0, pages);
    if (s->chip.program->write(s, image, 0, pages, o) != OUTCOME_DONE)
        return o->kind;
    programming(s, EVENT_PROGRAM_ENDS, pages, pages);
    return OUTCOME_DONE;
}
