// lptspi --station: boards one after another on one port, the fast run's procedure on each.
#include "station.h"

#include "board.h"
#include "fast.h"
#include "keep.h"
#include "serial.h"
#include "sha256.h"
#include "stationlog.h"
#include "verdict.h"
#include "../flash/chips.h"
#include "../flash/commands.h"
#include "../flash/identify.h"
#include "../flash/wake.h"
#include "../port/interrupt.h"
#include "../port/system.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum {
    POLL_MS = 250,    // between identification polls
    POLLS_AGREE = 3,  // polls in a row that must agree that a board came or went
    LISTED_FAILS = 32 // failed boards the summary names
};

// What the station keeps from board to board.
struct Station {
    const Job* job;
    const Image* firmware;
    const char* log; // or NULL
    char sha[SHA256_HEX];
    int port;
    int boards, passed, failed;
    int failed_numbers[LISTED_FAILS];
};

// Polls the identification (the chip woken first) until a board answers (`present`) the same three
// times in a row, its identification in `id`, or until no chip answers three times in a row. The
// lines are idle between polls. Returns 0 when Ctrl-C stopped it.
static int wait_for_board(FlashSession* s, int present, unsigned char* id) {
    unsigned char now[3], last[3] = {0, 0, 0};
    int agree = 0;
    for (;;) {
        flash_wake(s); // a board whose processor left its chip asleep
        mc_read_id(s, now);
        session_idle(s);
        if (session_stopped(s))
            return 0;
        if (chip_answers(now) != present)
            agree = 0;
        else if (present && agree > 0 && memcmp(now, last, 3) != 0)
            agree = 1;
        else
            agree++;
        memcpy(last, now, 3);
        if (agree >= POLLS_AGREE)
            break;
        _sleep(POLL_MS);
    }
    memcpy(id, last, 3);
    return 1;
}

// "12 boards: 11 passed, 1 failed (board 7)". Returns the station's exit status: 0 when every
// board passed, 2 otherwise.
static int summary(const Station* st) {
    printf("%d board%s: %d passed, %d failed", st->boards, st->boards == 1 ? "" : "s", st->passed,
           st->failed);
    if (st->failed > 0) {
        printf(" (board%s", st->failed == 1 ? "" : "s");
        for (int i = 0; i < st->failed && i < LISTED_FAILS; i++)
            printf("%s %d", i == 0 ? "" : ",", st->failed_numbers[i]);
        printf("%s)", st->failed > LISTED_FAILS ? " and more" : "");
    }
    printf("\n");
    return st->failed > 0 ? EXIT_VERIFY_FAILED : EXIT_VERIFIED;
}

// The board's end: counted, and logged. Returns 0 when the log could not be written.
static int board_ends(Station* st, BoardRecord* record, const char* result) {
    if (strcmp(result, "pass") == 0) {
        st->passed++;
    } else {
        if (st->failed < LISTED_FAILS)
            st->failed_numbers[st->failed] = record->number;
        st->failed++;
    }
    record->seconds = verdict_seconds();
    record->result = result;
    record->reason = strcmp(result, "fail") == 0 ? verdict_reason() : "";
    return st->log == NULL || log_board(st->log, record);
}

// Writes the board that answered the polls with `id`; the log names the chip the board's
// session identified and wrote (before that, the one the polls found). Returns the board's exit
// status, or -1 when the log could not be written.
static int one_board(Station* st, FlashSession* s, const unsigned char* id) {
    char prefix[32], chip_name[64];
    st->boards++;
    snprintf(prefix, sizeof prefix, "board %d: ", st->boards);
    printf("board %d: flash id %02x %02x %02x answers\n", st->boards, id[0], id[1], id[2]);
    verdict_start();
    s->kind = 0;
    s->chip.name = "the flash";
    // The board's serial number, taken before its write: a board that fails keeps its number,
    // which is never handed out again.
    Job job = *st->job;
    char serial[SERIAL_TEXT] = "";
    if (job.has_serial) {
        if (take_serial(job.serials, &job.serial, &job.serial.value) != 0) {
            st->boards--; // not touched
            return -1;
        }
        serial_text(&job.serial, job.serial.value, serial);
    }
    // A busy flash is refused; its protection bits are cleared by write_board.
    const int status = board_begin(s, STATUS_BUSY);
    verdict_prefix(prefix);
    BoardDone done;
    const int result = write_and_judge(s, &job, status, &done);
    verdict_prefix(NULL);

    BoardRecord record;
    memset(&record, 0, sizeof record);
    record.port = st->port;
    record.number = st->boards;
    FlashChip polled;
    resolve_chip(id, &polled);
    snprintf(chip_name, sizeof chip_name, "%s", s->kind != 0 ? s->chip.name : polled.name);
    record.chip = chip_name;
    memcpy(record.id, s->kind != 0 ? s->id : id, 3);
    record.image = st->firmware->path;
    record.sha256 = st->sha;
    record.pages = st->firmware->pages;
    record.serial = serial;
    record.kept = done.kept_bytes;
    if (result == EXIT_INTERRUPTED) {
        printf("\nboard %d: interrupted: the flash may be half-written; putting the board back "
               "erases and rewrites it whole\n",
               record.number);
        board_ends(st, &record, "interrupted");
        return result;
    }
    if (result != EXIT_VERIFIED)
        printf("\a"); // the console's bell: a failed board is not to be missed
    return board_ends(st, &record, result == EXIT_VERIFIED ? "pass" : "fail") ? result : -1;
}

int program_station(const Job* job) {
    const Image* image = job->image;
    const int port = job->port;
    static Station st;
    st.job = job;
    st.firmware = image;
    st.log = job->log;
    st.port = port;
    sha256_hex(image->bytes, (size_t)image->size, st.sha);
    printf("firmware %s: %d pages, sha256 %s\n", image->path, image->pages, st.sha);
    // Before the first board, the station's own verdict: why it cannot start.
    verdict_start();
    if (regions_refused(job) ||
        (st.log != NULL && !log_ready(st.log, image->path, job->has_serial || job->keeps > 0)))
        return say_verdict(EXIT_NOTHING_WRITTEN, "%s", "");
    FlashSession s;
    if (!claim_port(port, LINK_FAST, &s))
        return say_verdict(EXIT_NOTHING_WRITTEN, "%s", "");
    session_idle(&s);
    unsigned char id[3];
    for (;;) {
        printf("waiting for a board on LPT%d (Ctrl-C ends)\n", port);
        if (!wait_for_board(&s, 1, id))
            break;
        const int result = one_board(&st, &s, id);
        if (result == EXIT_INTERRUPTED) {
            summary(&st);
            return EXIT_INTERRUPTED;
        }
        if (result < 0) { // only a log that could not be written ends the station so
            summary(&st);
            verdict_start();
            fail_because("the log %s cannot be written (see above): the station ended after "
                         "board %d",
                         st.log, st.boards);
            return say_verdict(EXIT_NOTHING_WRITTEN, "%s", "");
        }
        printf("remove the board\n");
        if (!wait_for_board(&s, 0, id))
            break;
    }
    // Ctrl-C between boards: the lines are idle, and the summary ends the station.
    session_idle(&s);
    printf("\n");
    return summary(&st);
}
