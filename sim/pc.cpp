// Control of the simulated PC: settings, power-up, shutdown, record and trace, counters.
#include "state.h"

#include "operator.h"

#include "../driver/hwi_dispatch.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace sim {

namespace detail {

Hot g_hot;

State& state() {
    if (g_hot.state == nullptr) {
        reset(Settings{});
    }
    return *g_hot.state;
}

char hex_digit(unsigned v) {
    return "0123456789abcdef"[v & 15];
}

void observe_access(bool write, uint16_t address, uint8_t value) {
    State& s = *g_hot.state;
    if (g_hot.unkept_chip) {
        // Said once, before the run's first port access: what the run writes is lost at its
        // end, which the next run would otherwise find out by surprise.
        g_hot.unkept_chip = false;
        g_hot.observe = g_hot.recording || s.trace != nullptr;
        std::fprintf(stderr, "lptspi-sim: no LPTSPI_SIM_CHIP: the chip starts erased and is not "
                             "kept after this run (LPTSPI_SIM_CHIP=FILE keeps it)\n");
    }
    if (g_hot.recording) {
        s.record.push_back(Access{write, address, value});
    }
    if (s.trace != nullptr) {
        // "W 0378 0b" / "R 0379 bf"
        char line[10] = {write ? 'W' : 'R',
                         ' ',
                         hex_digit(address >> 12),
                         hex_digit(address >> 8),
                         hex_digit(address >> 4),
                         hex_digit(address),
                         ' ',
                         hex_digit(value >> 4),
                         hex_digit(value),
                         '\n'};
        std::fwrite(line, 1, sizeof line, s.trace);
    }
}

uint8_t noisy_status(uint8_t value) {
    // splitmix64: a fixed sequence for a given seed, so a noisy run can be repeated exactly.
    uint64_t z = (g_hot.noise_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    if ((z >> 32) >= g_hot.noise_threshold) {
        return value;
    }
    ++g_hot.noise_flips;
    return static_cast<uint8_t>(value ^ simcore::kStatusMiso);
}

void trace_sleep(unsigned long ms) {
    State& s = *g_hot.state;
    if (s.trace != nullptr) {
        std::fprintf(s.trace, "S %lu\n", ms);
    }
}

std::string canonical_path(const std::string& windows_path) {
    std::string p;
    p.reserve(windows_path.size());
    for (char c : windows_path) {
        char u = c == '/' ? '\\' : c;
        if (u >= 'a' && u <= 'z') {
            u = static_cast<char>(u - 'a' + 'A');
        }
        if (u == '\\' && !p.empty() && p.back() == '\\' && p.size() > 1) {
            continue; // collapse repeated separators (but keep a leading "\\")
        }
        p += u;
    }
    for (const char* prefix : {"\\\\?\\", "\\??\\"}) {
        if (p.rfind(prefix, 0) == 0) {
            p.erase(0, std::strlen(prefix));
        }
    }
    for (const char* root : {"\\SYSTEMROOT", "%SYSTEMROOT%", "%WINDIR%"}) {
        const size_t n = std::strlen(root);
        if (p.rfind(root, 0) == 0 && (p.size() == n || p[n] == '\\')) {
            p = "C:\\WINDOWS" + p.substr(n);
        }
    }
    while (p.size() > 3 && p.back() == '\\') {
        p.pop_back();
    }
    return p;
}

std::string upper_case(const std::string& name) {
    std::string u = name;
    for (char& c : u) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return u;
}

} // namespace detail

using namespace detail;

namespace {

const char* const kDriverFile = "C:\\WINDOWS\\SYSTEM32\\DRIVERS\\HWINTERFACE.SYS";

void print_report(const State& s) {
    // The virtual clock moves only by the access time per port access and by the pauses, so it
    // is what the same run takes on a real PC.
    const double projected = static_cast<double>(g_hot.model.now_ns) / 1e9;
    std::fprintf(stderr,
                 "lptspi-sim: port accesses: %llu\n"
                 "lptspi-sim: driver requests: %llu\n"
                 "lptspi-sim: pauses: %llu, %llu ms in all\n"
                 "lptspi-sim: projected time on real hardware: %.3f s\n",
                 static_cast<unsigned long long>(g_hot.model.accesses),
                 static_cast<unsigned long long>(g_hot.driver_requests),
                 static_cast<unsigned long long>(s.pauses),
                 static_cast<unsigned long long>(s.paused_ms), projected);
    if (g_hot.noise_threshold != 0) {
        std::fprintf(stderr, "lptspi-sim: data-in reads flipped by noise: %llu\n",
                     static_cast<unsigned long long>(g_hot.noise_flips));
    }
}

} // namespace

namespace detail {} // namespace detail

void reset(const Settings& settings) {
    if (g_hot.state == nullptr) {
        g_hot.state = new State;
    }
    State& s = *g_hot.state;
    if (s.trace != nullptr) {
        std::fclose(s.trace);
        s.trace = nullptr;
    }
    s.settings = settings;
    power_up_chip(s);

    s.record.clear();
    s.pauses = 0;
    s.paused_ms = 0;
    s.shut_down = false;
    s.handles.clear();
    s.files.clear();
    s.services.clear();
    s.service_calls.clear();
    s.kernel_calls.clear();
    s.system_directory = "C:\\WINDOWS\\system32";
    s.wow64_redirection_off = false;
    if (s.held_fd >= 0) {
        ::close(s.held_fd);
    }
    s.hold_taken = false;
    s.held_fd = -1;
    g_hot.last_ioctl = IoctlRecord{};
    g_hot.ports = hwi_ports{};
    g_hot.driver_requests = 0;
    add_directory(s, "C:\\");
    add_directory(s, "C:\\WINDOWS");
    add_directory(s, "C:\\WINDOWS\\SYSTEM32");
    add_directory(s, "C:\\WINDOWS\\SYSTEM32\\DRIVERS");
    const Driver d = settings.driver;
    if (d != Driver::missing) {
        s.files[kDriverFile].data.clear(); // the installed driver; its bytes do not matter here
    }
    if (d == Driver::running || d == Driver::stopped || d == Driver::unopenable ||
        d == Driver::disabled) {
        ServiceEntry e;
        e.info.registered = true;
        e.info.running = d != Driver::stopped && d != Driver::disabled;
        e.info.name = "hwinterface";
        e.info.display_name = "hwinterface";
        e.info.binary_path = "System32\\Drivers\\hwinterface.sys";
        e.info.type = SERVICE_KERNEL_DRIVER;
        e.info.start_type = d == Driver::disabled ? SERVICE_DISABLED : SERVICE_SYSTEM_START;
        e.info.error_control = SERVICE_ERROR_NORMAL;
        s.services["HWINTERFACE"] = e;
    }
    s.device_broken = d == Driver::unopenable;

    g_hot.recording = false;
    g_hot.last_error = 0;
    g_hot.noise_flips = 0;
    if (!settings.trace_path.empty()) {
        s.trace = std::fopen(settings.trace_path.c_str(), "w");
        if (s.trace == nullptr) {
            std::fprintf(stderr, "lptspi-sim: cannot write the trace %s: %s\n",
                         settings.trace_path.c_str(), std::strerror(errno));
        } else {
            static char buffer[1 << 16];
            std::setvbuf(s.trace, buffer, _IOFBF, sizeof buffer);
        }
    }
    g_hot.observe = s.trace != nullptr;
    g_hot.port_io_allowed = settings.platform == Platform::win9x;
}

const Settings& settings() {
    return state().settings;
}

bool shutdown() {
    State& s = state();
    if (s.shut_down) {
        return true;
    }
    s.shut_down = true;
    bool saved = true;
    const std::string& path = s.settings.chip_path;
    if (!path.empty() && !(s.chip_file.held_elsewhere && s.chip_file.path == path)) {
        std::string error;
        saved = save_chip_file(s.chip_file, path, s.memory, error) && save_chip_state(error);
        if (!saved) {
            std::fprintf(stderr, "lptspi-sim: %s\n", error.c_str());
        }
    }
    release_chip_file(s.chip_file);
    if (s.trace != nullptr) {
        if (std::fclose(s.trace) != 0) {
            std::fprintf(stderr, "lptspi-sim: cannot write the trace %s: %s\n",
                         s.settings.trace_path.c_str(), std::strerror(errno));
        }
        s.trace = nullptr;
        g_hot.observe = g_hot.recording;
    }
    if (s.settings.report) {
        print_report(s);
    }
    return saved;
}

void record(bool on) {
    State& s = state();
    g_hot.recording = on;
    g_hot.observe = on || s.trace != nullptr;
}

const std::vector<Access>& accesses() {
    return state().record;
}
void clear_accesses() {
    state().record.clear();
}

uint64_t access_count() {
    ensure_booted();
    return g_hot.model.accesses;
}
uint64_t driver_request_count() {
    ensure_booted();
    return g_hot.driver_requests;
}
uint64_t pause_count() {
    return state().pauses;
}
uint64_t paused_ms() {
    return state().paused_ms;
}
uint64_t now_ns() {
    ensure_booted();
    return g_hot.model.now_ns;
}
uint64_t noise_flips() {
    ensure_booted();
    return g_hot.noise_flips;
}

std::vector<uint8_t> chip_contents() {
    return state().memory;
}

void set_chip_contents(const std::vector<uint8_t>& bytes) {
    State& s = state();
    const size_t n = bytes.size() < s.memory.size() ? bytes.size() : s.memory.size();
    std::memcpy(s.memory.data(), bytes.data(), n);
}

uint8_t chip_status() {
    ensure_booted();
    return simcore::model_chip_status(g_hot.model);
}

uint8_t bus_read(uint16_t address) {
    ensure_booted();
    return bus_in(address);
}

void bus_write(uint16_t address, uint8_t value) {
    ensure_booted();
    bus_out(address, value);
}

void boot_from_environment() {
    Settings s;
    std::string error;
    // The names parse_settings asks for: a successful parse has asked for every setting it knows.
    static std::vector<std::string> known;
    known.clear();
    if (!parse_settings(
            [](const char* name) -> const char* {
                known.emplace_back(name);
                return std::getenv(name);
            },
            s, error)) {
        std::fprintf(stderr, "lptspi-sim: %s\n", error.c_str());
        std::exit(3);
    }
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        if (std::strncmp(*e, "LPTSPI_SIM_", 11) != 0) {
            continue;
        }
        const char* eq = std::strchr(*e, '=');
        const std::string name(*e, eq ? static_cast<size_t>(eq - *e) : std::strlen(*e));
        if (std::find(known.begin(), known.end(), name) == known.end()) {
            std::fprintf(stderr, "lptspi-sim: warning: unknown setting %s ignored\n", name.c_str());
        }
    }
    catch_signals();
    if (!s.chip_path.empty()) {
        switch (claim_chip_file(state().chip_file, s.chip_path, error)) {
        case Claim::refused:
            std::fprintf(stderr, "lptspi-sim: %s\n", error.c_str());
            std::exit(3);
        case Claim::held_elsewhere:
            s.lpt = Lpt::busy; // another run holds the port
            break;
        case Claim::ok:
            break;
        }
    }
    reset(s);
    if (!state().chip_error.empty()) {
        std::exit(3); // the reason is on standard error
    }
    // Without a chip file the first port access says that the chip is not kept (see
    // observe_access): runs that never reach the port, --help or a refused image, say nothing.
    g_hot.unkept_chip = s.chip_path.empty();
    g_hot.observe = g_hot.observe || g_hot.unkept_chip;
    if (!s.boards.empty() && !start_operator(s, error)) {
        std::fprintf(stderr, "lptspi-sim: %s\n", error.c_str());
        std::exit(3);
    }
    std::atexit([] {
        if (!shutdown()) {
            std::fflush(stdout);
            _exit(3);
        }
        if (g_signal != 0 && !hand_to_console_handler(g_signal)) {
            die_by_signal(); // noted after the tool's last port access
        }
    });
}

} // namespace sim
