// The chip file of lptspi-sim: loaded at power-up, locked for the run as LPT1 is claimed on a
// real PC, saved whole at the end through a temporary file, and saved as well when the run is
// cut short by a signal. Internal to the simulated PC.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

namespace sim::detail {

struct ChipFile {
    std::string path;            // as configured
    std::string real_path;       // symbolic links resolved: the file a save replaces
    int fd = -1;                 // open and locked (flock) until the end of the run
    bool held_elsewhere = false; // another lptspi-sim holds it: neither loaded nor saved
};

enum class Claim { ok, held_elsewhere, refused };

// For lptspi-sim's start-up: opens `path` for reading and writing (creating an empty one if there
// is none, which reads as an erased chip), takes the lock without waiting, and checks that a save
// can replace it (a regular file, in a folder that takes new files). On `refused` a one-line
// reason is in `error` and nothing is left behind.
Claim claim_chip_file(ChipFile& f, const std::string& path, std::string& error);

// Lets go of the lock (the run is over or the PC is powered up again).
void release_chip_file(ChipFile& f);

// Fills the start of `memory` from the file at `path` (through the claimed descriptor when it is
// that file); the rest keeps its bytes. A missing file loads nothing. False with a reason in
// `error` if the file cannot be read or holds more bytes than the chip.
bool load_chip_file(const ChipFile& f, const std::string& path, std::vector<uint8_t>& memory,
                    std::string& error);

// Writes `memory` to a new file beside the chip file and renames it over the chip file, so the
// file holds the old chip or the new one, never part of either. False with a reason in `error`
// (the temporary file removed, the chip file as it was).
bool save_chip_file(const ChipFile& f, const std::string& path, const std::vector<uint8_t>& memory,
                    std::string& error);

// The chip's protection state lives beside the chip file, in "<chip file>.status", while it
// differs from the chip's power-up state: the status register's stored bits as two hex digits on
// the first line (all an older file holds), then "flash NAME", the family it belongs to, and,
// for a family with a protection register, "protect HEX", its bytes most significant first,
// while an SST25 is inside an auto-address-increment program, "aai HEX", the next word's address,
// and otherwise, while the write latch is set, "latch"; "status2 HEX", status register 2 where
// the family has one and it is not 00; "asleep 1" while the chip is in deep power-down.
struct ChipState {
    uint8_t status = 0;
    std::string flash;            // empty in an older file: it belongs to whichever family runs
    std::vector<uint8_t> protect; // empty when the file has none
    bool aai = false;             // auto-address-increment under way (no line: not)
    uint32_t aai_address = 0;
    bool has_status2 = false; // "status2 HEX": status register 2 (W25Q)
    uint8_t status2 = 0;
    bool asleep = false; // "asleep 1": in deep power-down
    bool latch = false;  // the write latch set outside such a program (no line: clear)
};
// False, `state` unchanged, when there is no such file or its first line is not a status byte.
bool load_state_file(const std::string& path, ChipState& state);
// Writes `state` there, or removes the file when `state` is null.
bool save_state_file(const std::string& path, const ChipState* state, std::string& error);

// Interruption. The handlers of SIGINT, SIGTERM and SIGHUP only note the signal; the simulated
// PC acts on it at the tool's next port access, pause or file open, which is never far off since
// the tool spends its run in port and pause loops. A program that took Ctrl-C and Ctrl-Break
// (SetConsoleCtrlHandler) is handed SIGINT as Ctrl-C and SIGTERM as Ctrl-Break, and carries on
// to end as it chooses. Otherwise acting means powering down as the hardware would: the chip
// keeps every erase and page program it accepted and nothing else, so it is saved as it is, the
// trace is flushed, the report printed if asked, and the process ends by the same signal (status
// 128 + signal). SIGPIPE is ignored, as Windows has no such signal.
extern volatile std::sig_atomic_t g_signal;
void catch_signals();
void act_on_signal();
// The program's console control handler, or null (win_console.cpp). Returns whether the program
// took the signal as a console event.
bool hand_to_console_handler(int signal);
inline void check_signal() {
    if (g_signal != 0) {
        act_on_signal();
    }
}

// Ends the process by the noted signal, its default action restored; `g_signal` must be set.
[[noreturn]] void die_by_signal();

} // namespace sim::detail
