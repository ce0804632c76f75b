// The hardware of the simulated PC: a parallel port (on the motherboard at 0x378, or a card's
// wherever the system put it), the passive adapter and a 25-series SPI NOR flash chip behind it.
//
// This part is freestanding: no exceptions, no RTTI, no heap and nothing from the C++ library
// beyond the fixed-width integer types, because the same source is built into a kernel-mode
// driver for the Wine tests. The owner supplies the chip memory, sets the configuration, calls
// model_init() and then drives the port with model_read()/model_write(). Time comes from the
// owner as well: every port access advances now_ns by access_ns, model_advance() adds pauses.
#pragma once

#include "chip_codes.h"

#include <stddef.h>
#include <stdint.h>

namespace simcore {

// Port registers, relative to the base address; the motherboard port's base.
const uint16_t kLptBase = 0x378;
const uint16_t kDataOffset = 0;
const uint16_t kStatusOffset = 1;
const uint16_t kControlOffset = 2;
const uint16_t kEcrOffset = 0x402; // on the motherboard port: its ECP block is 0x400 above
const uint16_t kEcpEcrOffset = 2;  // the ECR within the ECP block

// Status register bits other than bit 6 read as this fixed pattern: bits 0-2 (reserved, high on
// most ports), 3 (nError), 4 (Select), 5 (PaperOut) and 7 (inverted Busy). None of them is wired
// to the chip, and they are all 1 so that code which forgets to mask bit 6 misreads every bit.
const uint8_t kStatusIdle = 0xBF;
const uint8_t kStatusMiso = 0x40;

// ECR at power-up: mode 000 (standard), nErrIntrEn (bit 4) and serviceIntr (bit 2) set, FIFO empty.
const uint8_t kEcrPowerUp = 0x15;

// Adapter wiring of the data register.
const uint8_t kLineHold = 0x01; // always-high line; while low the chip is held and sees no edges
const uint8_t kLineMosi = 0x02;
const uint8_t kLineCs = 0x04; // chip select, active low
const uint8_t kLineSck = 0x08;

const uint32_t kPageSize = 256;
const uint32_t kSectorSize = 64 * 1024;
const int kMaxStuck = 64;
const int kProtectBytes = 40; // room for one bit per 64 KiB of a 16 MiB chip, and the SST26's

// ---- flash families ---------------------------------------------------------------------------

// Where a family keeps its write protection.
enum Protection : uint8_t {
    kProtectNone,      // none to speak of
    kProtectWpBottom,  // only the write-protect pin, held low: the bottom 64 KiB sector (M45PE)
    kProtectStatus,    // block-protect bits in the status register refuse every erase
    kProtectStatusAll, // the same, and they refuse programs as well (SST25)
    kProtectSectors,   // one bit per 64 KiB sector, status bits 2-3 summing them up (AT25DF)
    kProtectBlocks,    // the block-protection register, 0x72 (SST26)
};
// What one program command writes.
enum Programming : uint8_t {
    kProgramPage,     // 0x02: up to a page, the address wrapping inside it
    kProgramByte,     // 0x02: its first data byte; 0xAD: words, auto-address-increment (SST25)
    kProgramByteOnly, // 0x02: its first data byte (the older SST25, whose byte sequence 0xAF is
                      // not modelled)
};
// What lets write status through.
enum StatusEnable : uint8_t {
    kEnableByWrite,  // write enable 0x06
    kEnableByEwsr,   // enable-write-status 0x50 right before it (write enable does not)
    kEnableByEither, // either
};
// Commands beyond those every family answers (0x02 0x03 0x04 0x05 0x06, and 0x0B 0x9F unless
// kNoFastRead, kNoJedecId say otherwise).
const uint16_t kHasWriteStatus = 1u << 0;   // 0x01
const uint16_t kHasErase4k = 1u << 1;       // 0x20
const uint16_t kHasErase32k = 1u << 2;      // 0x52
const uint16_t kHasErase64k = 1u << 3;      // 0xD8 (the SST26: the block the address is in)
const uint16_t kHasBulkErase = 1u << 4;     // 0xC7 and 0x60
const uint16_t kHasPageErase = 1u << 5;     // 0xDB, 256 bytes
const uint16_t kHasPageWrite = 1u << 6;     // 0x0A: the page as sent, unsent bytes kept
const uint16_t kHasDeepPowerDown = 1u << 7; // 0xB9, and 0xAB releases (see Release)
const uint16_t kHasRems = 1u << 8;          // 0x90: manufacturer and device_id (A0 picks the first)
const uint16_t kHasWriteStatus2 = 1u << 9;  // 0x31: status register 2 alone
const uint16_t kHasBusyOut = 1u << 10;      // 0x70 and 0x80 (SST25 hardware end-of-write)
const uint16_t kNoJedecId = 1u << 11;       // 0x9F unknown: a chip older than JEDEC's read-ID
const uint16_t kNoFastRead = 1u << 12;      // 0x0B unknown

// What 0xAB does besides releasing a chip from deep power-down.
enum Release : uint8_t {
    kReleaseNone,      // the chip does not know 0xAB
    kReleaseOnly,      // release only: no data, whatever follows (M45PE, AT25DF)
    kReleaseSignature, // after three dummy bytes the one-byte signature, device_id, repeated (RES)
    kReleaseReadId,    // SST25: a read-ID like 0x90 (three address bytes, then the two IDs)
};

// The chip's own parameter table (JESD216 SFDP, read with 0x5A): which revision of the standard the
// family's datasheet gives it, and the facts of it that are not elsewhere in the family's row.
struct SfdpFacts {
    uint8_t minor = 0;      // 0: no table; 0 with major 1 is JESD216, 5 JESD216A, 6 JESD216B
    uint8_t major = 0;      // 1
    uint8_t pointer = 0;    // where the basic table starts (the parameter header's PTP)
    uint8_t fast_reads = 0; // DWORD 1 bits 16-22: 1-1-2 (bit 0), 1-2-2 (4), 1-4-4 (5), 1-1-4 (6)
    uint32_t dword3_4[2] = {
        0xFFFFFFFF,
        0xFFFFFFFF};        // the quad and dual fast reads' wait states and instructions, as given
    uint8_t qer = 0;        // DWORD 15 bits 20-22, JESD216A on: where the quad-enable bit is
    uint8_t sr1_enable = 0; // DWORD 16 bits 0-6, JESD216A on: how status register 1 is written
    uint8_t volatile_enable_06 =
        0; // DWORD 1 bit 4: write enable for volatile bits is 0x06 (1) or 0x50
};

// One family of chips as its datasheet describes it.
// A row gives only what differs from the common model: 1 MiB, unprotected at power-up, busy in
// bit 0, page programs, block-protect bits 2-4 in the status, write status after a write enable.
struct Family {
    const char* name; // lower case, as LPTSPI_SIM_FLASH names it
    uint32_t jedec_id;
    uint32_t size = 1u << 20;
    uint8_t power_status = 0x00;  // status at power-up (the AT25DF: bits 2-3, sectors protected)
    uint8_t writable;             // status bits write status stores
    uint8_t nonvolatile;          // of those, the bits kept through a power cycle
    uint8_t protect_bits = kSrBp; // status bits that protect (kProtectStatus, kProtectStatusAll)
    uint8_t busy_bits = kSrBusy;  // status bits that read 1 while busy
    uint8_t protection = kProtectStatus;    // Protection
    uint8_t programming = kProgramPage;     // Programming
    uint8_t status_enable = kEnableByWrite; // StatusEnable
    uint16_t commands;                      // kHas... bits
    // Busy times: the table in timings.h, one row per family and operation.

    // Status register 2 (0: none). A one-byte write status (0x01 with one data byte) clears
    // sr2_one_byte_clears (the generation's rule); the lock bits (kSr2Lb) once set stay set.
    uint8_t sr2_writable = 0;
    uint8_t sr2_one_byte_clears = 0;
    uint8_t release = kReleaseNone; // Release: what 0xAB does
    uint8_t device_id = 0;          // the one-byte signature (0xAB) and the device of 0x90
    // The chip's parameter table, if its datasheet gives one; its size, erases and times are
    // taken from the rest of the row and the timing table.
    SfdpFacts sfdp = {};
};

// The smallest chip of family `f`, in bytes: a page; and with the block-protection register
// 128 KiB, since its layout gives each end of the chip a 64 KiB block of its own (four of 8 KiB
// and one of 32 KiB), with the 64 KiB blocks between them.
constexpr uint32_t smallest_size(const Family& f) {
    return f.protection == kProtectBlocks ? 2 * kSectorSize : kPageSize;
}

extern const Family kFamilies[]; // the first one is the default chip
extern const int kFamilyCount;

// The family of that name (in either case), or null.
const Family* find_family(const char* name);

// The self-timed operations, each a row of the families' timing table (timings.h).
enum Operation : uint8_t {
    kOpStatusWrite, // 0x01
    kOpProgram,     // 0x02 page program, or byte program and each 0xAD word (kProgramByte)
    kOpPageWrite,   // 0x0A
    kOpErasePage,   // 0xDB
    kOpErase4k,     // 0x20
    kOpErase32k,    // 0x52
    kOpErase64k,    // 0xD8
    kOpEraseChip,   // 0xC7 and 0x60
    kOpRelease,     // 0xAB out of deep power-down, until the chip answers again (tRES1)
    kOperationCount,
};
// Which of a row's times an operation takes: the typical one (the default), the minimum (the
// datasheet's where it gives one, otherwise 0), the maximum, or a random time between minimum and
// maximum from a seeded sequence.
enum Corner : uint8_t { kTypical = 0, kMinimum = 1, kMaximum = 2, kRandom = 3 };

// A row of the timing table: what one family's datasheet gives for one operation, in
// microseconds, and where. `sheet_typ_us`, when not 0, is the datasheet's typical time where the
// simulator keeps another as its typical (the default chip's long-standing erase times).
struct Timing {
    const char* family;
    Operation op;
    uint32_t min_us, typ_us, max_us;
    uint32_t sheet_typ_us;
    const char* source;
};

// The family's row for `op`, or null when the family has no such self-timed operation (a status
// write that takes effect at once, a command it lacks).
const Timing* family_timing(const Family& f, Operation op);
// Its time at a corner in microseconds (0 without a row; kRandom, not one value, gives 0 too).
uint32_t family_time(const Family& f, Operation op, Corner corner);

// A busy time of the configuration that means "the family's own".
const uint64_t kFamilyTime = ~0ull;

// Which parameter table the chip publishes: its family's (none if its datasheet gives none), none,
// or its family's with one lie: the density doubled, or the 4 KiB erase's instruction not the
// family's (as on a relabelled or cloned part).
enum SfdpMode : uint8_t { kSfdpFamily = 0, kSfdpNone = 1, kSfdpWrongSize = 2, kSfdpWrongErase = 3 };
const uint32_t kSfdpBytes = 256; // the table's address space: 0x5A's address wraps at it

// kMisoLost: the chip's output until it starts its first erase, then high for good, as on a board
// whose supply gives way under the erase current (the mode becomes kMisoHigh then).
enum MisoMode : uint8_t { kMisoChip = 0, kMisoHigh = 1, kMisoLow = 2, kMisoLost = 3 };

struct StuckByte {
    uint32_t address;
    uint8_t mask; // bits that stay 1 when programmed
};

struct Model {
    // Configuration, set by the owner before model_init().
    uint16_t base;         // data register; status at base + 1, control at base + 2
    uint16_t ecr_port;     // the ECR (kLptBase + kEcrOffset on the motherboard port)
    uint8_t* memory;       // chip contents, `size` bytes, owned by the caller
    uint32_t size;         // a power of two
    uint32_t access_ns;    // virtual cost of one port access
    const Family* family;  // null: kFamilies[0]
    uint64_t program_ns;   // every program's busy time, or kFamilyTime
    uint64_t erase_ns;     // every erase's busy time, or kFamilyTime
    uint8_t ecp;           // 1: the port has an ECR at ecr_port
    uint8_t miso_mode;     // MisoMode
    uint8_t power_status;  // chip status at power-up; bit 0 set means busy for ever
    uint32_t jedec_id;     // identification as 0xMMTTCC; 0: the family's (see model_init)
    uint8_t wp_low;        // the write-protect pin held low: with SRWD set, write status is refused
                           // (the M45PE: the bottom sector refuses programs and erases)
    uint8_t corner;        // Corner of the family's times (program_ns and erase_ns override it)
    uint8_t power_status2; // status register 2 as the run starts (families that have one)
    uint8_t start_asleep;  // 1: the chip starts in deep power-down (the board's processor left it)
    uint8_t sfdp_mode;     // SfdpMode: the family's table, none, or one that lies
    uint64_t seed;         // kRandom: the seed of the times' sequence
    StuckByte stuck[kMaxStuck];
    int stuck_count;
    uint8_t aai_ends; // SST25: the word sequence ends when the word for aai_end arrives
    uint32_t aai_end; // that word's (even) address: it is not programmed, the chip leaves the
                      // sequence and its write latch clears

    // Clock and counter.
    uint64_t now_ns;
    uint64_t accesses;

    // Port.
    uint8_t data;
    uint8_t control;
    uint8_t ecr;
    uint8_t status_port; // value of base + 1, MISO included

    // What the chip sees of the bus.
    uint8_t held;     // the always-high line is low: the chip sees none of the lines
    uint8_t sck;      // last SCK level the chip saw
    uint8_t selected; // last chip select level the chip saw was low
    uint8_t miso;     // the chip's output level (1 while not driven)

    // Chip.
    uint8_t sr;               // status register without the busy bit
    uint8_t sr2;              // status register 2 (0 in a family without one)
    uint8_t asleep;           // deep power-down: only 0xAB is answered
    uint64_t awake_at;        // after 0xAB released it, the chip answers nothing until then (tRES1)
    uint8_t busy_out;         // SST25 EBSY: while selected in AAI programming, SO shows RY/BY#
    uint8_t so_ready_busy;    // SO is RY/BY# (0 busy, 1 ready) whatever is clocked, till CS rises
    uint8_t sfdp[kSfdpBytes]; // what 0x5A reads (all 0xFF: no table, and 0x5A is not answered)
    uint8_t has_sfdp;
    uint8_t busy;       // a program or erase is running until busy_until
    uint8_t stuck_busy; // never leaves busy (power-up status had bit 0 set)
    uint64_t busy_until;
    const Timing* times[kOperationCount]; // the family's rows, set by model_init
    uint64_t random;                      // kRandom: the state of the sequence
    uint8_t id[3];        // what read identification answers: manufacturer, type, capacity
    uint8_t beyond_id;    // a frame other than read identification began since power-up
    uint8_t ewsr;         // enable-write-status was the last frame: the next may write the status
    uint32_t aai_address; // SST25: where the next auto-address-increment word goes
    // The protection register: the AT25DF's bit per 64 KiB sector, the SST26's block-protection
    // register (bit n of it in protect[n / 8], bit n % 8). Volatile: set at power-up.
    uint8_t protect[kProtectBytes];

    // The current frame.
    uint8_t cmd;
    uint8_t frame_ignored; // unknown command, or a command arriving while busy
    uint8_t shift_in;
    uint8_t bits;     // bits of the current byte clocked in
    uint32_t nbytes;  // whole bytes clocked in since chip select fell
    uint32_t address; // address bytes gathered so far
    uint8_t out;      // byte being shifted out
    uint8_t new_sr;   // byte given to write status
    uint8_t new_sr2;  // its second byte, or 0x31's
    uint8_t page[kPageSize];
};

// Resets the port and the chip to their power-up state. Keeps the memory contents, the
// configuration and the stuck bytes; the clock and the access counter restart at zero.
// Returns false if the configuration is unusable (no memory, size not a power of two or below
// the family's smallest_size, no base). Read identification answers jedec_id, or else the
// family's, whose third byte follows the size when it is the base-2 logarithm of the family's
// size.
bool model_init(Model& m);

// The family's protection register in bits (0: it has none).
uint32_t model_protect_bits(const Model& m);

// Adds a stuck byte; false when the table is full or the address is outside the chip.
bool model_add_stuck(Model& m, uint32_t address, uint8_t mask);

// A power cycle's effect on status register 2: the power-supply lock-down (SRP1 without SRP0)
// ends. Called by the owner when it powers a chip up with kept non-volatile bits.
void model_power_cycle_status2(Model& m);

// The status port's data-in bit again: SO as RY/BY# follows the busy state between accesses.
void model_refresh_miso(Model& m);

// Advances the virtual clock (a pause).
void model_advance(Model& m, uint64_t ns);

// The chip status register as read status would report it now.
uint8_t model_chip_status(Model& m);

// The data-register write of the chip lines and everything behind it.
void model_data_write(Model& m, uint8_t value);

// One port access from the processor: each costs access_ns of virtual time.
inline uint8_t model_read(Model& m, uint16_t address) {
    m.now_ns += m.access_ns;
    ++m.accesses;
    switch (static_cast<uint16_t>(address - m.base)) {
    case kDataOffset:
        return m.data;
    case kStatusOffset:
        if (m.so_ready_busy) {
            model_refresh_miso(m);
        }
        return m.status_port;
    case kControlOffset:
        return m.control;
    default:
        break;
    }
    return m.ecp && address == m.ecr_port ? m.ecr : static_cast<uint8_t>(0xFF);
}

inline void model_write(Model& m, uint16_t address, uint8_t value) {
    m.now_ns += m.access_ns;
    ++m.accesses;
    switch (static_cast<uint16_t>(address - m.base)) {
    case kDataOffset:
        if (((m.data ^ value) & 0x0F) == 0) {
            m.data = value; // no chip line changed
            return;
        }
        model_data_write(m, value);
        return;
    case kControlOffset:
        m.control = value;
        return;
    default:
        break;
    }
    if (m.ecp && address == m.ecr_port) {
        // Mode and flags as written; the FIFO stays empty (bit 0) and never full (bit 1).
        m.ecr = static_cast<uint8_t>((value & 0xFC) | 0x01);
    }
}

} // namespace simcore
