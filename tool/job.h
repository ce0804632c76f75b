// What one run of lptspi is asked to do: the image and the port, and the options that shape a
// board's write (the regions kept, the protection put back, the serial number, the log).
#pragma once

#include "image.h"
#include "options.h"
#include "serial.h"

struct Job {
    const Image* image; // NULL for the runs that take none (--erase, --blank)
    int port;           // n of LPTn
    const Region* keep; // the board's own bytes kept through the write (--keep)
    int keeps;
    int protect;         // the protection the chip had put back after the write (--protect)
    int update;          // only the erase units that differ are written (--update)
    int has_serial;      // --serial: a serial number goes into each board's image
    Serial serial;       // where and how, and the board's number (given, or taken for it)
    const char* serials; // the counter file of --serials, or NULL
    const char* log;     // the station's log of --log, or NULL
};
