// The station's log: one CSV row (RFC 4180) per board, appended whole under a lock to a file that
// several stations, one per port, may share.
#pragma once

// What the log says of one board.
struct BoardRecord {
    int port;            // n of LPTn
    int number;          // the board's number at this station, from 1
    const char* chip;    // the chip's name ("" when no chip lptspi knows answered)
    unsigned char id[3]; // its identification, as it answered the polls
    const char* image;   // the image file, as given
    const char* sha256;  // the firmware's SHA-256, 64 hex digits
    int pages;           // the image's pages
    double seconds;      // the board's time, from its session's start to its verdict
    const char* result;  // "pass", "fail" or "interrupted"
    const char* reason;  // for a failure its first line, else ""
    const char* serial;  // the serial number written into the board, or ""
    const char* kept;    // the board's own bytes kept through the write, or ""
};

// The log's first row, naming the columns.
extern const char* const LOG_HEADER;

// Makes sure the log at `path` is a log that can be opened and written before any board is
// touched: not the image file `image` itself (by any name), missing, empty or starting with the
// header row (a file that starts otherwise is no log); creates it with its header row when it is
// new. Returns 1 when it can; otherwise 0, having said why in one line and noted it for the
// verdict.
// A log with the earlier columns (no serial, no kept) still takes rows in its own columns, but
// not for a station that has these to log (`new_columns`).
int log_ready(const char* path, const char* image, int new_columns);

// Appends the row of `record` to the log at `path` (its header first when the file is new).
// Returns 1 when it is written; otherwise 0, having said why in one line.
int log_board(const char* path, const BoardRecord* record);
