// The adapter and the 25-series chip: the bus and its lines, frames, the status and the busy
// time. What each command does is in commands.cpp, each family's own rules in families.cpp;
// model.h says what the files keep to (freestanding).
#include "families.h"

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

} // namespace

void update_status_port(Model& m) {
    uint8_t level;
    if (m.miso_mode == kMisoHigh) {
        level = 1;
    } else if (m.miso_mode == kMisoLow) {
        level = 0;
    } else {
        level = m.held ? 1 : m.miso; // output is high impedance while held
        if (m.so_ready_busy && !m.held) {
            settle(m);
            level = m.busy ? 0 : 1; // RY/BY#: 0 busy, 1 ready
        }
    }
    m.status_port = static_cast<uint8_t>(kStatusIdle | (level ? kStatusMiso : 0));
}

void set_miso(Model& m, uint8_t level) {
    m.miso = level;
    update_status_port(m);
}

// Ends a program or erase once its time has passed; the write latch clears with it, except
// between the words of an auto-address-increment program.
void settle(Model& m) {
    if (m.busy && !m.stuck_busy && m.now_ns >= m.busy_until) {
        m.busy = 0;
        if ((m.sr & kSrAai) == 0) {
            m.sr = static_cast<uint8_t>(m.sr & ~kSrWel);
        }
    }
}

uint8_t status_now(Model& m) {
    settle(m);
    const Family& f = family(m);
    uint8_t sr = m.sr;
    if (f.protection == kProtectSectors) {
        // Bits 2-3 sum the sectors' protection up; bit 4 is the WP pin.
        bool all = true, some = false;
        for (uint32_t n = 0; n < sector_count(m); ++n) {
            all = all && protect_bit(m, n);
            some = some || protect_bit(m, n);
        }
        sr = static_cast<uint8_t>((sr & ~(kAtSwp | kAtWpp)) |
                                  (all    ? kAtSwp
                                   : some ? 0x04
                                          : 0) |
                                  (m.wp_low ? 0 : kAtWpp));
    }
    return static_cast<uint8_t>(sr | (m.busy ? f.busy_bits : 0));
}

void start_busy(Model& m, uint64_t ns) {
    m.busy = 1;
    m.busy_until = m.now_ns + ns;
    settle(m); // a zero busy time completes at once
}

// An erase begins: a chip that gives way under its current stops answering.
void start_erase(Model& m, uint64_t ns) {
    if (m.miso_mode == kMisoLost) {
        m.miso_mode = kMisoHigh;
        update_status_port(m);
    }
    start_busy(m, ns);
}

namespace {

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
    start_busy_out(m);
    m.cmd = kNoCommand;
    m.frame_ignored = 0;
    m.bits = 0;
    m.nbytes = 0;
    m.address = 0;
    m.out = 0xFF;
}

} // namespace

bool model_init(Model& m) {
    if (m.memory == nullptr || m.size == 0 || (m.size & (m.size - 1)) != 0 ||
        m.size < smallest_size(family(m)) || m.base == 0) {
        return false;
    }
    const Family& f = family(m);
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
    for (int op = 0; op < kOperationCount; ++op) {
        m.times[op] = family_timing(f, static_cast<Operation>(op));
    }
    m.random = m.seed;
    const uint32_t id = m.jedec_id != 0 ? m.jedec_id : f.jedec_id;
    m.id[0] = static_cast<uint8_t>(id >> 16);
    m.id[1] = static_cast<uint8_t>(id >> 8);
    m.id[2] = static_cast<uint8_t>(id);
    if (m.jedec_id == 0 && (f.jedec_id & 0xFF) == log2_of(f.size)) {
        m.id[2] = log2_of(m.size); // the capacity byte follows the size
    }
    // The protection register's power-up state: the AT25DF's sectors as status bits 2-3 say,
    // the SST26's write-lock bits set (its read-lock bits clear).
    fill(m.protect, kProtectBytes, 0);
    const uint32_t bits = model_protect_bits(m);
    for (uint32_t n = 0; n < bits; ++n) {
        const bool read_lock = f.protection == kProtectBlocks && n >= bits - 16 && (n & 1) != 0;
        const bool on = f.protection == kProtectBlocks ? !read_lock : (m.sr & kAtSwp) != 0;
        set_protect_bit(m, n, on);
    }
    if (f.protection == kProtectSectors) {
        m.sr = static_cast<uint8_t>(m.sr & ~(kAtSwp | kAtWpp)); // read from the sectors and the pin
    }
    m.sr2 = static_cast<uint8_t>(m.power_status2 & f.sr2_writable);
    m.asleep = m.start_asleep != 0 && (f.commands & kHasDeepPowerDown) != 0 ? 1 : 0;
    m.awake_at = 0;
    m.busy_out = 0;
    m.so_ready_busy = 0;
    build_sfdp(m);
    m.ewsr = 0;
    m.aai_address = 0;
    m.shift_in = 0;
    m.new_sr = 0;
    m.new_sr2 = 0;
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

bool sleeping(const Model& m, uint8_t cmd) {
    return m.asleep ? cmd != kCmdRelease : m.awake_at > m.now_ns;
}

void start_busy_out(Model& m) {
    m.so_ready_busy =
        m.busy_out != 0 && (m.sr & kSrAai) != 0 && (family(m).commands & kHasBusyOut) != 0 ? 1 : 0;
}

void model_refresh_miso(Model& m) {
    update_status_port(m);
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
            m.so_ready_busy = 0; // SO floats again
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
