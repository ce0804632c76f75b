// The operator of a simulated programming station: boards on and off the cable, and Ctrl-C.
#include "operator.h"

#include "settings_values.h"
#include "state.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace sim::detail {

namespace {

struct Operator {
    std::vector<Board> boards;
    bool end = false;  // Ctrl-C after the last board
    size_t placed = 0; // boards put on the cable so far
    bool present = false;
    uint64_t since_ns = 0; // when the cable was left empty
    int id_polls = 0;      // pauses in a row right after a read identification
    bool worked = false;   // the program did something else with the board
    bool pressed = false;  // Ctrl-C sent
    int bounced = 0;       // pauses since the board was put on, while it bounces
    uint8_t id[3] = {};    // the board's own identification
};

Operator* g_operator = nullptr;

// The entry's values, read by parse_settings through a plain function. Made on first use: the
// simulated PC boots while the program's statics are still being made.
std::map<std::string, std::string>& entry_values() {
    static std::map<std::string, std::string> values;
    return values;
}

const char* entry_value(const char* name) {
    auto it = entry_values().find(name);
    return it != entry_values().end() ? it->second.c_str() : nullptr;
}

const char* const kFaults[] = {"noise",   "status",   "stuck",      "wp",     "id",
                               "size",    "erase_ms", "program_us", "timing", "miso",
                               "status2", "asleep",   "sfdp",       "bounce"};

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? at : at - start));
        if (at == std::string::npos) {
            return parts;
        }
        start = at + 1;
    }
}

bool known_fault(const std::string& name) {
    for (const char* f : kFaults) {
        if (name == f) {
            return true;
        }
    }
    return false;
}

// The cable left empty: data-in high, as with no chip, and nothing saved at exit.
void leave_empty(Operator& o) {
    State& s = state();
    g_hot.model.miso_mode = simcore::kMisoHigh;
    g_hot.noise_threshold = 0;
    s.settings.chip_path.clear();
    o.present = false;
    o.since_ns = g_hot.model.now_ns;
}

// A bouncing board's identification, a pause after another: the bytes that read all ones (bit n
// for byte n), the pattern starting again after its last.
const uint8_t kBounceOnes[] = {0x4, 0x4, 0x7, 0x1, 0x4, 0x4};

// What the board's identification reads now: while it bounces, the pattern's next reading.
void bounce(const Operator& o) {
    const bool bouncing = o.bounced < o.boards[o.placed - 1].bounce;
    const int step = o.bounced % static_cast<int>(sizeof kBounceOnes);
    for (int i = 0; i < 3; ++i) {
        g_hot.model.id[i] = bouncing && (kBounceOnes[step] >> i & 1) ? 0xFF : o.id[i];
    }
}

void place_board(Operator& o) {
    State& s = state();
    simcore::Model& m = g_hot.model;
    const uint64_t now = m.now_ns, accesses = m.accesses;
    const uint8_t data = m.data, control = m.control, ecr = m.ecr;
    s.settings = o.boards[o.placed++].settings;
    power_up_chip(s);
    if (!s.chip_error.empty()) {
        std::exit(3); // the reason is on standard error
    }
    // The port is as the program left it; the new chip sees its lines from now on.
    m.now_ns = now;
    m.accesses = accesses;
    m.control = control;
    m.ecr = ecr;
    simcore::model_data_write(m, data);
    o.present = true;
    o.id_polls = 0;
    o.worked = false;
    o.bounced = 0;
    for (int i = 0; i < 3; ++i) {
        o.id[i] = m.id[i];
    }
    bounce(o);
}

void take_board(Operator& o) {
    State& s = state();
    std::string error;
    ChipFile unclaimed;
    if (!save_chip_file(unclaimed, s.settings.chip_path, s.memory, error) ||
        !save_chip_state(error)) {
        std::fprintf(stderr, "lptspi-sim: %s\n", error.c_str());
        std::exit(3);
    }
    leave_empty(o);
}

} // namespace

bool plan_boards(const Settings& base, std::vector<Board>& boards, bool& end, std::string& error) {
    std::vector<std::string> entries = split(base.boards, ',');
    end = entries.size() > 1 && entries.back() == "end";
    if (end) {
        entries.pop_back();
    }
    boards.clear();
    const std::string accepted =
        "expected FAMILY[:name=value...][,FAMILY...][,end], the names noise, status, stuck, wp, "
        "id, size, erase_ms, program_us, timing, miso, status2, asleep, sfdp or bounce";
    for (const std::string& entry : entries) {
        const std::vector<std::string> parts = split(entry, ':');
        std::map<std::string, std::string>& values = entry_values();
        values.clear();
        values["LPTSPI_SIM_FLASH"] = parts[0];
        std::string last;
        bool ok = !parts[0].empty();
        for (size_t i = 1; ok && i < parts.size(); ++i) {
            const size_t eq = parts[i].find('=');
            if (eq == std::string::npos) {
                ok = !last.empty();
                values[last] += ":" + parts[i];
                continue;
            }
            const std::string name = parts[i].substr(0, eq);
            ok = known_fault(name);
            last = "LPTSPI_SIM_";
            for (char c : name) {
                last += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
            }
            values[last] = parts[i].substr(eq + 1);
        }
        if (!ok) {
            error = "LPTSPI_SIM_BOARDS=" + base.boards + ": " + entry + ": " + accepted;
            return false;
        }
        Board board;
        board.settings = base;
        std::string why;
        if (!parse_settings(entry_value, board.settings, why)) {
            error = "LPTSPI_SIM_BOARDS=" + base.boards + ": " + entry + ": " + why;
            return false;
        }
        uint64_t pauses = 0;
        if (const char* v = entry_value("LPTSPI_SIM_BOUNCE")) {
            if (!parse_number(v, pauses) || pauses > kMaxBounce) {
                error = "LPTSPI_SIM_BOARDS=" + base.boards + ": " + entry +
                        ": expected bounce=N, pauses from 0 to " + std::to_string(kMaxBounce);
                return false;
            }
        }
        board.bounce = static_cast<int>(pauses);
        board.settings.chip_path = base.chip_path + "." + std::to_string(boards.size() + 1);
        board.settings.power_cycle = true; // off the shelf: only its non-volatile bits kept
        boards.push_back(board);
    }
    if (boards.empty()) {
        error = "LPTSPI_SIM_BOARDS=" + base.boards + ": " + accepted;
        return false;
    }
    if (base.chip_path.empty()) {
        error = "LPTSPI_SIM_BOARDS needs LPTSPI_SIM_CHIP: the boards' chip files go beside it";
        return false;
    }
    return true;
}

bool start_operator(const Settings& base, std::string& error) {
    Operator o;
    if (!plan_boards(base, o.boards, o.end, error)) {
        return false;
    }
    g_operator = new Operator(o);
    leave_empty(*g_operator);
    return true;
}

void operator_pause() {
    if (g_operator == nullptr) {
        return;
    }
    Operator& o = *g_operator;
    if (o.present && o.bounced < o.boards[o.placed - 1].bounce) {
        ++o.bounced;
        bounce(o);
    }
    if (o.present) {
        // The program has done something else with the board once the chip saw another
        // command, whether or not it paused right after it.
        o.id_polls = g_hot.model.cmd == simcore::kCmdReadId ? o.id_polls + 1 : 0;
        o.worked = o.worked || g_hot.model.beyond_id != 0;
        if (o.worked && o.id_polls >= kOperatorIdPolls) {
            take_board(o);
        }
        return;
    }
    if (g_hot.model.now_ns - o.since_ns < kOperatorAbsentNs) {
        return;
    }
    if (o.placed < o.boards.size()) {
        place_board(o);
    } else if (o.end && !o.pressed) {
        o.pressed = true;
        g_signal = SIGINT; // acted on as the pause ends, as a key pressed during it
    }
}

} // namespace sim::detail
