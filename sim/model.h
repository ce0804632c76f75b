// The hardware of the simulated PC: a parallel port (on the motherboard at 0x378, or a card's
// wherever the system put it), the passive adapter and a 25-series SPI NOR flash chip behind it.
//
// This part is freestanding: no exceptions, no RTTI, no heap and nothing from the C++ library
// beyond the fixed-width integer types, because the same source is built into a kernel-mode
// driver for the Wine tests. The owner supplies the chip memory, sets the configuration, calls
// model_init() and then drives the port with model_read()/model_write(). Time comes from the
// owner as well: every port access advances now_ns by access_ns, model_advance() adds pauses.
#pragma once

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

// Chip status register.
const uint8_t kSrBusy = 0x01;
const uint8_t kSrWel = 0x02;
const uint8_t kSrBp = 0x1C;
const uint8_t kSrSrwd = 0x80;
const uint8_t kSrWritable = kSrBp | kSrSrwd; // what write status changes

// Chip commands.
const uint8_t kCmdWriteStatus = 0x01;
const uint8_t kCmdPageProgram = 0x02;
const uint8_t kCmdRead = 0x03;
const uint8_t kCmdWriteDisable = 0x04;
const uint8_t kCmdReadStatus = 0x05;
const uint8_t kCmdWriteEnable = 0x06;
const uint8_t kCmdFastRead = 0x0B;
const uint8_t kCmdBulkErase = 0xC7;
const uint8_t kCmdBulkErase2 = 0x60;
const uint8_t kCmdSectorErase = 0xD8;
const uint8_t kCmdReadId = 0x9F;

const uint8_t kManufacturerId = 0x20;
const uint8_t kMemoryType = 0x20;
const uint32_t kPageSize = 256;
const uint32_t kSectorSize = 64 * 1024;
const int kMaxStuck = 64;

enum MisoMode : uint8_t { kMisoChip = 0, kMisoHigh = 1, kMisoLow = 2 };

struct StuckByte {
    uint32_t address;
    uint8_t mask; // bits that stay 1 when programmed
};

struct Model {
    // Configuration, set by the owner before model_init().
    uint16_t base;        // data register; status at base + 1, control at base + 2
    uint16_t ecr_port;    // the ECR (kLptBase + kEcrOffset on the motherboard port)
    uint8_t* memory;      // chip contents, `size` bytes, owned by the caller
    uint32_t size;        // a power of two
    uint32_t access_ns;   // virtual cost of one port access
    uint64_t program_ns;  // page program busy time
    uint64_t erase_ns;    // sector and bulk erase busy time
    uint8_t ecp;          // 1: the port has an ECR at ecr_port
    uint8_t miso_mode;    // MisoMode
    uint8_t power_status; // chip status at power-up; bit 0 set means busy for ever
    uint32_t jedec_id;    // identification as 0xMMTTCC; 0: kManufacturerId, kMemoryType, log2(size)
    uint8_t wp_low;       // the write-protect pin held low: with SRWD set, write status is refused
    StuckByte stuck[kMaxStuck];
    int stuck_count;

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
    uint8_t sr;         // status register without the busy bit
    uint8_t busy;       // a program or erase is running until busy_until
    uint8_t stuck_busy; // never leaves busy (power-up status had bit 0 set)
    uint64_t busy_until;
    uint8_t id[3]; // what read identification answers: manufacturer, type, capacity

    // The current frame.
    uint8_t cmd;
    uint8_t frame_ignored; // unknown command, or a command arriving while busy
    uint8_t shift_in;
    uint8_t bits;     // bits of the current byte clocked in
    uint32_t nbytes;  // whole bytes clocked in since chip select fell
    uint32_t address; // address bytes gathered so far
    uint8_t out;      // byte being shifted out
    uint8_t new_sr;   // byte given to write status
    uint8_t page[kPageSize];
};

// Resets the port and the chip to their power-up state. Keeps the memory contents, the
// configuration and the stuck bytes; the clock and the access counter restart at zero.
// Returns false if the configuration is unusable (no memory, size not a power of two, no base).
bool model_init(Model& m);

// Adds a stuck byte; false when the table is full or the address is outside the chip.
bool model_add_stuck(Model& m, uint32_t address, uint8_t mask);

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
