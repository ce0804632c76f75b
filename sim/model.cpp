// The adapter and the 25-series chip. See model.h for the rules this file keeps (freestanding).
#include "model.h"

namespace simcore {

namespace {

const uint8_t kNoCommand = 0x00; // not a command this chip knows, so a frame with it does nothing

uint8_t log2_of(uint32_t size) {
    uint8_t n = 0;
    while (size > 1) {
        size >>= 1;
        ++n;
    }
    return n;
}

void update_status_port(Model& m) {
    uint8_t level;
    if (m.miso_mode == kMisoHigh) {
        level = 1;
    } else if (m.miso_mode == kMisoLow) {
        level = 0;
    } else {
        level = m.held ? 1 : m.miso; // output is high impedance while held
    }
    m.status_port = static_cast<uint8_t>(kStatusIdle | (level ? kStatusMiso : 0));
}

void set_miso(Model& m, uint8_t level) {
    m.miso = level;
    update_status_port(m);
}

// Ends a program or erase once its time has passed; the write latch clears with it.
void settle(Model& m) {
    if (m.busy && !m.stuck_busy && m.now_ns >= m.busy_until) {
        m.busy = 0;
        m.sr = static_cast<uint8_t>(m.sr & ~kSrWel);
    }
}

uint8_t status_now(Model& m) {
    settle(m);
    return static_cast<uint8_t>(m.sr | (m.busy ? kSrBusy : 0));
}

void start_busy(Model& m, uint64_t ns) {
    m.busy = 1;
    m.busy_until = m.now_ns + ns;
    settle(m); // a zero busy time completes at once
}

void fill(uint8_t* p, uint32_t n, uint8_t value) {
    for (uint32_t i = 0; i < n; ++i) {
        p[i] = value;
    }
}

// Bytes the chip shifts out during byte `n` of the frame (n whole bytes already clocked in).
uint8_t next_output(Model& m) {
    const uint32_t n = m.nbytes;
    if (m.frame_ignored || n == 0) {
        return 0xFF;
    }
    switch (m.cmd) {
    case kCmdReadStatus:
        return status_now(m);
    case kCmdRead:
        if (n >= 4) {
            return m.memory[(m.address + (n - 4)) & (m.size - 1)];
        }
        return 0xFF;
    case kCmdFastRead:
        if (n >= 5) {
            return m.memory[(m.address + (n - 5)) & (m.size - 1)];
        }
        return 0xFF;
    case kCmdReadId:
        if (n <= 3) {
            return m.id[n - 1];
        }
        return 0xFF;
    default:
        return 0xFF;
    }
}

bool takes_address(uint8_t cmd) {
    return cmd == kCmdRead || cmd == kCmdFastRead || cmd == kCmdPageProgram ||
           cmd == kCmdSectorErase;
}

bool known_command(uint8_t cmd) {
    switch (cmd) {
    case kCmdWriteStatus:
    case kCmdPageProgram:
    case kCmdRead:
    case kCmdWriteDisable:
    case kCmdReadStatus:
    case kCmdWriteEnable:
    case kCmdFastRead:
    case kCmdBulkErase:
    case kCmdBulkErase2:
    case kCmdSectorErase:
    case kCmdReadId:
        return true;
    default:
        return false;
    }
}

// A whole byte has been clocked in; m.nbytes is its index in the frame.
void byte_in(Model& m, uint8_t b) {
    const uint32_t n = m.nbytes;
    if (n == 0) {
        settle(m);
        m.cmd = b;
        m.address = 0;
        // While busy the chip answers read status only; unknown commands void the frame.
        m.frame_ignored = (!known_command(b) || (m.busy && b != kCmdReadStatus)) ? 1 : 0;
        if (!m.frame_ignored && b == kCmdPageProgram) {
            fill(m.page, kPageSize, 0xFF);
        }
        return;
    }
    if (m.frame_ignored) {
        return;
    }
    if (takes_address(m.cmd) && n <= 3) {
        m.address = ((m.address << 8) | b) & (m.size - 1);
        return;
    }
    if (m.cmd == kCmdPageProgram) {
        // The address wraps inside its page: later bytes overwrite earlier ones in the latch.
        m.page[(m.address + (n - 4)) & (kPageSize - 1)] = b;
    } else if (m.cmd == kCmdWriteStatus && n == 1) {
        m.new_sr = b;
    }
}

void commit_page(Model& m) {
    const uint32_t base = m.address & ~(kPageSize - 1);
    for (int i = 0; i < m.stuck_count; ++i) {
        const uint32_t a = m.stuck[i].address;
        if ((a & ~(kPageSize - 1)) == base) {
            m.page[a & (kPageSize - 1)] |= m.stuck[i].mask;
        }
    }
    uint8_t* p = m.memory + base;
    for (uint32_t i = 0; i < kPageSize; ++i) {
        p[i] = static_cast<uint8_t>(p[i] & m.page[i]);
    }
}

// Chip select rose: the commands that act at the end of a frame do so now, but only when a
// whole number of bytes was clocked in.
void frame_end(Model& m) {
    if (m.frame_ignored || m.bits != 0 || m.nbytes == 0) {
        return;
    }
    settle(m);
    const bool wel = (m.sr & kSrWel) != 0;
    switch (m.cmd) {
    case kCmdWriteEnable:
        m.sr = static_cast<uint8_t>(m.sr | kSrWel);
        break;
    case kCmdWriteDisable:
        m.sr = static_cast<uint8_t>(m.sr & ~kSrWel);
        break;
    case kCmdWriteStatus:
        // A locked status register (SRWD with the write-protect pin low) ignores the command.
        if (wel && m.nbytes >= 2 && !((m.sr & kSrSrwd) != 0 && m.wp_low)) {
            m.sr =
                static_cast<uint8_t>((m.sr & ~(kSrWritable | kSrWel)) | (m.new_sr & kSrWritable));
        }
        break;
    case kCmdPageProgram:
        if (wel && m.nbytes >= 5) {
            commit_page(m);
            start_busy(m, m.program_ns);
        }
        break;
    case kCmdSectorErase:
        // Any block-protect bit refuses erasing; a refused erase leaves the latch set.
        if (wel && m.nbytes >= 4 && (m.sr & kSrBp) == 0) {
            fill(m.memory + (m.address & ~(kSectorSize - 1) & (m.size - 1)),
                 m.size < kSectorSize ? m.size : kSectorSize, 0xFF);
            start_busy(m, m.erase_ns);
        }
        break;
    case kCmdBulkErase:
    case kCmdBulkErase2:
        if (wel && (m.sr & kSrBp) == 0) {
            fill(m.memory, m.size, 0xFF);
            start_busy(m, m.erase_ns);
        }
        break;
    default:
        break;
    }
}

void rising_edge(Model& m, uint8_t mosi) {
    m.shift_in = static_cast<uint8_t>((m.shift_in << 1) | mosi);
    if (++m.bits == 8) {
        m.bits = 0;
        byte_in(m, m.shift_in);
        ++m.nbytes;
    }
}

// Mode 0: the output changes after the falling edge, ready for the next rising edge.
void falling_edge(Model& m) {
    if (m.bits == 0) {
        m.out = next_output(m);
    }
    set_miso(m, static_cast<uint8_t>((m.out >> (7 - m.bits)) & 1));
}

// Chip select fell: nothing of the frame is clocked in yet.
void start_frame(Model& m) {
    m.cmd = kNoCommand;
    m.frame_ignored = 0;
    m.bits = 0;
    m.nbytes = 0;
    m.address = 0;
    m.out = 0xFF;
}

} // namespace

bool model_init(Model& m) {
    if (m.memory == nullptr || m.size == 0 || (m.size & (m.size - 1)) != 0 || m.size < kPageSize ||
        m.base == 0) {
        return false;
    }
    m.now_ns = 0;
    m.accesses = 0;
    m.data = 0;
    m.control = 0;
    m.ecr = kEcrPowerUp;
    m.held = 1; // the data register is 0 at power-up, so the always-high line is low
    m.sck = 0;
    m.selected = 0; // the chip has seen no select yet
    m.miso = 1;
    m.sr = static_cast<uint8_t>(m.power_status & ~kSrBusy);
    m.stuck_busy = (m.power_status & kSrBusy) ? 1 : 0;
    m.busy = m.stuck_busy;
    m.busy_until = 0;
    if (m.jedec_id == 0) {
        m.id[0] = kManufacturerId;
        m.id[1] = kMemoryType;
        m.id[2] = log2_of(m.size);
    } else {
        m.id[0] = static_cast<uint8_t>(m.jedec_id >> 16);
        m.id[1] = static_cast<uint8_t>(m.jedec_id >> 8);
        m.id[2] = static_cast<uint8_t>(m.jedec_id);
    }
    m.shift_in = 0;
    m.new_sr = 0;
    start_frame(m);
    m.frame_ignored = 1; // until the chip sees a select
    update_status_port(m);
    return true;
}

bool model_add_stuck(Model& m, uint32_t address, uint8_t mask) {
    if (m.stuck_count >= kMaxStuck || address >= m.size) {
        return false;
    }
    m.stuck[m.stuck_count].address = address;
    m.stuck[m.stuck_count].mask = mask;
    ++m.stuck_count;
    return true;
}

void model_advance(Model& m, uint64_t ns) {
    m.now_ns += ns;
}

uint8_t model_chip_status(Model& m) {
    return status_now(m);
}

void model_data_write(Model& m, uint8_t value) {
    m.data = value;

    // While the always-high line is low the chip sees nothing of the bus.
    if ((value & kLineHold) == 0) {
        if (!m.held) {
            m.held = 1;
            update_status_port(m);
        }
        return;
    }
    const uint8_t sck = (value & kLineSck) ? 1 : 0;
    bool clock_seen = true;
    if (m.held) {
        // Back from hold: SCK is taken as it is, with no edge; chip select is compared with
        // what the chip last saw, so a select made while held starts a frame now.
        m.held = 0;
        m.sck = sck;
        clock_seen = false;
        update_status_port(m);
    }

    const uint8_t cs_low = (value & kLineCs) ? 0 : 1;
    if (cs_low != m.selected) {
        m.selected = cs_low;
        if (cs_low) {
            settle(m);
            start_frame(m);
        } else {
            frame_end(m);
        }
        set_miso(m, 1);
    }

    if (!clock_seen || sck == m.sck) {
        return;
    }
    m.sck = sck;
    if (!m.selected) {
        return;
    }
    if (sck) {
        rising_edge(m, (value & kLineMosi) ? 1 : 0);
    } else {
        falling_edge(m);
    }
}

} // namespace simcore
