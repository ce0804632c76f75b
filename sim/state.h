// Internal state of the simulated PC, shared by its control (pc.cpp, pc_windows.cpp) and the
// Windows API (win_*.cpp). Not for the tool or tests.
#pragma once

#include "chipfile.h"
#include "../driver/hwi_dispatch.h"
#include "model.h"
#include "pc.h"
#include "windows.h"

#include <cstdio>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

namespace sim::detail {

// A file of the host's file system (`host`) stands for one of the user's files: what the tool
// names without a drive letter, as the C runtime's calls reach them too.
enum class Kind : uint8_t { closed, file, lpt, device, manager, service, host };

struct HandleEntry {
    Kind kind = Kind::closed;
    std::string path;      // file: canonical path; lpt: device name; service: key
    DWORD access = 0;      // manager and service handles: rights granted
    DWORD share = 0;       // lpt handles
    DWORD file_access = 0; // file handles: GENERIC_READ / GENERIC_WRITE as asked
    int fd = -1;           // host handles: the open file
};

struct FileEntry {
    bool directory = false;
    std::vector<uint8_t> data;
};

struct ServiceEntry {
    Service info;
};

struct Resource {
    std::string type; // upper case, or "#<id>" for a numeric type
    uint16_t id;
    std::vector<uint8_t> bytes;
};

// Everything that is not on the hot path. Created on first use and never destroyed, so that
// the exit-time shutdown can still use it whatever order static objects are torn down in.
struct State {
    Settings settings;
    std::vector<uint8_t> memory;
    std::vector<Access> record;
    std::FILE* trace = nullptr;
    uint64_t pauses = 0;
    uint64_t paused_ms = 0;
    bool shut_down = false;
    ChipFile chip_file;         // lptspi-sim's claim on settings.chip_path
    std::string chip_error;     // why the chip file could not be loaded at the last reset
    bool device_broken = false; // Driver::unopenable

    std::vector<HandleEntry> handles;
    std::map<std::string, FileEntry> files;       // key: canonical upper-case path
    std::map<std::string, ServiceEntry> services; // key: upper-case service name
    std::vector<Resource> resources;              // survive reset(): part of the program image
    std::vector<std::string> service_calls;
    std::vector<std::string> kernel_calls;
    std::string system_directory;
    bool wow64_redirection_off = false;         // Wow64DisableWow64FsRedirection was called
    PHANDLER_ROUTINE console_handler = nullptr; // SetConsoleCtrlHandler's, the latest added
    // LPTSPI_SIM_LOCK_HELD: the other program's descriptor of the first user file the program
    // locked, holding its lock until held_until_ns on the virtual clock.
    bool hold_taken = false;
    int held_fd = -1;
    uint64_t held_until_ns = 0;
};

// The last DeviceIoControl request; plain fields so that Hot stays constant-initialised.
struct IoctlRecord {
    DWORD code;
    DWORD in_size;
    BYTE in[4];
    bool has_output;
    DWORD out_size;
    bool output_is_input;
};

// The hot path: plain data, constant-initialised (no constructor runs), so it is valid before
// any static initialiser and cheap to reach.
struct Hot {
    simcore::Model model;
    bool observe; // recording, tracing or a note due: port accesses go through observe_access()
    bool recording;
    bool unkept_chip;     // no chip file: the first port access says that the chip is not kept
    bool port_io_allowed; // _inp/_outp work only on the 95/98/Me family
    DWORD last_error;
    IoctlRecord last_ioctl;
    hwi_ports ports;          // what the simulated driver learned of the system's parallel ports
    uint64_t driver_requests; // DeviceIoControl calls that reached the driver
    uint64_t noise_threshold; // a data-in read flips when a 32-bit random number is below it
    uint64_t noise_state;
    uint64_t noise_flips;
    State* state; // null until the first reset()
};
static_assert(std::is_trivially_default_constructible<Hot>::value,
              "Hot must need no constructor: it is used before static constructors run");
extern Hot g_hot;

State& state(); // boots the default PC on first use
// Powers up the chip `s.settings` describe behind the port, as reset() does: the clock, the port
// and the virtual Windows are the caller's to keep or restart.
void power_up_chip(State& s);
// Saves the chip's protection beside settings().chip_path while it differs from its power-up
// state (see ChipState).
bool save_chip_state(std::string& error);
// Makes `path` (canonical) a folder of the virtual file system.
inline void add_directory(State& s, const std::string& path) {
    s.files[path].directory = true;
}
inline void ensure_booted() {
    if (g_hot.state == nullptr) {
        reset(Settings{});
    }
}
void observe_access(bool write, uint16_t address, uint8_t value);
void trace_sleep(unsigned long ms);

// Handles are small tagged numbers: 0x100 + 4 * index into State::handles.
inline uintptr_t handle_value(size_t index) {
    return 0x100 + 4 * static_cast<uintptr_t>(index);
}
inline bool handle_index(const void* h, size_t& index) {
    const uintptr_t v = reinterpret_cast<uintptr_t>(h);
    if (v < 0x100 || (v & 3) != 0) {
        return false;
    }
    index = (v - 0x100) / 4;
    return true;
}
// The slot a handle names (possibly closed), or null when it names none.
inline HandleEntry* find_handle(const void* h) {
    State* s = g_hot.state;
    size_t i = 0;
    if (s == nullptr || !handle_index(h, i) || i >= s->handles.size()) {
        return nullptr;
    }
    return &s->handles[i];
}
// The open handle of that kind, or null.
inline HandleEntry* find_handle(const void* h, Kind kind) {
    HandleEntry* e = find_handle(h);
    return e != nullptr && e->kind == kind ? e : nullptr;
}

// The status register as read through a noisy data-in line.
uint8_t noisy_status(uint8_t value);

// Port access from the processor, counted, and recorded or traced when asked. A noted signal
// powers the PC down before the access.
inline uint8_t bus_in(uint16_t address) {
    check_signal();
    uint8_t v = simcore::model_read(g_hot.model, address);
    if (g_hot.noise_threshold != 0 &&
        address == static_cast<uint16_t>(g_hot.model.base + simcore::kStatusOffset)) {
        v = noisy_status(v);
    }
    if (g_hot.observe) {
        observe_access(false, address, v);
    }
    return v;
}
inline void bus_out(uint16_t address, uint8_t value) {
    check_signal();
    simcore::model_write(g_hot.model, address, value);
    if (g_hot.observe) {
        observe_access(true, address, value);
    }
}

std::string canonical_path(const std::string& windows_path);
// A name (service, resource type) as compared: ASCII letters in upper case, nothing else changed.
std::string upper_case(const std::string& name);
// The lowest four bits of `v` as a lower-case hex digit, as the trace and the chip file write them.
char hex_digit(unsigned v);

} // namespace sim::detail
