// A flash session: the claimed port as every flash call uses it, passed to each of them. Nothing
// else changes what a flash call does: the link's mode, how the accesses reach the port and what
// a stop must send first are the session's own.
#pragma once

#include "chips.h"
#include "sfdp.h"

// The link a session speaks.
enum {
    // lptspi's own: one line change per port access, each access its own driver request; four
    // accesses a bit, the data-in line sampled for every bit; a write enable followed by 100 ms.
    LINK_PLAIN = 0,
    // Two writes a bit sent, three accesses a bit received, no pause after a write enable, and on
    // the NT family each whole frame one driver request where the driver takes it.
    LINK_FAST = 1
};

// How the session's port accesses reach the port.
enum {
    ACCESS_DIRECT = 1, // the processor's port instructions (95/98/Me)
    ACCESS_DRIVER,     // a driver request for each access (NT, an older driver)
    ACCESS_FRAMES      // a driver request for each whole frame, where the driver takes it (NT)
};

struct FlashEvent;

// Whoever runs a procedure hears of its steps and its progress here, to put them into words.
struct FlashWatch {
    void (*heard)(void* listener, const FlashEvent* event);
    void* listener;
};

struct FlashSession {
    unsigned short data;   // the port's data register
    unsigned short status; // its status register, where the flash's data-out arrives
    int access;            // ACCESS_*
    int link;              // LINK_*
    // The command a stop must send before the lines are left (write disable while a word
    // sequence is open, which would otherwise leave the chip taking nothing but words), or 0.
    unsigned char stop_first;
    // Ctrl-C or Ctrl-Break was noted at a frame boundary: no frame is sent from then on, but the
    // ones that finish what the chip needs (`closing`), and every procedure returns "interrupted".
    int stopped;
    int closing;
    const FlashWatch* watch; // NULL: nobody listens
    // The chip identified on the session (flash_identify): its row, and what kind of answer its
    // identification was (CHIP_*; 0 before any).
    FlashChip chip;
    int kind;
    unsigned char id[3];
    // The chip's own parameter table, as read with the identification; and where 0x9F found no
    // chip, what the older identification (0x90: maker, device; else 0xAB's signature) read.
    FlashTable table;
    unsigned char older[2];
};

// A session on the claimed port (baseport) with the link `link`: no chip identified yet.
void session_open(FlashSession* s, int link);

// Leaves the lines idle: the flash released, clock and data-out low.
void session_idle(FlashSession* s);

// A board's session begins: the lines idle, a pause of 100 ms, and the flash's status read.
int session_begin(FlashSession* s);

// A board's session ends: the lines idle and a pause of 100 ms.
void session_end(FlashSession* s);

// Holds the lines at `lines` (the adapter's ADAPTER_* values), for a meter.
void session_hold(FlashSession* s, int lines);

// Whether a stop was noted: the procedure under way returns, its chip left as it must be.
int session_stopped(const FlashSession* s);

// Notes Ctrl-C or Ctrl-Break if one was pressed, at a point where the program may stop (between
// frames, or in a pause of its own); returns session_stopped.
int session_note_stop(FlashSession* s);
