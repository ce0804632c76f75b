// The simulated board's chip: powered up behind the port from its settings, its chip file and
// the state kept beside it, and that state saved while it differs from the power-up state.
#include "state.h"

#include "chip_choice.h"

#include <cstdio>
#include <cstdlib>

namespace sim::detail {

// The chip of `s.settings` put behind the port at power-up: its family, size and faults, its
// contents from the chip file and its protection from the file beside it.
void power_up_chip(State& s) {
    const Settings& settings = s.settings;
    s.memory.assign(settings.chip_size, 0xFF);

    simcore::Model& m = g_hot.model;
    m = simcore::Model{};
    m.memory = s.memory.data();
    m.access_ns = settings.access_ns;
    simcore::ChipChoice chip;
    chip.family = simcore::find_family(settings.flash.c_str());
    if (chip.family == nullptr) {
        std::fprintf(stderr, "lptspi-sim: no flash family is called %s\n", settings.flash.c_str());
        std::abort(); // parse_settings never gives one: the caller built its Settings wrongly
    }
    chip.size = settings.chip_size;
    chip.status = settings.status;
    chip.corner = settings.timing == Timing::min      ? simcore::kMinimum
                  : settings.timing == Timing::max    ? simcore::kMaximum
                  : settings.timing == Timing::random ? simcore::kRandom
                                                      : simcore::kTypical;
    chip.seed = settings.timing_seed;
    chip.program_ns = settings.program_us == kFamilyTimes
                          ? simcore::kFamilyTime
                          : static_cast<uint64_t>(settings.program_us) * 1000u;
    chip.erase_ns = settings.erase_ms == kFamilyTimes
                        ? simcore::kFamilyTime
                        : static_cast<uint64_t>(settings.erase_ms) * 1000000u;
    simcore::choose_chip(m, chip); // the settings never ask for deep power-down
    m.base = settings.port_base;
    m.ecr_port = static_cast<uint16_t>(settings.ecp_block + simcore::kEcpEcrOffset);
    m.ecp = settings.ecp && settings.ecp_block != 0 ? 1 : 0;
    m.miso_mode = settings.miso == Miso::high   ? simcore::kMisoHigh
                  : settings.miso == Miso::low  ? simcore::kMisoLow
                  : settings.miso == Miso::lost ? simcore::kMisoLost
                                                : simcore::kMisoChip;
    m.power_status2 = settings.status2;
    m.start_asleep = settings.asleep ? 1 : 0;
    m.sfdp_mode = settings.sfdp == Sfdp::none          ? simcore::kSfdpNone
                  : settings.sfdp == Sfdp::wrong_size  ? simcore::kSfdpWrongSize
                  : settings.sfdp == Sfdp::wrong_erase ? simcore::kSfdpWrongErase
                                                       : simcore::kSfdpFamily;
    m.wp_low = settings.wp_low ? 1 : 0;
    m.jedec_id = settings.jedec_id;
    m.aai_ends = settings.aai_end != kNoAddress ? 1 : 0;
    m.aai_end = settings.aai_end & ~1u;
    if (!simcore::model_init(m)) {
        // parse_settings never gives such a size: the caller built its Settings wrongly.
        std::fprintf(stderr, "lptspi-sim: chip size %u is not a power of two of at least %u\n",
                     settings.chip_size, smallest_chip(settings.flash));
        std::abort();
    }
    // The chip is as the last run on this chip file left it, as on a board that stayed powered
    // (or, powered off and on, with its non-volatile status bits), unless the settings give a
    // status.
    const bool held_elsewhere =
        s.chip_file.held_elsewhere && s.chip_file.path == settings.chip_path;
    const bool chip_here = !settings.chip_path.empty() && !held_elsewhere;
    ChipState kept;
    const bool have_kept = chip_here && load_state_file(settings.chip_path, kept) &&
                           (kept.flash.empty() || kept.flash == settings.flash);
    if (have_kept && !settings.status_given) {
        const uint8_t bits = settings.power_cycle ? m.family->nonvolatile : m.family->writable;
        m.sr = static_cast<uint8_t>((m.sr & ~bits) | (kept.status & bits));
        const size_t n = (simcore::model_protect_bits(m) + 7) / 8;
        if (!settings.power_cycle && kept.protect.size() == n) {
            for (size_t i = 0; i < n; ++i) {
                m.protect[i] = kept.protect[n - 1 - i];
            }
        }
        if (!settings.power_cycle && kept.aai && m.family->programming == simcore::kProgramByte) {
            m.sr = static_cast<uint8_t>(m.sr | simcore::kSrAai | simcore::kSrWel);
            m.aai_address = kept.aai_address & (m.size - 1) & ~1u;
        }
        if (!settings.power_cycle && kept.latch) {
            m.sr = static_cast<uint8_t>(m.sr | simcore::kSrWel);
        }
    }
    // Status register 2 is non-volatile; powered off and on, a power-supply lock-down ends.
    if (have_kept && !settings.status2_given && kept.has_status2) {
        m.sr2 = static_cast<uint8_t>(kept.status2 & m.family->sr2_writable);
        if (settings.power_cycle) {
            simcore::model_power_cycle_status2(m);
        }
    }
    // Deep power-down lasts while the board stays powered.
    if (have_kept && !settings.asleep_given && !settings.power_cycle && kept.asleep &&
        (m.family->commands & simcore::kHasDeepPowerDown) != 0) {
        m.asleep = 1;
    }
    for (const Stuck& st : settings.stuck) {
        if (!simcore::model_add_stuck(m, st.address, st.mask)) {
            std::fprintf(stderr,
                         "lptspi-sim: stuck byte at 0x%x not used (outside the chip or "
                         "too many)\n",
                         st.address);
        }
    }
    s.chip_error.clear();
    if (chip_here && !load_chip_file(s.chip_file, settings.chip_path, s.memory, s.chip_error)) {
        std::fprintf(stderr, "lptspi-sim: %s\n", s.chip_error.c_str());
    }
    // The rate as a threshold for 32-bit random numbers: 1 flips every read.
    g_hot.noise_threshold = static_cast<uint64_t>(settings.noise_rate * 4294967296.0 + 0.5);
    g_hot.noise_state = settings.noise_seed;
}

// Saves the chip's protection beside the chip file while it differs from the power-up state.
bool save_chip_state(std::string& error) {
    const simcore::Model& m = g_hot.model;
    simcore::Model powered_up = m;
    powered_up.power_status = m.family->power_status;
    powered_up.power_status2 = 0;
    powered_up.start_asleep = 0;
    simcore::model_init(powered_up);
    ChipState state;
    state.flash = m.family->name;
    state.status = static_cast<uint8_t>(m.sr & m.family->writable);
    const size_t n = (simcore::model_protect_bits(m) + 7) / 8;
    bool same = state.status == (powered_up.sr & m.family->writable);
    for (size_t i = 0; i < n; ++i) {
        state.protect.push_back(m.protect[n - 1 - i]);
        same = same && m.protect[n - 1 - i] == powered_up.protect[n - 1 - i];
    }
    // Inside an auto-address-increment program the chip takes only the next word: that too
    // stays with a powered board.
    state.aai = (m.sr & simcore::kSrAai) != 0;
    state.aai_address = m.aai_address;
    same = same && !state.aai;
    state.has_status2 = m.family->sr2_writable != 0 && m.sr2 != 0;
    state.status2 = m.sr2;
    state.asleep = m.asleep != 0;
    same = same && !state.has_status2 && !state.asleep;
    // So does a write latch that no program, erase or status write is left to clear.
    state.latch = !state.aai && !m.busy && (m.sr & simcore::kSrWel) != 0;
    same = same && !state.latch;
    return save_state_file(g_hot.state->settings.chip_path, same ? nullptr : &state, error);
}

} // namespace sim::detail
