// The simulated PC's settings whose values have a shape of their own: a number, the chip's size,
// the noise, the stuck bytes, the port.
#include "settings_values.h"

#include "pc.h"

#include "model.h"
#include "../driver/hwi_dispatch.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace sim::detail {

bool parse_number(const char* text, uint64_t& out) {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    int base = 10;
    const char* p = text;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
        if (*p == '\0') {
            return false;
        }
    }
    uint64_t v = 0;
    for (; *p != '\0'; ++p) {
        int d;
        if (*p >= '0' && *p <= '9') {
            d = *p - '0';
        } else if (base == 16 && *p >= 'a' && *p <= 'f') {
            d = *p - 'a' + 10;
        } else if (base == 16 && *p >= 'A' && *p <= 'F') {
            d = *p - 'A' + 10;
        } else {
            return false;
        }
        if (v > (UINT64_MAX - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) {
            return false;
        }
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
    out = v;
    return true;
}

std::string bad(const char* name, const char* value, const std::string& accepted) {
    return std::string(name) + "=" + value + ": " + accepted;
}

bool parse_size(const char* (*get)(const char*), const std::string& flash, uint32_t& out,
                std::string& error) {
    const char* name = "LPTSPI_SIM_SIZE";
    const char* v = get(name);
    if (v == nullptr || *v == '\0') {
        return true;
    }
    uint64_t n = 0;
    const simcore::Family* family = simcore::find_family(flash.c_str());
    if (family != nullptr && family->protection == simcore::kProtectBlocks && parse_number(v, n) &&
        n < smallest_chip(flash)) {
        error = bad(name, v,
                    "the " + flash + "'s blocks need at least " +
                        std::to_string(smallest_chip(flash)) + " bytes");
        return false;
    }
    if (!parse_number(v, n) || n < HWI_CHIP_SIZE_MIN || n > HWI_CHIP_SIZE_MAX ||
        (n & (n - 1)) != 0) {
        error = bad(name, v,
                    "expected the chip size in bytes, a power of two from " +
                        std::to_string(HWI_CHIP_SIZE_MIN) + " (4 KiB) to " +
                        std::to_string(HWI_CHIP_SIZE_MAX) + " (16 MiB), hex with 0x or decimal");
        return false;
    }
    out = static_cast<uint32_t>(n);
    return true;
}

// "rate[:seed]": the rate a fraction from 0 to 1, the seed a number.
bool parse_noise(const char* (*get)(const char*), double& rate, uint64_t& seed,
                 std::string& error) {
    const char* name = "LPTSPI_SIM_NOISE";
    const char* v = get(name);
    if (v == nullptr || *v == '\0') {
        return true;
    }
    const std::string text(v);
    const size_t colon = text.find(':');
    const std::string rate_text = text.substr(0, colon);
    double r = -1;
    uint64_t n = seed;
    bool ok =
        !rate_text.empty() && rate_text.find_first_not_of("0123456789.eE-+") == std::string::npos;
    if (ok) {
        char* end = nullptr;
        r = std::strtod(rate_text.c_str(), &end);
        ok = end != nullptr && *end == '\0' && r >= 0 && r <= 1;
    }
    if (ok && colon != std::string::npos) {
        ok = parse_number(text.substr(colon + 1).c_str(), n);
    }
    if (!ok) {
        error = bad(name, v,
                    "expected rate[:seed], the chance from 0 to 1 that a read of the data-in "
                    "line is flipped (e.g. 0.0001) and a seed (hex with 0x, or decimal)");
        return false;
    }
    rate = r;
    seed = n;
    return true;
}

bool parse_stuck(const char* v, const Settings& s, std::vector<Stuck>& out, std::string& error) {
    const char* name = "LPTSPI_SIM_STUCK";
    const std::string accepted = "expected address:mask[,address:mask...] with each address inside "
                                 "the " +
                                 std::to_string(s.chip_size) +
                                 "-byte chip and each mask from 1 to 255 (hex with 0x, or decimal)";
    std::string text(v);
    size_t start = 0;
    std::vector<Stuck> list;
    while (true) {
        const size_t comma = text.find(',', start);
        const std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const size_t colon = item.find(':');
        uint64_t addr = 0, mask = 0;
        if (colon == std::string::npos || !parse_number(item.substr(0, colon).c_str(), addr) ||
            !parse_number(item.substr(colon + 1).c_str(), mask) || addr >= s.chip_size ||
            mask == 0 || mask > 255) {
            error = bad(name, v, accepted);
            return false;
        }
        list.push_back(Stuck{static_cast<uint32_t>(addr), static_cast<uint8_t>(mask)});
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    if (list.size() > static_cast<size_t>(simcore::kMaxStuck)) {
        error = bad(name, v,
                    "at most " + std::to_string(simcore::kMaxStuck) + " stuck bytes are supported");
        return false;
    }
    out = list;
    return true;
}

// "legacy", or "SPP[,ECP]": a card's data register and ECP block; either after "LPTn:", the
// port's name (LPT1 without it).
bool parse_port(const char* (*get)(const char*), uint8_t& lpt, uint16_t& base, uint16_t& ecp,
                std::string& error) {
    const char* name = "LPTSPI_SIM_PORT";
    const char* v = get(name);
    if (v == nullptr || *v == '\0') {
        return true;
    }
    std::string text(v);
    uint8_t number = 1;
    if (text.size() >= 5 && text.compare(0, 3, "LPT") == 0 && text[3] >= '1' && text[3] <= '9' &&
        text[4] == ':') {
        number = static_cast<uint8_t>(text[3] - '0');
        text.erase(0, 5);
    }
    const size_t comma = text.find(',');
    uint64_t spp = 0, block = 0;
    bool ok = true;
    if (text == "legacy") {
        spp = simcore::kLptBase;
        block = simcore::kLptBase + 0x400;
    } else {
        ok = parse_number(text.substr(0, comma).c_str(), spp) && spp >= 0x100 && spp <= 0xFFF8;
        if (ok && comma != std::string::npos) {
            ok = parse_number(text.substr(comma + 1).c_str(), block) && block >= 0x100 &&
                 block <= 0xFFF8 && (block + 2 < spp || block > spp + 2);
        }
    }
    if (!ok) {
        error = bad(name, v,
                    "expected [LPTn:]legacy or [LPTn:]SPP[,ECP]: the port's name, LPT1 to LPT9 "
                    "(LPT1 when left out), and a card's data register and ECP block (apart, each "
                    "from 0x100 to 0xfff8, hex with 0x or decimal), e.g. 0xD010,0xD000, "
                    "LPT3:0xD010,0xD000, or 0xD010 for a card without an ECP block");
        return false;
    }
    lpt = number;
    base = static_cast<uint16_t>(spp);
    ecp = static_cast<uint16_t>(block);
    return true;
}

} // namespace sim::detail
