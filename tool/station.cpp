// lptspi --station: boards one after another on one port, the fast run's procedure on each.
#include "station.h"

#include "board.h"
#include "fast.h"
#include "sha256.h"
#include "stationlog.h"
#include "verdict.h"
#include "../flash/chips.h"
#include "../flash/commands.h"
#include "../flash/link.h"
#include "../port/interrupt.h"
#include "../port/registers.h"
#include "../port/system.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum {
    POLL_MS = 250,    // between identification polls
    POLLS_AGREE = 3,  // polls in a row that must agree that a board came or went
    LISTED_FAILS = 32 // failed boards the summary names
};

static const char* log_path = NULL;
static const Image* firmware = NULL;
static char sha[SHA256_HEX];
static int station_port = 0;
static int boards = 0, passed = 0, failed = 0;
static int failed_numbers[LISTED_FAILS];
static int in_board = 0; // a board's session is under way
static BoardRecord record;
static char chip_name[64];

void station_log(const char* path) {
    log_path = path;
}

static int answers(const unsigned char* id) {
    const int zeros = id[0] == 0x00 && id[1] == 0x00 && id[2] == 0x00;
    const int ones = id[0] == 0xFF && id[1] == 0xFF && id[2] == 0xFF;
    return !zeros && !ones;
}

// Polls the identification until a board answers (`present`) the same three times in a row, its
// identification in `id`, or until no chip answers three times in a row. The lines are idle
// between polls.
static void wait_for_board(int present, unsigned char* id) {
    unsigned char now[3], last[3] = {0, 0, 0};
    int agree = 0;
    for (;;) {
        mc_read_id(now);
        Out32(baseport, IDLE_LINES);
        if (answers(now) != present)
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
}

// "12 boards: 11 passed, 1 failed (board 7)". Returns the station's exit status: 0 when every
// board passed, 2 otherwise.
static int summary() {
    printf("%d board%s: %d passed, %d failed", boards, boards == 1 ? "" : "s", passed, failed);
    if (failed > 0) {
        printf(" (board%s", failed == 1 ? "" : "s");
        for (int i = 0; i < failed && i < LISTED_FAILS; i++)
            printf("%s %d", i == 0 ? "" : ",", failed_numbers[i]);
        printf("%s)", failed > LISTED_FAILS ? " and more" : "");
    }
    printf("\n");
    return failed > 0 ? EXIT_VERIFY_FAILED : EXIT_VERIFIED;
}

// The board's end: counted, and logged. Returns 0 when the log could not be written.
static int board_ends(const char* result) {
    if (strcmp(result, "pass") == 0) {
        passed++;
    } else {
        if (failed < LISTED_FAILS)
            failed_numbers[failed] = record.number;
        failed++;
    }
    in_board = 0;
    record.seconds = verdict_seconds();
    record.result = result;
    record.reason = strcmp(result, "fail") == 0 ? verdict_reason() : "";
    return log_path == NULL || log_board(log_path, &record);
}

// Ctrl-C: during a board, which is then logged as interrupted, or between boards. The lines are
// idle and a word sequence ended by now; the summary ends the station.
static void on_stop() {
    if (in_board) {
        printf("\nboard %d: interrupted: the flash may be half-written; putting the board back "
               "erases and rewrites it whole\n",
               record.number);
        board_ends("interrupted");
        summary();
        fflush(stdout);
        exit(EXIT_INTERRUPTED);
    }
    printf("\n");
    const int status = summary();
    fflush(stdout);
    exit(status);
}

// Writes the board that answers `id`. Returns 0 when the log could not be written.
static int one_board(const unsigned char* id) {
    static char prefix[32];
    boards++;
    snprintf(prefix, sizeof prefix, "board %d: ", boards);
    FlashChip chip = {};
    resolve_chip(id, &chip);
    snprintf(chip_name, sizeof chip_name, "%s", chip.name != NULL ? chip.name : "");
    memset(&record, 0, sizeof record);
    record.port = station_port;
    record.number = boards;
    record.chip = chip_name;
    memcpy(record.id, id, 3);
    record.image = firmware->path;
    record.sha256 = sha;
    record.pages = firmware->pages;
    printf("board %d: flash id %02x %02x %02x answers\n", boards, id[0], id[1], id[2]);
    verdict_start();
    in_board = 1;
    chip.name = "the flash";
    // A busy flash is refused; its protection bits are cleared by write_board.
    const int status = board_begin(STATUS_BUSY);
    verdict_prefix(prefix);
    const int result = write_and_judge(firmware, status, &chip);
    verdict_prefix(NULL);
    if (result != EXIT_VERIFIED)
        printf("\a"); // the console's bell: a failed board is not to be missed
    return board_ends(result == EXIT_VERIFIED ? "pass" : "fail");
}

int program_station(const Image* image, int port) {
    firmware = image;
    station_port = port;
    sha256_hex(image->bytes, (size_t)image->size, sha);
    printf("firmware %s: %d pages, sha256 %s\n", image->path, image->pages, sha);
    if (log_path != NULL && !log_ready(log_path))
        return EXIT_NOTHING_WRITTEN;
    linkfast = 1;
    if (!claim_port(port))
        return EXIT_NOTHING_WRITTEN;
    Out32(baseport, IDLE_LINES);
    InterruptCalls(on_stop);
    unsigned char id[3];
    for (;;) {
        printf("waiting for a board on LPT%d (Ctrl-C ends)\n", port);
        wait_for_board(1, id);
        if (!one_board(id))
            break;
        printf("remove the board\n");
        wait_for_board(0, id);
    }
    // Only a log that could not be written ends the station without Ctrl-C.
    InterruptCalls(NULL);
    summary();
    return EXIT_NOTHING_WRITTEN;
}
