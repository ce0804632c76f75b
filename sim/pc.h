// Control of the simulated PC, for lptspi-sim's start-up and for tests. The tool itself never
// includes this: it reaches the simulated PC only through the Windows API in windows.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

enum class Platform { nt, nt64, win9x, unknown };
enum class Lpt { free, busy, absent };
enum class Driver { running, stopped, unregistered, missing, unopenable, disabled };
enum class Scm { admin, user, none };
enum class Miso { chip, high, low, lost };
// What the installed hwinterface.sys knows: every request; all but the frame request; only the
// read-port and write-port requests, as its first release (which also knew no port beyond the
// legacy ones).
enum class Hwi { current, no_frame, ports_only };
// How 64-bit Windows judges the driver's signature: it loads it (test-signing on and the
// certificate trusted); test-signing is off; test-signing is on but the signature is not trusted;
// Secure Boot is on, which keeps test-signing off.
enum class Signing { accepted, test_off, not_trusted, secure_boot };

struct Stuck {
    uint32_t address;
    uint8_t mask; // bits that stay 1 when programmed
};

// Which of its datasheet times each self-timed operation of the chip takes (see simcore::Corner).
enum class Timing { typical, min, max, random };

// Which parameter table (SFDP) the chip publishes: its family's, none, or its family's with the
// density doubled or the 4 KiB erase's instruction not the family's (see simcore::SfdpMode).
enum class Sfdp { family, none, wrong_size, wrong_erase };

// A busy time of the settings that means "the flash family's own".
const uint32_t kFamilyTimes = 0xFFFFFFFFu;
// An address of the settings that means "none".
const uint32_t kNoAddress = 0xFFFFFFFFu;

struct Settings {
    std::string flash = "m25p80";     // LPTSPI_SIM_FLASH: the chip's family (see set_flash)
    bool power_cycle = false;         // LPTSPI_SIM_POWER=cycle: power the chip off and on first
    std::string chip_path;            // LPTSPI_SIM_CHIP: loaded at boot if present, saved at exit
    Platform platform = Platform::nt; // LPTSPI_SIM_PLATFORM
    bool refuse_ex_size = false;      // GetVersionExA refuses the 156-byte size (test only)
    Lpt lpt = Lpt::free;              // LPTSPI_SIM_LPT: the port's (every other LPTn is absent)
    Driver driver = Driver::running;  // LPTSPI_SIM_DRIVER
    Scm scm = Scm::admin;             // LPTSPI_SIM_SCM
    bool ecp = true;                  // LPTSPI_SIM_ECP
    uint8_t port_lpt = 1;             // LPTSPI_SIM_PORT: n of the port's name LPTn, the only one
    uint16_t port_base = 0x378;       // LPTSPI_SIM_PORT: its data register
    uint16_t ecp_block = 0x778;       // LPTSPI_SIM_PORT: its ECP block (ECR at +2), 0: none
    Hwi hwi = Hwi::current;           // LPTSPI_SIM_HWI
    uint8_t status = 0x00;            // LPTSPI_SIM_STATUS: chip status at power-up (or family's)
    bool status_given = false;        // LPTSPI_SIM_STATUS was set (else the chip file's own)
    uint8_t status2 = 0x00;           // LPTSPI_SIM_STATUS2: status register 2 as the run starts
    bool status2_given = false;       // LPTSPI_SIM_STATUS2 was set (else the chip file's own)
    bool asleep = false;              // LPTSPI_SIM_ASLEEP=1: the chip starts in deep power-down
    bool asleep_given = false;        // LPTSPI_SIM_ASLEEP was set (else the chip file's own)
    Sfdp sfdp = Sfdp::family;         // LPTSPI_SIM_SFDP
    bool wp_low = false;              // LPTSPI_SIM_WP=low: the chip's write-protect pin held low
    Signing signing = Signing::accepted; // LPTSPI_SIM_SIGNING (64-bit Windows only)
    Miso miso = Miso::chip;              // LPTSPI_SIM_MISO
    std::vector<Stuck> stuck;            // LPTSPI_SIM_STUCK
    uint32_t aai_end = kNoAddress;       // LPTSPI_SIM_AAI_END: the SST25's word sequence ends here
    bool ioctl_fail = false;             // LPTSPI_SIM_IOCTL=fail
    uint32_t erase_ms = kFamilyTimes;    // LPTSPI_SIM_ERASE_MS: every erase's busy time
    uint32_t program_us = kFamilyTimes;  // LPTSPI_SIM_PROGRAM_US: every program's busy time
    Timing timing = Timing::typical;     // LPTSPI_SIM_TIMING: the family's times at this corner
    uint64_t timing_seed = 1;            // LPTSPI_SIM_TIMING=random:seed
    uint32_t chip_size = 1u << 20;       // LPTSPI_SIM_SIZE: bytes, a power of two
    uint32_t jedec_id = 0;               // LPTSPI_SIM_ID: 0xMMTTCC; 0: the family's
    double noise_rate = 0;               // LPTSPI_SIM_NOISE: chance that a data-in read is flipped
    uint64_t noise_seed = 1;             // LPTSPI_SIM_NOISE: seed of the flips' random sequence
    uint32_t access_ns = 1000;           // virtual cost of one port access
    std::string trace_path;              // LPTSPI_SIM_TRACE
    bool realtime = false;               // LPTSPI_SIM_REALTIME: _sleep really sleeps
    bool report = false;                 // LPTSPI_SIM_REPORT: summary on standard error at exit
    std::string boards;                  // LPTSPI_SIM_BOARDS: the operator's boards (operator.h)
    uint32_t lock_held_ms = 0; // LPTSPI_SIM_LOCK_HELD: another program's hold on a file's lock
};

// Makes the chip one of the flash family `name` (in either case, e.g. "sst25vf080b" or
// "SST25VF080B"; kept as the table spells it): the family, its size and its power-up status;
// false, `s` unchanged, for a name no family has.
bool set_flash(Settings& s, const std::string& name);
// The families' names, the default first.
std::vector<std::string> flash_names();
// The smallest chip of the flash family `name` the simulated chip takes (simcore::smallest_size;
// a page for a name no family has).
uint32_t smallest_chip(const std::string& name);

// Parses the LPTSPI_SIM_* variables through `get` (getenv in the product). Returns false with a
// one-line message in `error` on the first bad value.
bool parse_settings(const char* (*get)(const char* name), Settings& out, std::string& error);

// Powers up a fresh simulated PC: port, chip (loaded from chip_path if that file exists), virtual
// Windows (file system, services, handles), clock and counters at zero, record cleared and off.
void reset(const Settings& settings);
const Settings& settings();

// Saves the chip to chip_path (if set), closes the trace and prints the report (if asked).
// Runs at most once per boot; lptspi-sim calls it at exit. Returns false if the chip could not be
// saved (the reason is on standard error and the chip file is as it was).
bool shutdown();

// Port access record.
struct Access {
    bool write;
    uint16_t address;
    uint8_t value;
    bool operator==(const Access& o) const {
        return write == o.write && address == o.address && value == o.value;
    }
};
void record(bool on); // off after reset: a whole run makes tens of millions of accesses
const std::vector<Access>& accesses();
void clear_accesses();

// Counters and the virtual clock.
uint64_t access_count();
uint64_t driver_request_count(); // DeviceIoControl calls that reached the hwinterface driver
uint64_t pause_count();          // _sleep calls
uint64_t paused_ms();            // their total
uint64_t now_ns();               // virtual time since boot: what the run takes on real hardware
uint64_t noise_flips();          // data-in reads flipped by the noise setting

// The chip and the bus, seen from outside the port.
std::vector<uint8_t> chip_contents();
void set_chip_contents(const std::vector<uint8_t>& bytes); // from address 0, rest unchanged
uint8_t chip_status();
uint8_t bus_read(uint16_t address); // as the processor's port instruction would
void bus_write(uint16_t address, uint8_t value);

// Virtual Windows state.
struct Service {
    bool registered = false;
    bool running = false;
    std::string name, display_name, binary_path;
    uint32_t type = 0, start_type = 0, error_control = 0;
};
Service service();                                 // the "hwinterface" service
bool file_exists(const std::string& windows_path); // case-insensitive, e.g. C:\WINDOWS\...
std::vector<uint8_t> file_contents(const std::string& windows_path);
void put_file(const std::string& windows_path, const std::vector<uint8_t>& bytes);
void remove_file(const std::string& windows_path);
void add_resource(const std::string& type, uint16_t id, const std::vector<uint8_t>& bytes);
void clear_resources();     // resources belong to the program image and survive reset()
int open_handles();         // CreateFileA handles (files, LPT, device) the tool holds open
int open_service_handles(); // service manager and service handles held open
int file_count();           // files (not folders) in the virtual file system

// The last DeviceIoControl request as the driver received it (code 0: none since reset).
struct IoctlCall {
    uint32_t code = 0;
    uint32_t in_size = 0;
    uint8_t in[4] = {};      // the first input bytes, as they were on entry; 0 past in_size
    bool has_output = false; // an output buffer was given
    uint32_t out_size = 0;
    bool output_is_input = false; // one block serves as input and output
};
IoctlCall last_ioctl();

// Calls to the service control manager since reset, one line each: the function, the access
// asked for as 8 hex digits where the call takes one, and the outcome, "ok", "denied" (access
// denied) or "error N" (the Windows error code in decimal). CloseServiceHandle names what it
// closed instead: "manager", "service" or "invalid".
//   "OpenSCManagerA 000f003f denied", "OpenServiceA 20000000 ok", "StartServiceA error 2",
//   "CreateServiceA 000f01ff ok", "CloseServiceHandle service"
std::vector<std::string> service_calls();

// Calls to CreateFileA, CloseHandle and GetVersionExA since reset, one line each, in the same
// style: CreateFileA with the name as passed, the access (8 hex digits), share mode (hex),
// creation disposition (decimal) and flags (hex) asked for, then the outcome; CloseHandle with
// the name of what it closed ("invalid" for anything else); GetVersionExA with the size field.
//   "CreateFileA LPT1 c0000000 0 3 0 ok", "CloseHandle LPT1", "GetVersionExA 156 error 87"
std::vector<std::string> kernel_calls();

// Changes the running PC: whether the hwinterface device can be opened (false: as with
// Driver::unopenable), and the folder GetSystemDirectoryA reports (created, with a Drivers
// folder in it).
void set_device_openable(bool openable);
void set_system_directory(const std::string& windows_path);

// Reads the LPTSPI_SIM_* settings from the environment, claims the chip file and boots; on a bad
// value or an unusable chip file prints one line to standard error and exits with status 3. A chip
// file locked by another lptspi-sim leaves LPT1 held by another process (as LPTSPI_SIM_LPT=busy)
// and the file alone. Without a chip file the run's first port access says on standard error, once,
// that the chip is not kept. Registers shutdown() to run at exit (status 3 if the chip cannot be
// saved) and the handling of SIGINT, SIGTERM and SIGHUP (see chipfile.h); ignores SIGPIPE.
void boot_from_environment();

} // namespace sim
