// The parts of lptspi-check, one subject a file, and the findings they leave for the verdict.
#pragma once

#include "check.h"

#include "../flash/chips.h"
#include "../flash/procedures.h"
#include "../flash/session.h"
#include "../port/diagnosis.h"

// What the parts found, read by the verdict. A port or driver problem ends the run at once; the
// flash's problems let the other flash checks go on.
struct CheckFindings {
    // The port checked: LPT<lpt_number>, named `lpt` in every finding; how its registers were
    // found (HWI_PORT_* flags from the driver, or -1 when it cannot say).
    int lpt_number;
    char lpt[8];
    int located;
    // The wiring's problems: no chip answering, an identification or reads that differ.
    int wiring;
    // A status lptspi refuses, which --unprotect may clear.
    int status;
    // What keeps lptspi's own run from programming the chip besides its status: what the family
    // cannot do (for good), and blocks locked in a register of their own (until unlocked).
    int family;
    int locks;
    // What else keeps lptspi --fast from writing the chip as it is: a busy flash, an
    // identification not in the table that gives no size, and a lock bit that holds the
    // protection while the write-protect pin is low (PIN_LOCK_*).
    int busy;
    int no_size;
    int pin_lock;
    // A chip of the older generation (no 0x9F), and a parameter table that contradicts the row of
    // the chip's identification: lptspi --fast refuses both.
    int older;
    int table;
    // What protects the chip, as read (the pin lock as found: pin_lock follows --unprotect).
    ProtectionState protection;
};

// ---- the port (check_port.cpp) ----

// The platform in one line; 0 where lptspi cannot run.
int say_platform(const PlatformFacts* p);
// Claims the port; when it cannot be claimed, says why and lists every parallel port there is.
// Returns 1 when it is claimed.
int check_claim(CheckFindings* f, int family);
// Brings the driver up (NT family); 1 when it runs, else having said why not.
int check_driver(const PlatformFacts* p);
// Where the port's registers are, whether the driver serves them, the ECR, and whether the data
// register keeps what is written to it. Returns 1 when the port answers there.
int check_registers(CheckFindings* f, int family);

// ---- the flash (check_flash.cpp, check_protection.cpp) ----

// The data-in line, the identification, the status, the family, the block locks, the reads,
// and --unprotect when asked.
void check_flash(FlashSession* s, const CheckOptions* options, CheckFindings* f);
// The status decoded with the family's bit names, and what lptspi and lptspi --fast make of it
// (`f` holding the family's problem and the pin lock).
void say_status(int status, const FlashChip* chip, const CheckFindings* f);
// The block-protection register of a chip that keeps one, and what it means.
void say_locks(FlashSession* s, const FlashChip* chip, CheckFindings* f);
// Clears block protection by the family's own procedure, and says whether it held.
void unprotect(FlashSession* s, int status, const FlashChip* chip, CheckFindings* f);

// ---- speed (check_speed.cpp) and pins (pins.cpp) ----

// How long a port access takes here, and what that makes of each program's run.
void measure_speed(FlashSession* s);
// Holds each output line at its working level in turn, for a meter or an LED; returns 0 when
// Ctrl-C stopped it.
int hold_pins(FlashSession* s);
