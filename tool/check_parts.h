// The parts of lptspi-check, one subject a file, and the findings they leave for the verdict.
#pragma once

#include "check.h"

#include "../flash/chips.h"
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
};

enum {
    PIN_LOCK_NONE = 0,
    PIN_LOCK_HELD = 1,   // the status shows the pin low, or the unprotect was ignored
    PIN_LOCK_UNKNOWN = 2 // the lock bit is set and no command reads the pin
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
void check_flash(const CheckOptions* options, CheckFindings* f);
// Whether lptspi's own run cannot program a chip of the family `chip` with `status` whatever its
// protection: a status bit that shows the pin, no bulk erase, one byte per program command.
int family_stops_lptspi(const FlashChip* chip, int status);

// Whether a lock bit in `status` holds the protection of a chip of the family `chip` (PIN_LOCK_*).
int pin_lock_of(const FlashChip* chip, int status);
// The status decoded with the family's bit names, and what lptspi and lptspi --fast make of it
// (`f` holding the family's problem and the pin lock).
void say_status(int status, const FlashChip* chip, const CheckFindings* f);
// The block-protection register of a chip that keeps one, and what it means.
void say_locks(const FlashChip* chip, CheckFindings* f);
// Clears block protection by the family's own procedure, and says whether it held.
void unprotect(int status, const FlashChip* chip, CheckFindings* f);

// ---- speed (check_speed.cpp) and pins (pins.cpp) ----

// How long a port access takes here, and what that makes of each program's run.
void measure_speed();
// Holds each output line at its working level in turn, for a meter or an LED.
void hold_pins();
