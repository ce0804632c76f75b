// The station's log rows: the columns in RFC 4180 quoting, appended through port/logfile.
#include "stationlog.h"

#include "verdict.h"
#include "../port/logfile.h"

#include <stdio.h>
#include <string.h>

const char* const LOG_HEADER = "time,computer,port,board,chip,id,image,sha256,pages,seconds,"
                               "result,reason,serial,kept\r\n";

// The header of the logs written before the serial and kept columns: such a log still takes
// rows, in its own columns.
static const char* const EARLIER_HEADER = "time,computer,port,board,chip,id,image,sha256,pages,"
                                          "seconds,result,reason\r\n";

// The columns of the log in use: the earlier log's twelve, or all of them.
static int earlier_log = 0;

enum { ROW_SIZE = 4096 };

// Appends `field` to the row at `*at`, quoted when it holds a comma, a quote or a line break
// (each quote then doubled), and the separator after it: a comma, or the row's end.
static void add_field(char* row, int* at, const char* field, int last) {
    const int quoted = strpbrk(field, ",\"\r\n") != NULL;
    char* out = row + *at;
    char* end = row + ROW_SIZE - 4; // room for the closing quote and the row's end
    if (quoted)
        *out++ = '"';
    for (const char* c = field; *c != '\0' && out < end; c++) {
        if (*c == '"' && quoted)
            *out++ = '"';
        *out++ = *c;
    }
    if (quoted)
        *out++ = '"';
    if (last) {
        *out++ = '\r';
        *out++ = '\n';
    } else {
        *out++ = ',';
    }
    *out = '\0';
    *at = (int)(out - row);
}

// Whether the file at `path` holds a station log or nothing yet: none there, empty, or its first
// line the header (ended by CR LF, LF or the file's end). A file that cannot be read is left to
// the append, which says why.
// Whether the bytes `start` (`got` of them) begin with the first line `header`.
static int begins_with(const char* start, size_t got, const char* header) {
    const size_t line = strlen(header) - 2; // without its CR LF
    if (got < line || memcmp(start, header, line) != 0)
        return 0;
    const char* end = start + line;
    const size_t left = got - line;
    return left == 0 || end[0] == '\n' || (end[0] == '\r' && (left == 1 || end[1] == '\n'));
}

// 1 when the file at `path` holds a station log or nothing yet: none there, empty, or its first
// line the header (ended by CR LF, LF or the file's end); 2 when it is a log of the earlier
// columns; 0 otherwise. A file that cannot be read is left to the append, which says why.
static int holds_log(const char* path) {
    FILE* file = fopen(path, "rb");
    if (file == NULL)
        return 1;
    char start[256];
    const size_t got = fread(start, 1, sizeof start, file);
    fclose(file);
    if (got == 0 || begins_with(start, got, LOG_HEADER))
        return 1;
    return begins_with(start, got, EARLIER_HEADER) ? 2 : 0;
}

int log_ready(const char* path, const char* image, int new_columns) {
    if (same_file(path, image)) {
        printf("Error the log %s is the image file itself: no board touched \n", path);
        fail_because("the log %s is the image file itself: no board touched", path);
        return 0;
    }
    const int holds = holds_log(path);
    earlier_log = holds == 2;
    if (earlier_log && new_columns) {
        printf("Error the log %s has no serial and kept columns: start a new log for --serial and "
               "--keep: no board touched \n",
               path);
        fail_because("the log %s has no serial and kept columns: no board touched", path);
        return 0;
    }
    if (holds == 0) {
        printf("Error %s is not a station log (its first line is not the log's header): no board "
               "touched \n",
               path);
        fail_because("%s is not a station log: no board touched", path);
        return 0;
    }
    char reason[256];
    if (append_record(path, LOG_HEADER, "", reason, (int)sizeof reason) == 0)
        return 1;
    printf("Error the log %s cannot be written (%s): no board touched \n", path, reason);
    fail_because("the log %s cannot be written (%s): no board touched", path, reason);
    return 0;
}

int log_board(const char* path, const BoardRecord* r) {
    char row[ROW_SIZE], when[40], computer[64], port[8], number[16], id[8], pages[16], seconds[32];
    local_time_text(when, (int)sizeof when);
    computer_name(computer, (int)sizeof computer);
    snprintf(port, sizeof port, "LPT%d", r->port);
    snprintf(number, sizeof number, "%d", r->number);
    snprintf(id, sizeof id, "%02x%02x%02x", r->id[0], r->id[1], r->id[2]);
    snprintf(pages, sizeof pages, "%d", r->pages);
    snprintf(seconds, sizeof seconds, "%.1f", r->seconds);
    const char* fields[] = {when,
                            computer,
                            port,
                            number,
                            r->chip,
                            id,
                            r->image,
                            r->sha256,
                            pages,
                            seconds,
                            r->result,
                            r->reason,
                            r->serial != NULL ? r->serial : "",
                            r->kept != NULL ? r->kept : ""};
    const int count = (int)(sizeof fields / sizeof fields[0]) - (earlier_log ? 2 : 0);
    int at = 0;
    row[0] = '\0';
    for (int i = 0; i < count; i++)
        add_field(row, &at, fields[i], i == count - 1);
    char reason[256];
    if (append_record(path, earlier_log ? EARLIER_HEADER : LOG_HEADER, row, reason,
                      (int)sizeof reason) == 0)
        return 1;
    printf("!!! the log %s cannot be written (%s): the station ends \n", path, reason);
    return 0;
}
