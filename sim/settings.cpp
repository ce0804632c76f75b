// The simulated PC's settings: the LPTSPI_SIM_* variables, each checked as it is read.
#include "pc.h"

#include "model.h"
#include "settings_values.h"
#include "../driver/hwi_dispatch.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <sys/stat.h>

namespace sim {

using namespace detail;

namespace {

template <typename E> struct Choice {
    const char* word;
    E value;
};

// "expected a, b or c".
std::string expected_one_of(const std::vector<std::string>& words) {
    std::string text = "expected ";
    for (size_t i = 0; i < words.size(); ++i) {
        text += words[i] + (i + 2 < words.size() ? ", " : i + 1 < words.size() ? " or " : "");
    }
    return text;
}

// The choice `v` names into `out`; false with the accepted words ("expected a, b or c") in
// `accepted`.
template <typename E, size_t N>
bool pick_choice(const char* v, const Choice<E> (&choices)[N], E& out, std::string& accepted) {
    std::vector<std::string> words;
    for (size_t i = 0; i < N; ++i) {
        words.emplace_back(choices[i].word);
    }
    accepted = expected_one_of(words);
    for (size_t i = 0; i < N; ++i) {
        if (std::strcmp(v, choices[i].word) == 0) {
            out = choices[i].value;
            return true;
        }
    }
    return false;
}

template <typename E, size_t N>
bool parse_choice(const char* (*get)(const char*), const char* name, const Choice<E> (&choices)[N],
                  E& out, std::string& error) {
    const char* v = get(name);
    if (v == nullptr || *v == '\0') {
        return true;
    }
    std::string accepted;
    if (!pick_choice(v, choices, out, accepted)) {
        error = bad(name, v, accepted);
        return false;
    }
    return true;
}

// "typical", "min", "max" or "random[:seed]".
bool parse_timing(const char* (*get)(const char*), Timing& timing, uint64_t& seed,
                  std::string& error) {
    const char* name = "LPTSPI_SIM_TIMING";
    const char* v = get(name);
    if (v == nullptr || *v == '\0') {
        return true;
    }
    static const Choice<Timing> corners[] = {{"typical", Timing::typical},
                                             {"max", Timing::max},
                                             {"min", Timing::min},
                                             {"random", Timing::random}};
    const std::string text(v);
    const size_t colon = text.find(':');
    Timing t = Timing::typical;
    uint64_t n = seed;
    std::string accepted;
    bool ok = pick_choice(text.substr(0, colon).c_str(), corners, t, accepted);
    if (colon != std::string::npos) {
        ok = ok && t == Timing::random && parse_number(text.substr(colon + 1).c_str(), n);
    }
    if (!ok) {
        error = bad(name, v,
                    accepted + "[:seed] (the seed of the random times, hex with 0x or decimal)");
        return false;
    }
    timing = t;
    seed = n;
    return true;
}

bool parse_bounded(const char* (*get)(const char*), const char* name, uint64_t max, uint32_t& out,
                   std::string& error, const char* what) {
    const char* v = get(name);
    if (v == nullptr || *v == '\0') {
        return true;
    }
    uint64_t n = 0;
    if (!parse_number(v, n) || n > max) {
        error = bad(name, v, std::string("expected ") + what + " from 0 to " + std::to_string(max));
        return false;
    }
    out = static_cast<uint32_t>(n);
    return true;
}

// The settings a family may not have: a second status register, deep power-down, a parameter
// table to lie about.
bool check_family_settings(const Settings& s, std::string& error) {
    const simcore::Family* f = simcore::find_family(s.flash.c_str());
    if (f == nullptr) {
        return true;
    }
    if (s.status2_given && s.status2 != 0 && f->sr2_writable == 0) {
        error = bad("LPTSPI_SIM_STATUS2", std::to_string(s.status2).c_str(),
                    "the " + s.flash + " has no status register 2 (only 0 is accepted)");
        return false;
    }
    if (s.asleep && (f->commands & simcore::kHasDeepPowerDown) == 0) {
        error = bad("LPTSPI_SIM_ASLEEP", "1", "the " + s.flash + " has no deep power-down");
        return false;
    }
    if ((s.sfdp == Sfdp::wrong_size || s.sfdp == Sfdp::wrong_erase) && f->sfdp.major == 0) {
        error = bad("LPTSPI_SIM_SFDP", s.sfdp == Sfdp::wrong_size ? "wrong-size" : "wrong-erase",
                    "the " + s.flash + " publishes no parameter table to lie in");
        return false;
    }
    if (s.sfdp == Sfdp::wrong_erase && (f->commands & simcore::kHasErase4k) == 0) {
        error = bad("LPTSPI_SIM_SFDP", "wrong-erase", "the " + s.flash + " has no 4 KiB erase");
        return false;
    }
    return true;
}

} // namespace

bool set_flash(Settings& s, const std::string& name) {
    const simcore::Family* f = simcore::find_family(name.c_str());
    if (f == nullptr) {
        return false;
    }
    s.flash = f->name; // as the table spells it, whatever the case it was given in
    s.chip_size = f->size;
    s.status = f->power_status;
    return true;
}

uint32_t smallest_chip(const std::string& name) {
    const simcore::Family* family = simcore::find_family(name.c_str());
    return family != nullptr ? simcore::smallest_size(*family) : simcore::kPageSize;
}

std::vector<std::string> flash_names() {
    std::vector<std::string> names;
    for (int i = 0; i < simcore::kFamilyCount; ++i) {
        names.emplace_back(simcore::kFamilies[i].name);
    }
    return names;
}

bool parse_settings(const char* (*get)(const char* name), Settings& out, std::string& error) {
    Settings s = out;
    // The family first, whose size and power-up status the other settings may change; then the
    // size: the chip file and the stuck bytes are checked against it.
    if (const char* v = get("LPTSPI_SIM_FLASH"); v != nullptr && *v != '\0' && !set_flash(s, v)) {
        error = bad("LPTSPI_SIM_FLASH", v, expected_one_of(flash_names()));
        return false;
    }
    if (!parse_size(get, s.flash, s.chip_size, error) ||
        !parse_noise(get, s.noise_rate, s.noise_seed, error) ||
        !parse_timing(get, s.timing, s.timing_seed, error)) {
        return false;
    }
    if (const char* v = get("LPTSPI_SIM_CHIP"); v != nullptr && *v != '\0') {
        struct stat st {};
        if (::stat(v, &st) == 0) {
            if (S_ISDIR(st.st_mode)) {
                error = bad("LPTSPI_SIM_CHIP", v, "expected a chip file, not a directory");
                return false;
            }
            if (static_cast<uint64_t>(st.st_size) > s.chip_size) {
                error =
                    bad("LPTSPI_SIM_CHIP", v,
                        "the file holds " + std::to_string(st.st_size) + " bytes, more than the " +
                            std::to_string(s.chip_size) + "-byte chip");
                return false;
            }
        }
        s.chip_path = v;
    }
    static const Choice<Platform> platforms[] = {{"nt", Platform::nt},
                                                 {"nt64", Platform::nt64},
                                                 {"9x", Platform::win9x},
                                                 {"unknown", Platform::unknown}};
    static const Choice<Lpt> lpts[] = {
        {"free", Lpt::free}, {"busy", Lpt::busy}, {"absent", Lpt::absent}};
    static const Choice<Driver> drivers[] = {
        {"running", Driver::running},           {"stopped", Driver::stopped},
        {"unregistered", Driver::unregistered}, {"missing", Driver::missing},
        {"unopenable", Driver::unopenable},     {"disabled", Driver::disabled}};
    static const Choice<Scm> scms[] = {
        {"admin", Scm::admin}, {"user", Scm::user}, {"none", Scm::none}};
    static const Choice<bool> flags[] = {{"1", true}, {"0", false}};
    static const Choice<Miso> misos[] = {
        {"chip", Miso::chip}, {"high", Miso::high}, {"low", Miso::low}, {"lost", Miso::lost}};
    static const Choice<bool> ioctls[] = {{"ok", false}, {"fail", true}};
    static const Choice<Signing> signings[] = {{"accepted", Signing::accepted},
                                               {"test-off", Signing::test_off},
                                               {"not-trusted", Signing::not_trusted},
                                               {"secure-boot", Signing::secure_boot}};
    static const Choice<bool> wps[] = {{"high", false}, {"low", true}};
    static const Choice<bool> powers[] = {{"keep", false}, {"cycle", true}};
    static const Choice<Sfdp> sfdps[] = {{"family", Sfdp::family},
                                         {"none", Sfdp::none},
                                         {"wrong-size", Sfdp::wrong_size},
                                         {"wrong-erase", Sfdp::wrong_erase}};
    static const Choice<Hwi> hwis[] = {
        {"current", Hwi::current}, {"no-frame", Hwi::no_frame}, {"ports-only", Hwi::ports_only}};
    if (!parse_choice(get, "LPTSPI_SIM_PLATFORM", platforms, s.platform, error) ||
        !parse_choice(get, "LPTSPI_SIM_LPT", lpts, s.lpt, error) ||
        !parse_choice(get, "LPTSPI_SIM_DRIVER", drivers, s.driver, error) ||
        !parse_choice(get, "LPTSPI_SIM_SCM", scms, s.scm, error) ||
        !parse_choice(get, "LPTSPI_SIM_ECP", flags, s.ecp, error) ||
        !parse_choice(get, "LPTSPI_SIM_MISO", misos, s.miso, error) ||
        !parse_choice(get, "LPTSPI_SIM_IOCTL", ioctls, s.ioctl_fail, error) ||
        !parse_choice(get, "LPTSPI_SIM_HWI", hwis, s.hwi, error) ||
        !parse_choice(get, "LPTSPI_SIM_SIGNING", signings, s.signing, error) ||
        !parse_choice(get, "LPTSPI_SIM_WP", wps, s.wp_low, error) ||
        !parse_choice(get, "LPTSPI_SIM_POWER", powers, s.power_cycle, error) ||
        !parse_choice(get, "LPTSPI_SIM_ASLEEP", flags, s.asleep, error) ||
        !parse_choice(get, "LPTSPI_SIM_SFDP", sfdps, s.sfdp, error) ||
        !parse_port(get, s.port_lpt, s.port_base, s.ecp_block, error) ||
        !parse_choice(get, "LPTSPI_SIM_REALTIME", flags, s.realtime, error) ||
        !parse_choice(get, "LPTSPI_SIM_REPORT", flags, s.report, error)) {
        return false;
    }
    uint32_t status = s.status, status2 = s.status2;
    if (!parse_bounded(get, "LPTSPI_SIM_STATUS", 255, status, error,
                       "a status byte (hex with 0x, or decimal)") ||
        !parse_bounded(get, "LPTSPI_SIM_STATUS2", 255, status2, error,
                       "a status register 2 byte (hex with 0x, or decimal)") ||
        !parse_bounded(get, "LPTSPI_SIM_ID", 0xFFFFFF, s.jedec_id, error,
                       "the identification as 0xMMTTCC (manufacturer, type, capacity)") ||
        !parse_bounded(get, "LPTSPI_SIM_ERASE_MS", 600000, s.erase_ms, error,
                       "an erase time in milliseconds") ||
        !parse_bounded(get, "LPTSPI_SIM_PROGRAM_US", 1000000, s.program_us, error,
                       "a program time in microseconds") ||
        !parse_bounded(get, "LPTSPI_SIM_AAI_END", s.chip_size - 1, s.aai_end, error,
                       "an address inside the chip (hex with 0x, or decimal)") ||
        !parse_bounded(get, "LPTSPI_SIM_LOCK_HELD", 600000, s.lock_held_ms, error,
                       "a time in milliseconds")) {
        return false;
    }
    s.status = static_cast<uint8_t>(status);
    s.status2 = static_cast<uint8_t>(status2);
    if (const char* v = get("LPTSPI_SIM_STATUS"); v != nullptr && *v != '\0') {
        s.status_given = true;
    }
    if (const char* v = get("LPTSPI_SIM_STATUS2"); v != nullptr && *v != '\0') {
        s.status2_given = true;
    }
    if (const char* v = get("LPTSPI_SIM_ASLEEP"); v != nullptr && *v != '\0') {
        s.asleep_given = true;
    }
    if (!check_family_settings(s, error)) {
        return false;
    }
    if (const char* v = get("LPTSPI_SIM_STUCK"); v != nullptr && *v != '\0') {
        if (!parse_stuck(v, s, s.stuck, error)) {
            return false;
        }
    }
    if (const char* v = get("LPTSPI_SIM_TRACE"); v != nullptr && *v != '\0') {
        s.trace_path = v;
    }
    if (const char* v = get("LPTSPI_SIM_BOARDS"); v != nullptr && *v != '\0') {
        s.boards = v; // each entry checked by the operator against the settings above
    }
    out = s;
    return true;
}

} // namespace sim
