// lptspi --station: one board after another on one port, each written by the fast run's own
// procedure, until Ctrl-C; with --log, a row of the shared log for every board.
#pragma once

#include "job.h"

// Prints the firmware's pages and SHA-256, checks the log, claims the port, then waits for a
// board (the same plausible identification three polls in a row, 250 ms apart), writes it with
// write_board, gives its verdict numbered by board ("board 3: PASS: ..."), rings the bell on a
// failure, asks for it to be removed and waits until no chip answers, and so on. Ctrl-C between
// boards ends it with a summary: exit 0 when every board passed, 2 otherwise; during a board
// the board is logged as interrupted and the summary follows, exit 130. A log that cannot be
// written ends it with 1 and a FAIL verdict: before any board when it cannot be opened or is no
// log (log_ready), else after the board; so does a port that cannot be claimed.
int program_station(const Job* job);
