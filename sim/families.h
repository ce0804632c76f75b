// The hardware model's own parts, shared by model.cpp, commands.cpp, families.cpp, status.cpp and
// sfdp.cpp: the bus and the chip's state, the commands, and each family's rules.
// Freestanding, as model.h says; internal to sim/ (a family's row and find_family are in model.h).
#pragma once

#include "model.h"

namespace simcore {

const uint8_t kAtSwp = 0x0C; // AT25DF status bits 2-3: 00 no sector protected, 11 all, 01 some
const uint8_t kAtWpp = 0x10; // AT25DF status bit 4: the WP pin is high

inline const Family& family(const Model& m) {
    return m.family != nullptr ? *m.family : kFamilies[0];
}

// Whether the chip takes a frame that starts with `cmd` (in the middle of an auto-address-increment
// program, only the next word, read status and write disable).
bool known_command(const Model& m, uint8_t cmd);

// ---- the bus and the chip's state (model.cpp) ----

void update_status_port(Model& m);
void set_miso(Model& m, uint8_t level);
// Ends a program or erase once its time has passed; the write latch clears with it, except
// between the words of an auto-address-increment program.
void settle(Model& m);
// The status register as read status reports it now.
uint8_t status_now(Model& m);
void start_busy(Model& m, uint64_t ns);
// An erase begins: a chip that gives way under its current stops answering.
void start_erase(Model& m, uint64_t ns);

// ---- the commands (commands.cpp) ----

void fill(uint8_t* p, uint32_t n, uint8_t value);
// The byte the chip shifts out during byte m.nbytes of the frame.
uint8_t next_output(Model& m);
// A whole byte has been clocked in; m.nbytes is its index in the frame.
void byte_in(Model& m, uint8_t b);
// Chip select rose: the commands that act at the end of a frame do so now.
void frame_end(Model& m);

// ---- the status registers and protection (status.cpp) ----

uint32_t sector_count(const Model& m);
bool protect_bit(const Model& m, uint32_t n);
void set_protect_bit(Model& m, uint32_t n, bool on);

// The SST26's blocks: 8 KiB in the lowest and highest 32 KiB, a 32 KiB block next to each of
// those, 64 KiB blocks between. Register bits: one per 64 KiB block from the bottom, then the
// lower and the upper 32 KiB block, then a write-lock (even) and read-lock (odd) bit per 8 KiB
// block from the bottom.
struct Block {
    uint32_t start, size, lock_bit;
};
Block sst26_block(const Model& m, uint32_t address);

// Whether a program or erase at `address` is refused by the protection.
bool protected_at(const Model& m, uint32_t address, bool erase);
bool any_protected(const Model& m);

// A program or erase the protection refuses: the AT25DF drops its latch, the others keep it.
bool refused(Model& m, bool refuse);

// Whether write status is refused: SRWD (SRP0, BPL, SPRL) with the write-protect pin low, or the
// W25Q's SRP1 (power-supply lock-down, or with SRP0 one-time programmed).
bool status_locked(const Model& m);
// Write status (0x01, or 0x31) at the end of its frame, if the family's way of enabling it was
// followed: true when it was taken, the write latch still set (its cycle, which the caller
// starts, clears it).
bool write_status(Model& m, bool wel);

// ---- the parameter table (sfdp.cpp) ----

// Fills m.sfdp with the table the chip publishes (m.sfdp_mode) and sets m.has_sfdp.
void build_sfdp(Model& m);

// ---- deep power-down and the busy line (model.cpp) ----

// Whether the chip ignores a frame starting now: asleep (all but 0xAB), or not yet awake.
bool sleeping(const Model& m, uint8_t cmd);
// SO as RY/BY# (SST25 EBSY): set when the chip is selected in AAI programming.
void start_busy_out(Model& m);

} // namespace simcore
